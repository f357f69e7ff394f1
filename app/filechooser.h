// The file and folder choosers the windows ask: the open dialog of "&Add" and the output folder
// chooser of "Brows". They go through the replaceable interface IFileChooser, so tests answer
// them from a script; the default shows the real dialogs.
#pragma once

#include <QString>
#include <string>
#include <vector>

class QWidget;

namespace app {

class IFileChooser {
 public:
  virtual ~IFileChooser() = default;
  // The open dialog: several existing files, with the filter list given in Qt's
  // "Name (*.a *.b);;…" form; the dialog shows each name without its last parentheses (the
  // patterns). The chosen paths in selection order; none when cancelled.
  virtual std::vector<std::string> OpenFiles(QWidget* parent, const QString& caption,
                                             const QString& filter) = 0;
  // The output folder chooser ("Brows"), opened at `current`: the folder taken, "" when cancelled.
  virtual std::string ChooseFolder(QWidget* parent, const std::string& current) = 0;
};

// The chooser in use (never null).
IFileChooser& FileChooser();
// Installs a chooser (not owned; it must outlive its use); null restores the real dialogs.
void SetFileChooser(IFileChooser* chooser);

}  // namespace app
