// TfrmLog: the program's log, hidden until the user asks for it (Help, "Show &Log"): why the media
// libraries could not be loaded, the engine's warnings and errors, and every file a batch could not
// convert with its reason. Lines are kept while the program runs, the newest last.
#pragma once

#include <QDialog>
#include <string>

class QPlainTextEdit;

namespace app {

class TfrmLog : public QDialog {
 public:
  explicit TfrmLog(QWidget* parent = nullptr);
  // Adds a line (a multi-line text adds each of its lines).
  void Add(const std::string& line);
  QString Text() const;

 private:
  QPlainTextEdit* text_;
};

}  // namespace app
