#include "app/mainwindow.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

#include "app/aboutbox.h"
#include "app/application.h"
#include "app/artwork.h"
#include "app/catalogueview.h"
#include "app/filechooser.h"
#include "app/filelistview.h"
#include "app/logwindow.h"
#include "app/parameterview.h"
#include "app/progresswindow.h"
#include "app/skins.h"
#include "media/fflogger.h"
#include "platform/desktop.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "profiles/settings.h"

namespace app {
namespace {

profiles::TGlobalObject MakeGlobal(const std::string& settingsFile,
                                   const std::string& formatFile) {
  profiles::TGlobalObject global;
  global.Fill();
  global.SetSettingsFile(settingsFile);
  global.SetFormatFile(formatFile);
  return global;
}

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

TfrmMain::TfrmMain(const std::string& settingsFile, const std::string& formatFile,
                   QWidget* parent)
    : QMainWindow(parent),
      global_(MakeGlobal(settingsFile, formatFile)),
      list_(engine_, global_.SettingsFile(), global_.FormatFile()),
      log_(new TfrmLog(this)) {
  SetApplicationTitle(global_.ProductTitle());
  setWindowTitle(Q(global_.ProductTitle() + global_.VersionText()));
  setWindowIcon(ProgramIcon());
  const profiles::TSettings settings(global_.SettingsFile());
  ApplySkin(settings.ThemeSkinIndex());

  // The log shows the libraries' and the engine's warnings and errors.
  media::TFFLogger& logger = media::GetLogger();
  logger.SetLogLevel(media::llWarning);
  logger.OnLog = [this](media::TFFBaseComponent*, uint32_t, media::TLogLevel,
                        const std::string& message) { log_->Add(message); };
  if (!engine_.LoadAVLib(platform::ExecutableFolder() + "/LibAV")) log_->Add(engine_.LastErrMsg);
  logger.InstallLogCallback();

  controller_ = std::make_unique<batch::TBatchController>(
      engine_, list_, static_cast<batch::IBatchView&>(*this), global_.SettingsFile(), global_.FormatFile());

  // Buttons above the list.
  auto* central = new QWidget(this);
  addButton_ = new QPushButton(QStringLiteral("&Add"), central);
  removeButton_ = new QPushButton(QStringLiteral("&Remove"), central);
  clearButton_ = new QPushButton(QStringLiteral("&Clear"), central);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {addButton_, removeButton_, clearButton_}) {
    button->setMinimumWidth(80);
    buttons->addWidget(button);
  }
  buttons->addStretch();

  // The list beside the preview's place.
  fileView_ = new TFileListView(list_, central);
  auto* middle = new QHBoxLayout;
  middle->addWidget(fileView_, 1);
  middle->addWidget(BuildPreviewPlace());

  parameters_ = new TParameterPanelView(global_.SettingsFile(), global_.FormatFile(), central);

  // "Output Format:" and the output folder, with Start beside them.
  catalogue_ = new TCatalogueBox(global_.SettingsFile(), central);
  outputFolder_ = new QLineEdit(central);
  outputFolder_->setReadOnly(true);
  browsButton_ = new QPushButton(QStringLiteral("Brows"), central);
  openButton_ = new QPushButton(QStringLiteral("Open"), central);
  startButton_ = new QPushButton(QStringLiteral("&Start"), central);
  startButton_->setMinimumSize(96, 48);
  QFont startFont = startButton_->font();
  startFont.setBold(true);
  startFont.setPointSize(startFont.pointSize() + 2);
  startButton_->setFont(startFont);
  auto* bottom = new QGridLayout;
  bottom->addWidget(new QLabel(QStringLiteral("Output Format:"), central), 0, 0);
  bottom->addWidget(catalogue_, 0, 1, 1, 3);
  bottom->addWidget(new QLabel(QStringLiteral("Output Folder:"), central), 1, 0);
  bottom->addWidget(outputFolder_, 1, 1);
  bottom->addWidget(browsButton_, 1, 2);
  bottom->addWidget(openButton_, 1, 3);
  bottom->addWidget(startButton_, 0, 4, 2, 1);
  bottom->setColumnStretch(1, 1);

  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(6, 4, 6, 6);
  layout->setSpacing(4);
  layout->addLayout(buttons);
  layout->addLayout(middle, 1);
  layout->addWidget(parameters_);
  layout->addLayout(bottom);
  setCentralWidget(central);

  progress_ = new TfrmProgress(global_.SettingsFile(), this);
  progress_->SetPreviewSource([this]() -> const media::TBitmap& {
    return controller_->PreviewBitmap();
  });
  progress_->OnPause = [this] { controller_->Pause(); };
  progress_->OnResume = [this] { controller_->Resume(); };
  progress_->OnCancel = [this] { controller_->Stop(); };

  BuildMenus();

  connect(addButton_, &QPushButton::clicked, fileView_, &TFileListView::AddWithDialog);
  connect(removeButton_, &QPushButton::clicked, fileView_, &TFileListView::RemoveSelected);
  connect(clearButton_, &QPushButton::clicked, fileView_, &TFileListView::ClearAll);
  connect(startButton_, &QPushButton::clicked, this, &TfrmMain::StartBatch);
  connect(fileView_, &TFileListView::StartRequested, this, &TfrmMain::StartBatch);
  connect(fileView_, &TFileListView::CountChanged, this, &TfrmMain::UpdateListButtons);
  connect(catalogue_, &TCatalogueBox::ProfileChanged, this,
          [this](int code, const QString&) { parameters_->Load(code); });
  connect(outputFolder_, &QLineEdit::textChanged, this, [this](const QString& folder) {
    profiles::TSettings(global_.SettingsFile()).SetOutPutDir(folder.toStdString());
  });
  connect(browsButton_, &QPushButton::clicked, this, &TfrmMain::Brows);
  connect(openButton_, &QPushButton::clicked, this,
          [this] { batch::OpenOutputFolder(global_.SettingsFile()); });
  UpdateListButtons();
}

TfrmMain::~TfrmMain() {
  media::GetLogger().OnLog = nullptr;
  if (controller_) controller_->Close();
}

QWidget* TfrmMain::BuildPreviewPlace() {
  auto* place = new QWidget(this);
  place->setFixedWidth(262);
  // The picture area of the preview player.
  auto* screen = new QFrame(place);
  screen->setObjectName(QStringLiteral("previewScreen"));
  screen->setFrameShape(QFrame::StyledPanel);
  screen->setFrameShadow(QFrame::Sunken);
  screen->setAutoFillBackground(true);
  QPalette black = screen->palette();
  black.setColor(QPalette::Window, Qt::black);
  screen->setPalette(black);
  volume_ = new QSlider(Qt::Horizontal, place);
  volume_->setRange(0, profiles::kMaxVolume);
  volume_->setToolTip(QStringLiteral("Volume"));
  mute_ = new QCheckBox(QStringLiteral("Mute"), place);
  auto* controls = new QHBoxLayout;
  controls->addWidget(new QLabel(QStringLiteral("Volume:"), place));
  controls->addWidget(volume_, 1);
  controls->addWidget(mute_);
  auto* layout = new QVBoxLayout(place);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(screen, 1);
  layout->addLayout(controls);
  connect(volume_, &QSlider::valueChanged, this, [this](int value) {
    if (shown_) profiles::TSettings(global_.SettingsFile()).SetVolume(value);
  });
  connect(mute_, &QCheckBox::toggled, this, [this](bool on) {
    if (shown_) profiles::TSettings(global_.SettingsFile()).SetMute(on);
  });
  return place;
}

void TfrmMain::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  addAction_ = file->addAction(QStringLiteral("&Add"), fileView_, &TFileListView::AddWithDialog);
  addAction_->setShortcut(QKeySequence::Open);
  removeAction_ =
      file->addAction(QStringLiteral("&Remove"), fileView_, &TFileListView::RemoveSelected);
  clearAction_ = file->addAction(QStringLiteral("&Clear"), fileView_, &TFileListView::ClearAll);
  file->addSeparator();
  startAction_ = file->addAction(QStringLiteral("&Start"), this, &TfrmMain::StartBatch);
  file->addSeparator();
  QAction* quit = file->addAction(QStringLiteral("E&xit"), this, &QWidget::close);
  quit->setShortcut(QKeySequence::Quit);

  editMenu_ = menuBar()->addMenu(QStringLiteral("&Edit"));
  fileView_->FillEditMenu(editMenu_);

  QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
  // The preferences dialog joins with the editing dialogs.
  tools->addAction(QStringLiteral("&Preference"))->setEnabled(false);
  skinMenu_ = tools->addMenu(QStringLiteral("&Skin"));
  for (int i = 0; i < kSkinCount; ++i) {
    QAction* entry = skinMenu_->addAction(SkinName(i));
    entry->setCheckable(true);
    connect(entry, &QAction::triggered, this, [this, i] { ChooseSkin(i); });
  }
  connect(skinMenu_, &QMenu::aboutToShow, this, [this] {
    menuSkin_ = profiles::TSettings(global_.SettingsFile()).MenuSkinIndex();
    const QList<QAction*> entries = skinMenu_->actions();
    for (int i = 0; i < entries.size(); ++i) entries[i]->setChecked(i == menuSkin_);
  });

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->addAction(QStringLiteral("&Help"), this, [this] { OpenPage(global_.HelpPage()); });
  help->addAction(QStringLiteral("&Web Site"), this, [this] { OpenPage(global_.WebPage()); });
  help->addAction(QStringLiteral("&Support and Contact"), this,
                  [this] { OpenPage(profiles::kSupportPageUrl); });
  help->addAction(QStringLiteral("Show &Log"), this, [this] {
    log_->show();
    log_->raise();
  });
  help->addSeparator();
  help->addAction(QStringLiteral("&About"), this, &TfrmMain::ShowAbout);
}

void TfrmMain::OpenPage(const std::string& page) { platform::Desktop().OpenDefault(page); }

void TfrmMain::ShowAbout() {
  if (!about_)
    about_ = new TfrmAbout(global_.ProductTitle() + global_.VersionText(), global_.WebPage(), this);
  about_->exec();
}

void TfrmMain::ChooseSkin(int index) {
  const QList<QAction*> entries = skinMenu_->actions();
  if (index == menuSkin_) {
    // The ticked entry: nothing changes (the click must not untick it).
    entries[index]->setChecked(true);
    return;
  }
  hide();
  ApplySkin(index);
  for (int i = 0; i < entries.size(); ++i) entries[i]->setChecked(i == index);
  menuSkin_ = index;
  show();
  profiles::TSettings(global_.SettingsFile()).SetSkinIndex(index);
}

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!shown_) FirstShow();
}

void TfrmMain::FirstShow() {
  resize(kMainWidth, kMainHeight);
  const profiles::TSettings settings(global_.SettingsFile());
  outputFolder_->setText(Q(settings.OutPutDir()));
  volume_->setValue(settings.Volume());
  mute_->setChecked(settings.Mute() == 1);
  global_.SetVersionText(profiles::GetVersionText());
  setWindowTitle(Q(global_.ProductTitle() + global_.VersionText()));
  catalogue_->Build();
  parameters_->Load(settings.FormatCode());
  shown_ = true;
  if (!pendingFiles_.empty()) {
    // After the window has painted, so a long list of files does not keep it blank.
    QTimer::singleShot(0, this, [this] {
      fileView_->AddPaths(pendingFiles_);
      pendingFiles_.clear();
    });
  }
}

void TfrmMain::AddFilesWhenShown(std::vector<std::string> paths) {
  if (shown_)
    fileView_->AddPaths(paths);
  else
    pendingFiles_ = std::move(paths);
}

void TfrmMain::Brows() {
  const std::string folder = FileChooser().ChooseFolder(this, outputFolder_->text().toStdString());
  if (!folder.empty() && Q(folder) != outputFolder_->text()) outputFolder_->setText(Q(folder));
}

void TfrmMain::UpdateListButtons() {
  const bool rows = !list_.Empty() && buttonsEnabled_;
  addButton_->setEnabled(buttonsEnabled_);
  addAction_->setEnabled(buttonsEnabled_);
  for (QPushButton* button : {removeButton_, clearButton_, startButton_}) button->setEnabled(rows);
  for (QAction* action : {removeAction_, clearAction_, startAction_}) action->setEnabled(rows);
}

void TfrmMain::StartBatch() {
  if (controller_->Running()) return;
  controller_->Start(1);
  activateWindow();  // the keyboard comes back to the list once the progress window has gone
  const std::vector<batch::TBatchFailure>& failures = controller_->Failures();
  if (failures.empty() || closing_) return;
  std::string text = failures.size() == 1 ? "This file was not converted:\n"
                                          : "These files were not converted:\n";
  for (const batch::TBatchFailure& failure : failures)
    text += "\n" + failure.File + "\n    " + failure.Reason;
  platform::Prompt().Message(text, "Warning", platform::TPromptIcon::Warning);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  if (!platform::Prompt().Question(kExitQuestion, kExitTitle, platform::TPromptIcon::Question)) {
    event->ignore();
    return;
  }
  closing_ = true;
  catalogue_->SaveCollapsed();
  controller_->Close();
  log_->close();
  event->accept();
}

// ---- The batch controller's view ----

void TfrmMain::CommitFrameSize() { parameters_->CommitFrameSize(); }

void TfrmMain::SetMainButtonsEnabled(bool enabled) {
  buttonsEnabled_ = enabled;
  UpdateListButtons();
}

void TfrmMain::ShowProgressWindow() { progress_->exec(); }

void TfrmMain::CloseProgressWindow() { progress_->CloseAtBatchEnd(); }

void TfrmMain::ShowProgress(const batch::TProgressValues& values) {
  progress_->ShowProgress(values);
}

void TfrmMain::SetFileBar(int percent) { progress_->SetFileBar(percent); }

void TfrmMain::RowChanged(int row) { fileView_->RowChanged(row); }

void TfrmMain::RowEnded(int row, batch::TRowOutcome outcome, const std::string& message) {
  fileView_->RowChanged(row);
  if (outcome == batch::TRowOutcome::Failed || outcome == batch::TRowOutcome::Skipped)
    log_->Add(list_.Row(row).Caption() + ": " + message);
}

bool TfrmMain::OpenFolderAfterConversion() { return progress_->OpenFolderTicked(); }

bool TfrmMain::ShutDownAfterConversion() { return progress_->ShutDownTicked(); }

}  // namespace app
