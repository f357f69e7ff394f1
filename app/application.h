// TApplication: the desktop program's QApplication with the application-wide error display. An
// exception that reaches the event loop from any window's handler is shown in a message box titled
// with the application title (a warning icon for the engine's own errors, an error icon for all
// others) instead of ending the program; the program then goes on.
#pragma once

#include <QApplication>
#include <functional>
#include <string>

namespace app {

// The application title (the product title): the title of the program's message boxes. Kept apart
// from Qt's display name, which the desktop would append to every window caption.
std::string ApplicationTitle();
void SetApplicationTitle(const std::string& title);

// The text the error display shows: the message, with "." appended when the message is not empty
// and its last character sorts after ".".
std::string ErrorDisplayText(const std::string& message);

class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;

  // Shows one caught error the way the display does; the icon follows the exception's kind.
  static void ShowError(std::exception_ptr error);
};

}  // namespace app
