// TfrmMain: the main window. It owns the global object, the engine component, the file list and
// the batch controller, and shows them: the menus and buttons, the file list, the place of the
// preview with its volume and mute, the parameter panel, the "Output Format:" catalogue box, the
// output folder with "Brows" and "Open", the progress window of a batch, the themes, the About box
// and the program's log. Closing asks first, then stops any batch and stores the catalogue's state.
#pragma once

#include <QMainWindow>
#include <memory>
#include <string>
#include <vector>

#include "batch/batchcontroller.h"
#include "batch/filelist.h"
#include "engine/zuzezaviv.h"
#include "profiles/globalobject.h"

class QAction;
class QCheckBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QSlider;

namespace app {

class TCatalogueBox;
class TFileListView;
class TParameterPanelView;
class TfrmAbout;
class TfrmLog;
class TfrmProgress;

inline constexpr char kExitQuestion[] = "Do you really want to exit?";
inline constexpr char kExitTitle[] = "Warning";
inline constexpr int kMainWidth = 786;
inline constexpr int kMainHeight = 522;

class TfrmMain : public QMainWindow, private batch::IBatchView {
 public:
  // Creates the window as the program starts it: the global object (its settings and format file
  // in the settings folder, unless `settingsFile` / `formatFile` name others), the application
  // title, the stored theme, and the media libraries (a failure goes to the log).
  explicit TfrmMain(const std::string& settingsFile = "", const std::string& formatFile = "",
                    QWidget* parent = nullptr);
  ~TfrmMain() override;

  // Adds files as "&Add" would, once the window shows (the files named on the command line).
  void AddFilesWhenShown(std::vector<std::string> paths);
  // "&Start": converts the checked rows with the progress window shown until the batch ends; then
  // names the files that could not be converted, with their reasons.
  void StartBatch();

  const profiles::TGlobalObject& Global() const { return global_; }
  batch::TFileList& Files() { return list_; }
  batch::TBatchController& Controller() { return *controller_; }
  TFileListView* FileListView() const { return fileView_; }
  TCatalogueBox* Catalogue() const { return catalogue_; }
  TParameterPanelView* Parameters() const { return parameters_; }
  TfrmProgress* Progress() const { return progress_; }
  TfrmLog* Log() const { return log_; }
  QLineEdit* OutputFolderBox() const { return outputFolder_; }
  QPushButton* AddButton() const { return addButton_; }
  QPushButton* RemoveButton() const { return removeButton_; }
  QPushButton* ClearButton() const { return clearButton_; }
  QPushButton* StartButton() const { return startButton_; }
  QPushButton* BrowsButton() const { return browsButton_; }
  QSlider* VolumeBar() const { return volume_; }
  QCheckBox* MuteBox() const { return mute_; }
  QMenu* SkinMenu() const { return skinMenu_; }
  QMenu* EditMenu() const { return editMenu_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenus();
  QWidget* BuildPreviewPlace();
  void FirstShow();
  void ChooseSkin(int index);
  void Brows();
  void UpdateListButtons();
  void OpenPage(const std::string& page);
  void ShowAbout();

  // The batch controller's view of the windows.
  void CommitFrameSize() override;
  void SetMainButtonsEnabled(bool enabled) override;
  void ShowProgressWindow() override;
  void CloseProgressWindow() override;
  void ShowProgress(const batch::TProgressValues& values) override;
  void SetFileBar(int percent) override;
  void RowChanged(int row) override;
  void RowEnded(int row, batch::TRowOutcome outcome, const std::string& message) override;
  bool OpenFolderAfterConversion() override;
  bool ShutDownAfterConversion() override;

  profiles::TGlobalObject global_;
  engine::TZUzezaVIV engine_;
  batch::TFileList list_;
  std::unique_ptr<batch::TBatchController> controller_;
  bool shown_ = false;
  bool closing_ = false;
  bool buttonsEnabled_ = true;  // false while a batch runs
  std::vector<std::string> pendingFiles_;

  TFileListView* fileView_ = nullptr;
  TCatalogueBox* catalogue_ = nullptr;
  TParameterPanelView* parameters_ = nullptr;
  TfrmProgress* progress_ = nullptr;
  TfrmLog* log_ = nullptr;
  TfrmAbout* about_ = nullptr;
  QLineEdit* outputFolder_ = nullptr;
  QPushButton *addButton_ = nullptr, *removeButton_ = nullptr, *clearButton_ = nullptr,
              *startButton_ = nullptr, *browsButton_ = nullptr, *openButton_ = nullptr;
  QAction *addAction_ = nullptr, *removeAction_ = nullptr, *clearAction_ = nullptr,
          *startAction_ = nullptr;
  QSlider* volume_ = nullptr;
  QCheckBox* mute_ = nullptr;
  QMenu* editMenu_ = nullptr;
  QMenu* skinMenu_ = nullptr;
  int menuSkin_ = -1;  // the "&Skin" entry ticked when the menu last opened
};

}  // namespace app
