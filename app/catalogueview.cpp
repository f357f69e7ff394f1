#include "app/catalogueview.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QCursor>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <algorithm>
#include <utility>

#include "app/drawing.h"
#include "profiles/catalogue.h"
#include "profiles/settings.h"

namespace app {

namespace {

using profiles::kLineHeight;

// Where the parts of a line are drawn, from the line's left edge.
constexpr int kExpanderLeft = 1;
constexpr int kIconLeft = 20;
constexpr int kIconSize = 20;
constexpr int kHeaderTextLeft = 45;
constexpr int kProfileTextLeft = 25;
constexpr int kTextTop = 2;

const QColor kLineBackground(246, 247, 248);
const QColor kProfileText(0, 0, 128);

// The list's lines as a Qt model: one row per line of the format list, reset whenever the
// lines change (a toggle inserts or removes a whole group at once).
class TLineModel : public QAbstractListModel {
 public:
  explicit TLineModel(const profiles::TFormatList& lines, QObject* parent)
      : QAbstractListModel(parent), lines_(lines) {}
  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : lines_.Count();
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole || index.row() < 0 || index.row() >= lines_.Count()) return {};
    return QString::fromStdString(lines_.Items()[static_cast<size_t>(index.row())].caption);
  }
  void Reset() {
    beginResetModel();
    endResetModel();
  }

 private:
  const profiles::TFormatList& lines_;
};

// The expander glyph: a small triangle pointing right (collapsed) or down (expanded), in a
// 16×16 cell.
void DrawExpander(QPainter& painter, const QRect& cell, bool collapsed) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(90, 96, 110));
  const QPointF c = QRectF(cell).center();
  QPolygonF triangle;
  if (collapsed)
    triangle << QPointF(c.x() - 2.5, c.y() - 4.5) << QPointF(c.x() + 2.5, c.y())
             << QPointF(c.x() - 2.5, c.y() + 4.5);
  else
    triangle << QPointF(c.x() - 4.5, c.y() - 2.5) << QPointF(c.x() + 4.5, c.y() - 2.5)
             << QPointF(c.x(), c.y() + 2.5);
  painter.drawPolygon(triangle);
  painter.restore();
}

// Paints the lines: the selected one filled and framed, headers bold with their expander and
// group icon, profiles in navy.
class TLineDelegate : public QStyledItemDelegate {
 public:
  TLineDelegate(const profiles::TFormatList& lines, QObject* parent)
      : QStyledItemDelegate(parent), lines_(lines) {}

  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
    return {100, kLineHeight};
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const int row = index.row();
    if (row < 0 || row >= lines_.Count()) return;
    const profiles::TItemInfo& item = lines_.Items()[static_cast<size_t>(row)];
    const QRect r = option.rect;
    const bool selected = row == lines_.ItemIndex();
    painter->save();
    painter->fillRect(r, kLineBackground);
    if (selected) DrawSelection(*painter, r);
    QFont font = option.font;
    font.setBold(item.isGroup);
    painter->setFont(font);
    const int textHeight = r.height() - kTextTop;
    if (item.isGroup) {
      DrawExpander(*painter, QRect(r.left() + kExpanderLeft, r.top() + 2, 16, 16), item.collapsed);
      DrawGroupIcon(*painter, QRect(r.left() + kIconLeft, r.top(), kIconSize, kIconSize),
                    item.code);
      painter->setPen(Qt::black);
      const QRect text(r.left() + kHeaderTextLeft, r.top() + kTextTop,
                       r.width() - kHeaderTextLeft - 2, textHeight);
      painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                        QFontMetrics(font).elidedText(QString::fromStdString(item.caption),
                                                      Qt::ElideRight, text.width()));
    } else {
      painter->setPen(selected ? QColor(Qt::black) : kProfileText);
      const QRect text(r.left() + kProfileTextLeft, r.top() + kTextTop,
                       r.width() - kProfileTextLeft - 2, textHeight);
      painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                        QFontMetrics(font).elidedText(QString::fromStdString(item.caption),
                                                      Qt::ElideRight, text.width()));
    }
    painter->restore();
  }

 private:
  const profiles::TFormatList& lines_;
};

}  // namespace

// The drop-up list: draws the format list's lines and forwards presses, double clicks, pointer
// moves and keys to it through the box. Qt's own selection is not used; the format list's
// ItemIndex is the selection.
class TCatalogueListView : public QListView {
 public:
  explicit TCatalogueListView(TCatalogueBox& owner)
      : owner_(owner),
        model_(new TLineModel(owner.lines_, this)),
        delegate_(new TLineDelegate(owner.lines_, this)) {
    setModel(model_);
    setItemDelegate(delegate_);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setMouseTracking(true);
    setFrameShape(QFrame::Box);
    setFocusPolicy(Qt::StrongFocus);
    QPalette p = palette();
    p.setColor(QPalette::Base, kLineBackground);
    setPalette(p);
    setAutoFillBackground(true);
    hide();
  }

  void LinesChanged() { model_->Reset(); }
  void Redraw() { viewport()->update(); }

  // The middle of line `row` in global coordinates, after scrolling it into view.
  QPoint LineCentre(int row) {
    const QModelIndex index = model_->index(row);
    scrollTo(index);
    return viewport()->mapToGlobal(visualRect(index).center());
  }

  void ScrollToSelection() {
    const int row = owner_.lines_.ItemIndex();
    if (row >= 0) scrollTo(model_->index(row));
  }

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid()) return;
    const int x = event->position().toPoint().x() - visualRect(index).left();
    owner_.AfterPress(owner_.lines_.Press(index.row(), x));
  }

  // The second press of a double click is a press as well (a header's expander toggles once
  // more), then the double click itself toggles a header wherever it is clicked.
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid()) return;
    const int x = event->position().toPoint().x() - visualRect(index).left();
    const profiles::TPressResult press = owner_.lines_.Press(index.row(), x);
    if (press.kind == profiles::TPressResult::Selected) {
      owner_.AfterPress(press);
      return;
    }
    if (press.kind == profiles::TPressResult::Toggled) LinesChanged();
    owner_.AfterPress(owner_.lines_.DoubleClick(index.row()));
    if (press.kind == profiles::TPressResult::Toggled) owner_.Place();
  }

  void mouseReleaseEvent(QMouseEvent*) override {}

  // The line under the pointer becomes the selected one.
  void mouseMoveEvent(QMouseEvent* event) override {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid() || index.row() == owner_.lines_.ItemIndex()) return;
    owner_.lines_.SetItemIndex(index.row());
    Redraw();
  }

  // Up and Down move the selection, Enter or Space works the selected line (a header toggles,
  // a profile is chosen), Escape closes the list.
  void keyPressEvent(QKeyEvent* event) override {
    profiles::TFormatList& lines = owner_.lines_;
    const int row = lines.ItemIndex();
    switch (event->key()) {
      case Qt::Key_Up:
      case Qt::Key_Down: {
        const int step = event->key() == Qt::Key_Up ? -1 : 1;
        const int next = row < 0 ? 0 : std::clamp(row + step, 0, lines.Count() - 1);
        lines.SetItemIndex(next);
        ScrollToSelection();
        Redraw();
        return;
      }
      case Qt::Key_Return:
      case Qt::Key_Enter:
      case Qt::Key_Space:
        if (row < 0) return;
        if (lines.Items()[static_cast<size_t>(row)].isGroup)
          owner_.AfterPress(lines.DoubleClick(row));
        else
          owner_.AfterPress(lines.Press(row, kProfileTextLeft));
        return;
      case Qt::Key_Escape:
        owner_.HideList();
        owner_.box_->setFocus();
        return;
      default:
        QListView::keyPressEvent(event);
    }
  }

 private:
  TCatalogueBox& owner_;
  TLineModel* model_;        // owned by the view
  TLineDelegate* delegate_;  // owned by the view
};

TCatalogueBox::TCatalogueBox(std::string settingsFile, QWidget* parent)
    : QWidget(parent), settingsFile_(std::move(settingsFile)), lines_(settingsFile_) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  box_ = new QLineEdit(this);
  box_->setReadOnly(true);  // a read-only line edit draws no caret
  box_->setContextMenuPolicy(Qt::NoContextMenu);
  box_->installEventFilter(this);
  button_ = new QToolButton(this);
  button_->setArrowType(Qt::UpArrow);
  button_->setFocusPolicy(Qt::NoFocus);
  button_->setFixedWidth(18);
  button_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
  layout->addWidget(box_, 1);
  layout->addWidget(button_);
  connect(button_, &QToolButton::pressed, this, [this] { Toggle(false); });
  list_ = new TCatalogueListView(*this);
  // Presses on the other controls and the application losing the focus close the list.
  qApp->installEventFilter(this);
}

TCatalogueBox::~TCatalogueBox() {
  qApp->removeEventFilter(this);
  if (watchedWindow_) watchedWindow_->removeEventFilter(this);
  delete list_.data();  // it may live in the top-level window, which can outlive the box
}

void TCatalogueBox::Build() {
  HideList();
  lines_.Build();
  box_->setText(QString::fromStdString(profiles::TSettings(settingsFile_).FormatName()));
  box_->setCursorPosition(0);
  if (!list_) return;
  list_->LinesChanged();
  list_->resize(width(), profiles::BuiltListHeight(lines_.Count()));
}

void TCatalogueBox::SaveCollapsed() { lines_.SaveCollapsed(); }

bool TCatalogueBox::ListShown() const { return list_ && list_->isVisible(); }

QString TCatalogueBox::Text() const { return box_->text(); }

QWidget* TCatalogueBox::List() { return list_; }

void TCatalogueBox::ShowList() {
  if (!list_) return;
  box_->setText(QString::fromStdString(profiles::TSettings(settingsFile_).FormatName()));
  box_->setCursorPosition(0);
  lines_.SelectText(box_->text().toStdString());
  Place();
  list_->show();
  list_->raise();
  list_->setFocus(Qt::PopupFocusReason);
  list_->ScrollToSelection();
  list_->Redraw();
}

void TCatalogueBox::HideList() {
  if (!ListShown()) return;
  const bool hadFocus = list_->hasFocus();
  list_->hide();
  if (hadFocus) box_->setFocus(Qt::PopupFocusReason);
}

void TCatalogueBox::Toggle(bool movePointer) {
  if (ListShown()) {
    HideList();
    return;
  }
  ShowList();
  const int row = lines_.ItemIndex();
  if (movePointer && row >= 0) QCursor::setPos(list_->LineCentre(row));
}

// The list goes into the top-level window directly above the box, as wide as box and button,
// with the height of a shown list. When the window has no room above the box but room below,
// it opens below instead; with room on neither side it takes the room above and scrolls.
void TCatalogueBox::Place() {
  if (!list_) return;
  QWidget* win = window();
  if (win != watchedWindow_) {
    if (watchedWindow_) watchedWindow_->removeEventFilter(this);
    watchedWindow_ = win;
    if (win != this) win->installEventFilter(this);
  }
  if (win != this && list_->parentWidget() != win) {
    const bool shown = list_->isVisible();
    list_->setParent(win);
    if (shown) list_->show();
  }
  const int height = profiles::ShownListHeight(lines_.Count());
  const QPoint top = win == this ? QPoint(0, 0) : mapTo(win, QPoint(0, 0));
  const int below = win->height() - (top.y() + this->height());
  QRect r(top.x(), top.y() - height, width(), height);
  if (r.top() < 0) {
    if (below >= height)
      r.moveTop(top.y() + this->height());
    else
      r = QRect(top.x(), 0, width(), std::max(top.y(), kLineHeight * 3));
  }
  list_->setGeometry(r);
  list_->raise();
}

void TCatalogueBox::AfterPress(const profiles::TPressResult& result) {
  switch (result.kind) {
    case profiles::TPressResult::None:
      return;
    case profiles::TPressResult::Toggled:
      list_->LinesChanged();
      Place();
      list_->Redraw();
      return;
    case profiles::TPressResult::Selected: {
      const QString caption = QString::fromStdString(result.caption);
      box_->setText(caption);
      box_->setCursorPosition(0);
      HideList();
      emit ProfileChanged(result.code, caption);
      return;
    }
  }
}

bool TCatalogueBox::InsideOwnControls(QObject* object) const {
  auto* widget = qobject_cast<QWidget*>(object);
  if (!widget) return false;
  return widget == this || isAncestorOf(widget) || widget == list_ || list_->isAncestorOf(widget);
}

bool TCatalogueBox::eventFilter(QObject* watched, QEvent* event) {
  if (!list_) return false;
  if (watched == box_) {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) Toggle(true);
        return true;
      case QEvent::MouseButtonDblClick:
        // The first click of the double click already toggled; the double click leaves the
        // list shown and the pointer where it is.
        if (!ListShown()) ShowList();
        return true;
      case QEvent::MouseMove:
      case QEvent::MouseButtonRelease:
        return true;  // no text selection by dragging in the box
      case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Down || key->key() == Qt::Key_Up ||
            key->key() == Qt::Key_F4 || key->key() == Qt::Key_Space) {
          if (!ListShown()) ShowList();
          return true;
        }
        return false;
      }
      default:
        return false;
    }
  }
  if (watched == watchedWindow_ && event->type() == QEvent::Resize) {
    if (ListShown()) Place();
    return false;
  }
  if (!ListShown()) return false;
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::NonClientAreaMouseButtonPress:
      if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
          watched->isWidgetType() && !InsideOwnControls(watched))
        HideList();
      break;
    case QEvent::ApplicationDeactivate:
      HideList();
      break;
    default:
      break;
  }
  return false;
}

}  // namespace app
