#include "app/filechooser.h"

#include <QFileDialog>

#include "app/folderchooser.h"

namespace app {
namespace {

class TDialogChooser : public IFileChooser {
 public:
  std::vector<std::string> OpenFiles(QWidget* parent, const QString& caption,
                                     const QString& filter) override {
    std::vector<std::string> paths;
    for (const QString& path : QFileDialog::getOpenFileNames(
             parent, caption, QString(), filter, nullptr, QFileDialog::HideNameFilterDetails))
      paths.push_back(path.toStdString());
    return paths;
  }
  std::string ChooseFolder(QWidget* parent, const std::string& current) override {
    TfrmBrows chooser(current, parent);
    chooser.exec();
    return chooser.Folder();
  }
};

TDialogChooser dialogChooser;
IFileChooser* current = &dialogChooser;

}  // namespace

IFileChooser& FileChooser() { return *current; }
void SetFileChooser(IFileChooser* chooser) { current = chooser ? chooser : &dialogChooser; }

}  // namespace app
