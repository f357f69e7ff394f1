// TfrmAbout: the About box: the product picture, the title with its version, a link that shows
// and opens the product's web page, and "&Ok", which closes it.
#pragma once

#include <QDialog>
#include <string>

class QLabel;

namespace app {

class TfrmAbout : public QDialog {
 public:
  TfrmAbout(const std::string& titleAndVersion, const std::string& webPage,
            QWidget* parent = nullptr);
  QLabel* Link() const { return link_; }

 private:
  QLabel* link_;
};

}  // namespace app
