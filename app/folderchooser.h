// TfrmBrows: the output folder chooser of "Brows": a tree of folders only, rooted at the file
// system's root, opened at the current output folder. "Ok" takes the selected folder, except one on
// a disc or another read-only mount, which is refused with the program's message while the
// chooser stays open; "Cancel" takes none.
#pragma once

#include <QDialog>
#include <string>

class QFileSystemModel;
class QPushButton;
class QTreeView;

namespace app {

inline constexpr char kReadOnlyFolderText[] =
    "Output folder cannot be located in CD-ROM.Please select another folder.";

class TfrmBrows : public QDialog {
 public:
  // `current`: the folder selected when the chooser opens (the home folder when it is missing).
  explicit TfrmBrows(const std::string& current, QWidget* parent = nullptr);
  // The folder taken by "Ok"; "" after "Cancel".
  const std::string& Folder() const { return folder_; }
  QTreeView* Tree() const { return tree_; }
  QPushButton* OkButton() const { return ok_; }
  // Selects a folder as a click on it would (for the keyboard and tests).
  void SelectFolder(const std::string& folder);

 private:
  void Accept();

  QFileSystemModel* model_;
  QTreeView* tree_;
  QPushButton* ok_;
  std::string folder_;
};

}  // namespace app
