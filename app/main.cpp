// videoconverter: the desktop program. Shows the splash, creates the main window and runs the
// event loop. Files named on the command line are added to the list once the window shows.
//   videoconverter [--settings DIR] [FILE...]
// --settings DIR keeps keltovideoconverter.ini (and, when it holds one, keltovideoformat.ini) in
// DIR instead of the settings folder.
#include <cstdio>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/guiprompt.h"
#include "app/guithread.h"
#include "app/mainwindow.h"
#include "app/splash.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "profiles/globalobject.h"
#include "profiles/settings.h"

namespace {

constexpr char kUsage[] =
    "Usage: videoconverter [--settings DIR] [FILE...]\n"
    "Starts the converter's window with the files added to its list.\n"
    "  --settings DIR   keep the settings (keltovideoconverter.ini) in DIR\n";

}  // namespace

int main(int argc, char** argv) {
  app::TApplication application(argc, argv);  // takes Qt's own options out of argv
  QApplication::setApplicationName(QStringLiteral("videoconverter"));
  QApplication::setDesktopFileName(QStringLiteral("videoconverter"));
  app::InstallMainThreadHandOff();

  std::string settingsFile, formatFile;
  std::vector<std::string> files;
  const QStringList args = QApplication::arguments();
  for (int i = 1; i < args.size(); ++i) {
    const std::string arg = args[i].toStdString();
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--settings" || arg.rfind("--settings=", 0) == 0) {
      std::string folder;
      if (arg.size() > 10) {
        folder = arg.substr(11);
      } else if (i + 1 < args.size()) {
        folder = args[++i].toStdString();
      }
      if (folder.empty()) {
        std::fputs("videoconverter: --settings needs a folder\n", stderr);
        std::fputs(kUsage, stderr);
        return 2;
      }
      std::tie(settingsFile, formatFile) = profiles::SettingsFilesIn(folder);
      continue;
    }
    files.push_back(arg);
  }

  app::TMessageBoxPrompt prompt;
  platform::SetPrompt(&prompt);

  app::TfrmSplash splash(app::SplashPictureFor(platform::ExecutableFolder()));
  splash.show();
  QApplication::processEvents();

  int result = 0;
  {
    app::TfrmMain window(settingsFile, formatFile);
    window.AddFilesWhenShown(std::move(files));
    window.show();
    splash.CloseWhenShowing(&window);
    result = QApplication::exec();
  }
  platform::SetPrompt(nullptr);
  return result;
}
