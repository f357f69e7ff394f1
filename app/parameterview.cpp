#include "app/parameterview.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <utility>

#include "app/drawing.h"

namespace app {

namespace {

using profiles::TParamBox;

constexpr int kEntryHeight = 18;
constexpr int kEntryTextLeft = 3;

// Where each box sits in its group: two rows of three cells, each a caption above its box.
struct TPlace {
  TParamBox box;
  int row, column;
};
constexpr TPlace kVideoPlaces[] = {
    {TParamBox::VideoSize, 0, 0}, {TParamBox::VideoEncoder, 0, 1}, {TParamBox::VideoBitRate, 0, 2},
    {TParamBox::FrameRate, 1, 0}, {TParamBox::Zoom, 1, 1},
};
constexpr TPlace kAudioPlaces[] = {
    {TParamBox::SampleRate, 0, 0}, {TParamBox::AudioEncoder, 0, 1}, {TParamBox::Channel, 0, 2},
    {TParamBox::AudioBitRate, 1, 0}, {TParamBox::Volume, 1, 1},
};

// The entries of every parameter box: the selected one filled inset and framed with black
// text, the others on white; the text 3 pixels in, on one line, vertically centred, elided.
class TEntryDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return {QStyledItemDelegate::sizeHint(option, index).width() + 2 * kEntryTextLeft,
            kEntryHeight};
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const QRect r = option.rect;
    painter->save();
    painter->fillRect(r, Qt::white);
    if (option.state & QStyle::State_Selected) DrawSelection(*painter, r);
    const bool enabled = option.state & QStyle::State_Enabled;
    painter->setPen(enabled ? QColor(Qt::black)
                            : option.palette.color(QPalette::Disabled, QPalette::Text));
    painter->setFont(option.font);
    const QRect text = r.adjusted(kEntryTextLeft, 0, -kEntryTextLeft, 0);
    painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(),
                                                    Qt::ElideRight, text.width()));
    painter->restore();
  }
};

}  // namespace

TParameterPanelView::TParameterPanelView(std::string settingsFile, std::string formatFile,
                                         QWidget* parent)
    : QWidget(parent), panel_(std::move(settingsFile), std::move(formatFile)) {
  auto* delegate = new TEntryDelegate(this);
  for (int i = 0; i < profiles::kParamBoxCount; ++i) {
    const auto box = static_cast<TParamBox>(i);
    auto* combo = new QComboBox(this);
    combo->setObjectName(QString("box%1").arg(i));
    combo->setItemDelegate(delegate);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(3);
    combo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    combo->setEnabled(false);
    if (profiles::BoxInfo(box).editable) {
      combo->setEditable(true);
      combo->setInsertPolicy(QComboBox::NoInsert);
      combo->setCompleter(nullptr);  // typed text stays as typed
      connect(combo->lineEdit(), &QLineEdit::textEdited, this, [this, box](const QString& text) {
        if (refreshing_) return;
        panel_.SetText(box, text.toStdString());
        Refresh();
      });
    }
    connect(combo, &QComboBox::activated, this, [this, box](int position) {
      if (refreshing_) return;
      panel_.Select(box, position);
      Refresh();
    });
    combo->installEventFilter(this);
    boxes_[static_cast<size_t>(i)] = combo;
  }

  default_ = new QPushButton("Default", this);
  connect(default_, &QPushButton::clicked, this, [this] {
    panel_.Default();
    Refresh();
  });

  // The audio group's third column holds the channel box, whose words are the longest entries;
  // "Default" takes the free cell below it.
  auto makeGroup = [this](const char* title, const auto& places, std::array<int, 3> stretch) {
    auto* group = new QGroupBox(title, this);
    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(8, 2, 8, 6);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(1);
    for (const TPlace& place : places) {
      auto* caption = new QLabel(profiles::BoxInfo(place.box).caption, group);
      caption->setBuddy(Box(place.box));
      grid->addWidget(caption, place.row * 2, place.column);
      grid->addWidget(Box(place.box), place.row * 2 + 1, place.column);
    }
    for (int column = 0; column < 3; ++column) grid->setColumnStretch(column, stretch[column]);
    return group;
  };
  QGroupBox* audio = makeGroup("Audio Options", kAudioPlaces, {2, 2, 3});
  static_cast<QGridLayout*>(audio->layout())->addWidget(default_, 3, 2, Qt::AlignRight);

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 0, 4, 2);
  layout->setSpacing(6);
  layout->addWidget(makeGroup("Video Options", kVideoPlaces, {1, 1, 1}), 1);
  layout->addWidget(audio, 1);
}

QComboBox* TParameterPanelView::Box(TParamBox box) {
  return boxes_[static_cast<size_t>(box)];
}

void TParameterPanelView::Load(int code) {
  panel_.Load(code);
  Refresh();
}

void TParameterPanelView::CommitFrameSize() {
  panel_.Leave(TParamBox::VideoSize);
  Refresh();
}

void TParameterPanelView::Refresh() {
  refreshing_ = true;
  for (int i = 0; i < profiles::kParamBoxCount; ++i) RefreshBox(static_cast<TParamBox>(i));
  refreshing_ = false;
}

// Fills a box from the model's state. Entries are replaced only when they changed and the text
// only when it differs, so the caret stays where the user is typing.
void TParameterPanelView::RefreshBox(TParamBox box) {
  const profiles::TParamBoxState& state = panel_.Box(box);
  QComboBox* combo = Box(box);
  const QSignalBlocker blocker(combo);
  QStringList entries;
  for (const std::string& entry : state.entries) entries << QString::fromStdString(entry);
  bool same = combo->count() == entries.size();
  for (int i = 0; same && i < combo->count(); ++i) same = combo->itemText(i) == entries[i];
  if (!same) {
    combo->clear();
    combo->addItems(entries);
  }
  combo->setMaxVisibleItems(std::max(1, static_cast<int>(entries.size())));
  // The drop-down may be wider than the box, so that every entry can be read in full.
  if (!same) combo->view()->setMinimumWidth(combo->view()->sizeHintForColumn(0) + 4);
  combo->setEnabled(state.enabled);
  if (combo->currentIndex() != state.itemIndex) combo->setCurrentIndex(state.itemIndex);
  if (combo->isEditable()) {
    const QString text = QString::fromStdString(state.text);
    if (combo->lineEdit()->text() != text) combo->lineEdit()->setText(text);
  }
}

int TParameterPanelView::IndexOf(QObject* object) const {
  for (int i = 0; i < profiles::kParamBoxCount; ++i)
    if (boxes_[static_cast<size_t>(i)] == object) return i;
  return -1;
}

// Character keys typed into an editable box go to the model's key filter first; a refused key
// goes no further. Navigation and editing keys (arrows, Delete, Tab, Enter) and shortcuts are no
// typed characters and pass. The frame size box leaving the focus runs its leave handler, except
// when the focus only goes to its own drop-down or to another window (a message box).
bool TParameterPanelView::eventFilter(QObject* watched, QEvent* event) {
  const int index = IndexOf(watched);
  if (index < 0 || refreshing_) return QWidget::eventFilter(watched, event);
  const auto box = static_cast<TParamBox>(index);
  if (event->type() == QEvent::KeyPress && profiles::BoxInfo(box).editable) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
      return false;
    char32_t typed = 0;
    if (key->key() == Qt::Key_Backspace) {
      typed = profiles::kBackspace;
    } else {
      const QList<uint> text = key->text().toUcs4();
      if (text.isEmpty() || text.front() < 0x20 || text.front() == 0x7f) return false;
      typed = text.front();
    }
    if (panel_.KeyAccepted(box, typed)) return false;
    Refresh();
    return true;
  }
  if (event->type() == QEvent::FocusOut && box == TParamBox::VideoSize && !leaving_) {
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason ||
        Box(box)->view()->isVisible())
      return false;
    leaving_ = true;
    CommitFrameSize();
    leaving_ = false;
  }
  return false;
}

}  // namespace app
