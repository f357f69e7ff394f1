#include "app/application.h"

#include <QMessageBox>

#include "engine/enginerecords.h"
#include "platform/prompt.h"

namespace app {

namespace {
std::string applicationTitle;
}

std::string ApplicationTitle() { return applicationTitle; }
void SetApplicationTitle(const std::string& title) { applicationTitle = title; }

std::string ErrorDisplayText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowError(std::current_exception());
  }
  return false;
}

void TApplication::ShowError(std::exception_ptr error) {
  std::string message;
  platform::TPromptIcon icon = platform::TPromptIcon::Error;
  try {
    std::rethrow_exception(error);
  } catch (const engine::FFmpegException& e) {
    message = e.what();
    icon = platform::TPromptIcon::Warning;
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "Unknown error";
  }
  platform::Prompt().Message(ErrorDisplayText(message), ApplicationTitle(),
                             icon);
}

}  // namespace app
