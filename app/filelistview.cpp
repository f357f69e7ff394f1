#include "app/filelistview.h"

#include <QAbstractTableModel>
#include <QContextMenuEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QSet>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QUrl>
#include <algorithm>

#include "app/drawing.h"
#include "app/filechooser.h"
#include "app/skins.h"
#include "media/ffloader.h"

namespace app {

namespace {

// The open dialog's filter list: pairs of name and patterns, all separated by "|".
constexpr char kFilter[] =
    "All Supported Video Formats|*.AVI;*.AVM;*.ASF;*.WMV;*.AVS;*.FLV;*.MKV;*.MOV;*.3GP;*.3G2;*.M4V;"
    "*.MP4;*.MPG;*.MPEG;*.DAT;*.OGM;*.VOB;*.RM;*.RMVB;*.TS;*.TP;*.IFO;*.NSV;*.SWF;|"
    "All Supported Audio Formats|*.MP3;*.AAC;*.WAV;*.WMA;*.OGG;*.CDA;*.FLAC;*.M4A;*.MID;*.MKA;*.MP2;"
    "*.MPA;*.MPC;*.APE;*.OFR;*.OGG;*.RA;*.WV;*.TTA;*.AC3;*.DTS;|"
    "AVI files (*.avi)|*.avi|MPEG4 files (*.mp4)|*.mp4|MPEG files (*.mpg,*.mpeg)|*.mpg;*.mpeg|"
    "3GP files (*.3gp,*.3g2)|*.3gp;*.3g2|Itunes Video files (*.m4v)|*.m4v|"
    "Windows Media files (*.wmv,*.asf)|*.wmv;*.asf|Real Media files (*.rm,*.rmvb)|*.rm;*.rmvb|"
    "Video CD files (*.dat)|*.dat|Quick Time files (*.mov)|*.mov|Flash Video files (*.flv)|*.flv|"
    "Matroska Video files (*.mkv)|*.mkv|MJPEG Video files (*.mjpg,*.mjpeg)|*.mjpg;*.mjpeg|"
    "Animated GIF files (*.gif)|*.gif|H.264/MPEG4 AVC Video files (*.mts,*.m2ts)|*.mts;*.m2ts|"
    "DVD video object files (*.vob)|*.vob|MPEG-1 Video files (*.mpv)|*.mpv|"
    "Video Transport Stream files (*.ts)|*.ts|TP Video files (*.tp)|*.tp|"
    "Maceomeida Flash files (*.swf)|*.swf|MP3 Audio files (*.mp3)|*.mp3|"
    "Advanced Audio Coding files (*.aac)|*.aac|Monkey's Audio files (*.ape)|*.ape|"
    "Ogg Vorbis Audio files (*.ogg)|*.ogg|Windows Media Audio files (*.wma)|*.wma|"
    "MusePack Audio files (*.mpc)|*.mpc|MPEG Audio files (*.mpa)|*.mpa|"
    "MPEG-4 Audio files (*.m4a)|*.m4a|Matroska Audio files (*.mka)|*.mka|"
    "DTS Audio files (*.dts)|*.dts|Audio Codec 3 files (*.ac3)|*.ac3|"
    "Speex Audio files (*.spx)|*.spx|Real Audio files (*.ra,*.ram)|*.ra;*.ram|"
    "MPEG Layer II Compressed Audio files (*.mp2)|*.mp2|All files (*.*)|*.*";

struct TFilterEntry {
  QString name;
  QStringList extensions;  // lower case; empty for "all files"
};

const std::vector<TFilterEntry>& FilterEntries() {
  static const std::vector<TFilterEntry> entries = [] {
    std::vector<TFilterEntry> list;
    const QStringList parts = QString::fromUtf8(kFilter).split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
      TFilterEntry entry{parts[i], {}};
      for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString extension = pattern.mid(2).toLower();  // after "*."
        if (extension != QLatin1String("*") && !entry.extensions.contains(extension))
          entry.extensions.push_back(extension);
      }
      list.push_back(std::move(entry));
    }
    return list;
  }();
  return entries;
}

// "*.avi" as a pattern that matches either letter case: "*.[aA][vV][iI]". The file dialog
// compares names case-sensitively on this system.
QString AnyCasePattern(const QString& extension) {
  QString pattern = QStringLiteral("*.");
  for (QChar c : extension) {
    if (c.isLetter())
      pattern += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
    else
      pattern += c;
  }
  return pattern;
}

// Width of the check box's place at the start of the first column; that column's text follows it.
constexpr int kCheckBoxArea = 16;
// Texts keep this distance from their column's edges.
constexpr int kTextInset = 3;

// The focused row takes the selection colours of the other owner-drawn lists; unfocused, paler ones.
const QColor kIdleFocusFill(229, 236, 248), kIdleFocusFrame(152, 181, 226);

// Gives every row the height of a line of text with a little room, and at least the check box's.
class TRowHeight : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
    return QSize(0, std::max(16, option.fontMetrics.height() + 2));
  }
};

}  // namespace

QString AddDialogFilter() {
  QStringList filters;
  for (const TFilterEntry& entry : FilterEntries()) {
    QStringList patterns;
    for (const QString& extension : entry.extensions) patterns << AnyCasePattern(extension);
    if (patterns.isEmpty()) patterns << QStringLiteral("*");
    filters << entry.name + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                   QLatin1Char(')');
  }
  return filters.join(QStringLiteral(";;"));
}

bool IsMediaFileName(const std::string& fileName) {
  static const QSet<QString> extensions = [] {
    QSet<QString> set;
    for (const TFilterEntry& entry : FilterEntries())
      for (const QString& extension : entry.extensions) set.insert(extension);
    return set;
  }();
  return extensions.contains(QFileInfo(QString::fromStdString(fileName)).suffix().toLower());
}

// The list's rows as the view sees them. The count shown changes only through the calls below,
// so the view is told before it sees a row that is gone or after a row has arrived.
class TFileListView::TModel : public QAbstractTableModel {
 public:
  explicit TModel(batch::TFileList& list, QObject* parent)
      : QAbstractTableModel(parent), list_(list), shown_(list.RowCount()) {}

  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : shown_; }
  int columnCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : batch::kColumnCount;
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= list_.RowCount()) return {};
    const batch::TFileRow& row = list_.Row(index.row());
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
      return QString::fromStdString(row.ColumnText(index.column()));
    if (role == Qt::CheckStateRole && index.column() == 0)
      return row.Checked ? Qt::Checked : Qt::Unchecked;
    return {};
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || section < 0 || section >= batch::kColumnCount) return {};
    if (role == Qt::DisplayRole) return QString::fromLatin1(batch::kColumns[section].Caption);
    return {};
  }
  Qt::ItemFlags flags(const QModelIndex& index) const override {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
  }

  // Rows were appended to the list.
  void Appended() {
    const int count = list_.RowCount();
    if (count <= shown_) return;
    beginInsertRows({}, shown_, count - 1);
    shown_ = count;
    endInsertRows();
  }
  // `remove` takes row `row` out of the list.
  template <typename F>
  void Removing(int row, F&& remove) {
    beginRemoveRows({}, row, row);
    remove();
    shown_ = list_.RowCount();
    endRemoveRows();
  }
  template <typename F>
  void Resetting(F&& change) {
    beginResetModel();
    change();
    shown_ = list_.RowCount();
    endResetModel();
  }
  void RowChanged(int row) {
    if (row >= 0 && row < shown_) emit dataChanged(index(row, 0), index(row, columnCount({}) - 1));
  }
  // Any change made outside the view: a new row count means a fresh start.
  void Refresh() {
    if (shown_ != list_.RowCount()) {
      Resetting([] {});
    } else if (shown_ > 0) {
      emit dataChanged(index(0, 0), index(shown_ - 1, columnCount({}) - 1));
    }
  }

 private:
  batch::TFileList& list_;
  int shown_;
};

TFileListView::TFileListView(batch::TFileList& list, QWidget* parent)
    : QTreeView(parent), list_(list), model_(new TModel(list, this)), popup_(new QMenu(this)) {
  setModel(model_);
  setItemDelegate(new TRowHeight(this));
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setTextElideMode(Qt::ElideRight);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  // Files and folders dropped from a file manager are added.
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setDragDropMode(QAbstractItemView::DropOnly);
  setDropIndicatorShown(false);

  QHeaderView* head = header();
  head->setStretchLastSection(false);
  head->setSectionsMovable(false);
  head->setSectionsClickable(false);
  head->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  for (int c = 0; c < batch::kColumnCount; ++c) head->resizeSection(c, batch::kColumns[c].Width);

  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { ListSelectionFromView(); });

  popupActions_.add = popup_->addAction(QStringLiteral("Add"), this, [this] { AddWithDialog(); });
  popup_->addSeparator();
  popupActions_.crop = popup_->addAction(QStringLiteral("&Crop"), this, [this] { emit CropRequested(); });
  popupActions_.trim = popup_->addAction(QStringLiteral("&Trim"), this, [this] { emit TrimRequested(); });
  popupActions_.effects = popup_->addAction(QString::fromLatin1(batch::kEffectsMenuCaption), this,
                                            [this] { emit EffectsRequested(); });
  popupActions_.information = popup_->addAction(QStringLiteral("Video Infomation"), this,
                                                [this] { emit InformationRequested(); });
  popup_->addSeparator();
  popupActions_.remove = popup_->addAction(QStringLiteral("Remove"), this, [this] { RemoveSelected(); });
  popupActions_.clear = popup_->addAction(QStringLiteral("Clear"), this, [this] { ClearAll(); });
  popup_->addSeparator();
  popupActions_.start = popup_->addAction(QStringLiteral("Start"), this, [this] { emit StartRequested(); });
  connect(popup_, &QMenu::aboutToShow, this, [this] { EnablePopup(); });
}

TFileListView::~TFileListView() = default;

void TFileListView::AddWithDialog() {
  // AddFiles loads the media libraries before anything else and adds nothing for no paths;
  // asking it first keeps the dialog closed when they cannot be loaded.
  if (!media::FFLoader().Loaded(media::EngineLibraries)) list_.AddFiles({});
  if (!media::FFLoader().Loaded(media::EngineLibraries)) return;
  const std::vector<std::string> paths =
      FileChooser().OpenFiles(this, QStringLiteral("Open"), AddDialogFilter());
  if (!paths.empty()) AddAndShow(paths);
}

int TFileListView::AddPaths(const std::vector<std::string>& paths) {
  std::vector<std::string> files;
  for (const std::string& path : paths) {
    const QFileInfo info(QString::fromStdString(path));
    if (!info.isDir()) {
      files.push_back(path);
      continue;
    }
    const QFileInfoList entries =
        QDir(info.absoluteFilePath())
            .entryInfoList(QDir::Files, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    for (const QFileInfo& entry : entries) {
      const std::string file = entry.absoluteFilePath().toStdString();
      if (IsMediaFileName(file)) files.push_back(file);
    }
  }
  return files.empty() ? 0 : AddAndShow(files);
}

int TFileListView::AddAndShow(const std::vector<std::string>& paths) {
  const int added = list_.AddFiles(paths);
  model_->Appended();
  ShowListSelection();
  viewport()->update();
  if (added > 0) emit CountChanged(list_.RowCount());
  return added;
}

void TFileListView::RemoveSelected() {
  const int row = list_.Selected();
  if (row < 0) return;
  // The selection model moves its selection away from a row being removed; the list decides
  // which row is selected afterwards.
  syncing_ = true;
  model_->Removing(row, [this] { list_.RemoveSelected(); });
  syncing_ = false;
  ShowListSelection();
  emit CountChanged(list_.RowCount());
}

void TFileListView::ClearAll() {
  if (list_.Empty()) return;
  syncing_ = true;
  model_->Resetting([this] { list_.Clear(); });
  syncing_ = false;
  ShowListSelection();
  emit CountChanged(0);
}

void TFileListView::CheckAll() {
  list_.CheckAll();
  ChecksChanged();
}

void TFileListView::UncheckAll() {
  list_.UncheckAll();
  ChecksChanged();
}

void TFileListView::ReverseCheck() {
  list_.ReverseCheck();
  ChecksChanged();
}

void TFileListView::CheckSelected() {
  list_.CheckSelected();
  model_->RowChanged(list_.Selected());
}

void TFileListView::UncheckSelected() {
  list_.UncheckSelected();
  model_->RowChanged(list_.Selected());
}

void TFileListView::ChecksChanged() { model_->Refresh(); }

void TFileListView::ToggleCheck(int row) {
  batch::TFileRow& fileRow = list_.Row(row);
  fileRow.Checked = !fileRow.Checked;
  model_->RowChanged(row);
}

void TFileListView::RowsChanged() {
  syncing_ = true;
  model_->Refresh();
  syncing_ = false;
  ShowListSelection();
  viewport()->update();
}

void TFileListView::RowChanged(int row) { model_->RowChanged(row); }

void TFileListView::FillEditMenu(QMenu* menu) {
  QAction* crop = menu->addAction(QStringLiteral("&Crop"), this, [this] { emit CropRequested(); });
  QAction* trim = menu->addAction(QStringLiteral("&Trim"), this, [this] { emit TrimRequested(); });
  QAction* effects = menu->addAction(QString::fromLatin1(batch::kEffectsMenuCaption), this,
                                     [this] { emit EffectsRequested(); });
  menu->addSeparator();
  QAction* checkAll = menu->addAction(QStringLiteral("&Check All"), this, [this] { CheckAll(); });
  QAction* uncheckAll =
      menu->addAction(QStringLiteral("&Uncheck All"), this, [this] { UncheckAll(); });
  QAction* reverse =
      menu->addAction(QStringLiteral("&Reverse Check"), this, [this] { ReverseCheck(); });
  QAction* check = menu->addAction(QStringLiteral("C&heck"), this, [this] { CheckSelected(); });
  QAction* uncheck =
      menu->addAction(QStringLiteral("U&ncheck"), this, [this] { UncheckSelected(); });
  connect(menu, &QMenu::aboutToShow, this, [=, this] {
    const batch::TEditMenuState state = batch::EditMenuState(list_);
    crop->setEnabled(state.Crop);
    trim->setEnabled(state.Trim);
    effects->setEnabled(state.Effects);
    checkAll->setEnabled(state.CheckAll);
    uncheckAll->setEnabled(state.UncheckAll);
    reverse->setEnabled(state.ReverseCheck);
    check->setEnabled(state.Check);
    uncheck->setEnabled(state.Uncheck);
  });
}

QMenu* TFileListView::PopupMenu() { return popup_; }

void TFileListView::EnablePopup() {
  const batch::TPopupMenuState state = batch::PopupMenuState(list_);
  const TPopupActions& a = popupActions_;
  a.add->setEnabled(state.Add);
  a.crop->setEnabled(state.Crop);
  a.trim->setEnabled(state.Trim);
  a.effects->setEnabled(state.Effects);
  a.information->setEnabled(state.VideoInformation);
  a.remove->setEnabled(state.Remove);
  a.clear->setEnabled(state.Clear);
  a.start->setEnabled(state.Start);
}

void TFileListView::OpenPopup(const QPoint& globalPos) { popup_->popup(globalPos); }

void TFileListView::ShowListSelection() {
  syncing_ = true;
  const int row = list_.Selected();
  if (row >= 0 && row < model_->rowCount({})) {
    const QModelIndex index = model_->index(row, 0);
    selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(index);
  } else {
    selectionModel()->clear();
  }
  syncing_ = false;
  viewport()->update();
}

void TFileListView::ListSelectionFromView() {
  if (syncing_) return;
  const QModelIndexList rows = selectionModel()->selectedRows();
  list_.Select(rows.isEmpty() ? -1 : rows.first().row());
  viewport()->update();
}

int TFileListView::CheckBoxRowAt(const QPoint& point) const {
  const QModelIndex index = indexAt(point);
  if (!index.isValid()) return -1;
  const int left = header()->sectionViewportPosition(0);
  return point.x() >= left && point.x() < left + kCheckBoxArea ? index.row() : -1;
}

void TFileListView::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
  const int row = index.row();
  if (row < 0 || row >= list_.RowCount()) return;
  const batch::TFileRow& fileRow = list_.Row(row);
  const int top = option.rect.top(), height = option.rect.height();
  const int left = header()->sectionViewportPosition(0);
  const int right = std::max(left + header()->length(), viewport()->width());
  const QRect rowRect(left, top, right - left, height);

  painter->save();
  painter->setRenderHint(QPainter::Antialiasing, false);
  painter->fillRect(rowRect, row % 2 == 0 ? QColor(Qt::white) : OddRowTint(AppliedSkin()));
  // The selected row carries the focus mark: a fill one pixel inside the row's ends, framed.
  if (row == list_.Selected()) {
    const bool focused = hasFocus();
    const QRect fill = rowRect.adjusted(1, 0, -1, 0);
    painter->fillRect(fill, focused ? kSelectionFill : kIdleFocusFill);
    painter->setPen(QPen(focused ? kSelectionFrame : kIdleFocusFrame, 1));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(fill.adjusted(0, 0, -1, -1));
  }

  // The check box: a square of 2-pixel black lines from 2 to 14 pixels right of the row's left
  // edge, 2 pixels inside its height, with a tick when checked.
  const QRect box(left + 2, top + 2, 12, height - 4);
  painter->fillRect(QRect(box.left(), box.top(), box.width(), 2), Qt::black);
  painter->fillRect(QRect(box.left(), box.bottom() - 1, box.width(), 2), Qt::black);
  painter->fillRect(QRect(box.left(), box.top(), 2, box.height()), Qt::black);
  painter->fillRect(QRect(box.right() - 1, box.top(), 2, box.height()), Qt::black);
  if (fileRow.Checked) {
    // Two one-pixel strokes side by side: a bold tick that keeps its shape at this size.
    painter->setPen(QPen(Qt::black, 1));
    for (int dx : {0, 1}) {
      const QPoint tick[] = {
          {left + 4 + dx, top + 6}, {left + 6 + dx, top + 11}, {left + 11 + dx, top + 5}};
      painter->drawPolyline(tick, 3);
    }
  }

  // Each column's text on one line, inside its column, cut short with an ellipsis.
  painter->setPen(palette().color(QPalette::Text));
  painter->setFont(font());
  const QFontMetrics metrics(font());
  for (int c = 0; c < batch::kColumnCount; ++c) {
    QRect cell(header()->sectionViewportPosition(c), top, header()->sectionSize(c), height);
    if (c == 0) cell.setLeft(cell.left() + kCheckBoxArea);
    cell.adjust(kTextInset, 0, -kTextInset, 0);
    if (cell.width() <= 0) continue;
    const QString text = metrics.elidedText(QString::fromStdString(fileRow.ColumnText(c)),
                                            Qt::ElideRight, cell.width());
    painter->drawText(cell, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
  }
  painter->restore();
}

void TFileListView::mousePressEvent(QMouseEvent* event) {
  swallowRelease_ = false;
  if (event->button() == Qt::LeftButton) {
    const int row = CheckBoxRowAt(event->position().toPoint());
    if (row >= 0) {
      // A click on the box toggles it and leaves the selection alone.
      ToggleCheck(row);
      swallowRelease_ = true;
      event->accept();
      return;
    }
  }
  QTreeView::mousePressEvent(event);
  if (event->button() == Qt::RightButton) OpenPopup(event->globalPosition().toPoint());
}

void TFileListView::mouseReleaseEvent(QMouseEvent* event) {
  if (swallowRelease_) {
    swallowRelease_ = false;
    event->accept();
    return;
  }
  QTreeView::mouseReleaseEvent(event);
}

void TFileListView::mouseDoubleClickEvent(QMouseEvent* event) {
  // A double click's second press arrives as this event: on the box it is a second toggle.
  const int box = CheckBoxRowAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton && box >= 0) {
    ToggleCheck(box);
    swallowRelease_ = true;
    event->accept();
    return;
  }
  QTreeView::mouseDoubleClickEvent(event);
  const QModelIndex index = indexAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton && index.isValid() && index.row() == list_.Selected())
    emit PreviewRequested(index.row());
}

void TFileListView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
    if (list_.Selected() >= 0) ToggleCheck(list_.Selected());
    event->accept();
    return;
  }
  QTreeView::keyPressEvent(event);
}

void TFileListView::contextMenuEvent(QContextMenuEvent* event) {
  // The mouse opens the popup on the right button's press; the menu key opens it at the
  // selected row.
  if (event->reason() == QContextMenuEvent::Keyboard) {
    QPoint at = viewport()->rect().center();
    if (list_.Selected() >= 0) at = visualRect(model_->index(list_.Selected(), 0)).bottomLeft();
    OpenPopup(viewport()->mapToGlobal(at));
  }
  event->accept();
}

void TFileListView::focusInEvent(QFocusEvent* event) {
  QTreeView::focusInEvent(event);
  viewport()->update();
}

void TFileListView::focusOutEvent(QFocusEvent* event) {
  QTreeView::focusOutEvent(event);
  viewport()->update();
}

namespace {

std::vector<std::string> LocalPaths(const QMimeData* data) {
  std::vector<std::string> paths;
  if (!data || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
  return paths;
}

}  // namespace

void TFileListView::dragEnterEvent(QDragEnterEvent* event) {
  if (LocalPaths(event->mimeData()).empty()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
}

void TFileListView::dragMoveEvent(QDragMoveEvent* event) {
  if (LocalPaths(event->mimeData()).empty()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
}

void TFileListView::dropEvent(QDropEvent* event) {
  const std::vector<std::string> paths = LocalPaths(event->mimeData());
  if (paths.empty()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  // Probing takes a while; the file manager gets its answer first.
  QMetaObject::invokeMethod(this, [this, paths] { AddPaths(paths); }, Qt::QueuedConnection);
}

}  // namespace app
