#include "tests/app/apptesting.h"

#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>

#include "app/skins.h"
#include "app/application.h"
#include "app/guithread.h"
#include "profiles/settings.h"

namespace apptest {

QApplication& App() {
  static int argc = 3;
  static char arg0[] = "app_test", arg1[] = "-platform", arg2[] = "offscreen";
  static char* argv[] = {arg0, arg1, arg2, nullptr};
  static QApplication* app = [] {
    auto* a = new app::TApplication(argc, argv);
    app::SetApplicationTitle("Kelto Video Converter");
    app::InstallMainThreadHandOff();
    app::ApplySkin(0);
    return a;
  }();
  return *app;
}

TSettingsFolder::TSettingsFolder() : formatFile(profiles::FormatFilePath()) {
  testsupport::WriteText(settingsFile, "");
}

std::vector<std::string> TScriptedChooser::OpenFiles(QWidget*, const QString&,
                                                     const QString& filter) {
  filters.push_back(filter);
  if (answers.empty()) return {};
  std::vector<std::string> answer = std::move(answers.front());
  answers.pop_front();
  return answer;
}

std::string TScriptedChooser::ChooseFolder(QWidget*, const std::string&) {
  if (folders.empty()) return "";
  std::string folder = std::move(folders.front());
  folders.pop_front();
  return folder;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeout.count()) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

bool Near(QColor a, QColor b, int tolerance) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

}  // namespace apptest
