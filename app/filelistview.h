// TFileListView: the main window's file list on screen. It shows a batch::TFileList as a report
// view with the list's five columns, draws every row itself (tinted odd rows, the focused row's
// fill and frame, a hand-drawn check box), and runs the list's commands: adding through the open
// dialog or from paths and drops, removing, clearing, the check commands and both menus. The view
// never keeps rules of its own: each command goes to the TFileList and the view follows it.
#pragma once

#include <QString>
#include <QTreeView>
#include <string>
#include <vector>

#include "batch/filelist.h"

class QMenu;

namespace app {

// The open dialog's filter list in Qt's "Name (patterns);;…" form. Each entry's last parentheses
// hold its patterns, written so that the dialog matches either letter case; the open dialog hides
// them and shows the entry's own name.
QString AddDialogFilter();
// True for a file name whose extension is one of the media types the open dialog offers (any
// letter case). Folders added from the command line or by a drop contribute such files only.
bool IsMediaFileName(const std::string& fileName);

class TFileListView : public QTreeView {
  Q_OBJECT

 public:
  TFileListView(batch::TFileList& list, QWidget* parent = nullptr);
  ~TFileListView() override;

  // "&Add": the open dialog (several existing files), then the chosen files are added. Does
  // nothing when the media libraries cannot be loaded.
  void AddWithDialog();
  // Adds paths as "&Add" would (command line, drops); a folder among them contributes the media
  // files directly inside it, in name order. Returns the number of rows added.
  int AddPaths(const std::vector<std::string>& paths);
  void RemoveSelected();
  void ClearAll();
  void CheckAll();
  void UncheckAll();
  void ReverseCheck();
  void CheckSelected();
  void UncheckSelected();

  // Adds the Edit menu's entries ("&Crop", "&Trim", "&Video Effect && Water Mark", "&Check All",
  // "&Uncheck All", "&Reverse Check", "C&heck", "U&ncheck") to `menu`; they are enabled afresh
  // each time the menu is about to show.
  void FillEditMenu(QMenu* menu);
  // The list's popup menu (owned by the view), enabled afresh each time it opens.
  QMenu* PopupMenu();

  // The model changed outside the view (progress, end of a batch): redraw every row.
  void RowsChanged();
  // One row's texts changed.
  void RowChanged(int row);

 signals:
  void CountChanged(int rows);  // after rows were added, removed or cleared
  void CropRequested();
  void TrimRequested();
  void EffectsRequested();
  void InformationRequested();
  void StartRequested();
  void PreviewRequested(int row);  // double click on the selected row

 protected:
  void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  class TModel;

  int AddAndShow(const std::vector<std::string>& paths);
  // Selects (and scrolls to) the list's selected row in the view, or clears the view's selection.
  void ShowListSelection();
  void ListSelectionFromView();
  // The row whose check box lies under a viewport point; -1 when none.
  int CheckBoxRowAt(const QPoint& point) const;
  void ToggleCheck(int row);
  void ChecksChanged();
  void OpenPopup(const QPoint& globalPos);
  void EnablePopup();

  batch::TFileList& list_;
  TModel* model_;
  QMenu* popup_;
  struct TPopupActions {
    QAction *add, *crop, *trim, *effects, *information, *remove, *clear, *start;
  } popupActions_{};
  bool syncing_ = false;        // the view's selection is being set from the list
  bool swallowRelease_ = false;  // the press toggled a check box; its release does nothing else
};

}  // namespace app
