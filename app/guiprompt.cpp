#include "app/guiprompt.h"

#include "app/application.h"

#include <QApplication>
#include <QMessageBox>

namespace app {
namespace {

QMessageBox::Icon IconOf(platform::TPromptIcon icon) {
  switch (icon) {
    case platform::TPromptIcon::Information: return QMessageBox::Information;
    case platform::TPromptIcon::Warning: return QMessageBox::Warning;
    case platform::TPromptIcon::Error: return QMessageBox::Critical;
    case platform::TPromptIcon::Question: return QMessageBox::Question;
    case platform::TPromptIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

// A box without a title of its own carries the application's title.
QString TitleOf(const std::string& title) {
  return QString::fromStdString(title.empty() ? ApplicationTitle() : title);
}

}  // namespace

void TMessageBoxPrompt::Message(const std::string& text, const std::string& title,
                                platform::TPromptIcon icon) {
  QMessageBox box(IconOf(icon), TitleOf(title), QString::fromStdString(text), QMessageBox::Ok,
                  QApplication::activeWindow());
  box.exec();
}

bool TMessageBoxPrompt::Question(const std::string& text, const std::string& title,
                                 platform::TPromptIcon icon) {
  QMessageBox box(IconOf(icon), TitleOf(title), QString::fromStdString(text),
                  QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
  return box.exec() == QMessageBox::Yes;
}

void TMessageBoxPrompt::Beep() { QApplication::beep(); }

}  // namespace app
