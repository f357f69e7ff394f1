// Shared parts of the window tests: the offscreen application with the main-thread hand-off served
// by its event loop, a settings folder of its own per test, a file chooser answered from a script,
// and waits that keep the event loop running.
#pragma once

#include <QApplication>
#include <QColor>
#include <QImage>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/filechooser.h"
#include "platform/desktop.h"
#include "platform/prompt.h"
#include "tests/batch/batchtesting.h"
#include "tests/support/testdirs.h"

namespace apptest {

// The application of the test program (the program's own TApplication with its error display,
// offscreen platform, Default theme, the product title as display name), created on first use.
QApplication& App();

// A fresh settings folder: an empty keltovideoconverter.ini beside the project's format file.
struct TSettingsFolder {
  testsupport::TempDir dir;
  std::string settingsFile = dir.File("keltovideoconverter.ini");
  std::string formatFile;  // the project's data/keltovideoformat.ini
  TSettingsFolder();
};

// Answers the open dialog from a list of answers, in order (then: cancelled), and records what
// each call was shown; the folder chooser the same way from its own list.
class TScriptedChooser : public app::IFileChooser {
 public:
  std::deque<std::vector<std::string>> answers;
  std::vector<QString> filters;  // the filter list of each call
  std::deque<std::string> folders;
  std::vector<std::string> OpenFiles(QWidget* parent, const QString& caption,
                                     const QString& filter) override;
  std::string ChooseFolder(QWidget* parent, const std::string& current) override;
};

// Installs a chooser and a scripted prompt for a test's scope.
struct TScriptScope {
  TScriptedChooser chooser;
  platform::TScriptedPrompt prompt;
  platform::TPromptScope promptScope{prompt};
  TScriptScope() { app::SetFileChooser(&chooser); }
  ~TScriptScope() { app::SetFileChooser(nullptr); }
};

// Records the desktop's open requests, and what a batch asks of the sleep lock, for a test's
// scope instead of asking the system.
struct TDesktopScope {
  std::vector<batchtest::TRecordingDesktop::TCall> calls;
  std::vector<std::string> inhibitorCalls;
  std::unique_ptr<platform::IDesktop> previous =
      platform::SetDesktop(std::make_unique<batchtest::TRecordingDesktop>(&calls));
  std::unique_ptr<platform::ISleepInhibitor> previousInhibitor = platform::SetSleepInhibitor(
      std::make_unique<batchtest::TRecordingInhibitor>(&inhibitorCalls));
  ~TDesktopScope() {
    platform::SetSleepInhibitor(std::move(previousInhibitor));
    platform::SetDesktop(std::move(previous));
  }
};

// Runs the event loop until done() is true or the time is up; done()'s last answer.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Colours within a small distance of each other (anti-aliasing, rounding).
bool Near(QColor a, QColor b, int tolerance = 8);

}  // namespace apptest
