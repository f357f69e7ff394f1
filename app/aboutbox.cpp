#include "app/aboutbox.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "app/artwork.h"
#include "platform/desktop.h"

namespace app {

TfrmAbout::TfrmAbout(const std::string& titleAndVersion, const std::string& webPage,
                     QWidget* parent)
    : QDialog(parent), link_(new QLabel(this)) {
  setWindowTitle(QStringLiteral("About"));
  setFixedSize(360, 190);
  auto* picture = new QLabel(this);
  picture->setPixmap(ProductPicture(72));
  auto* title = new QLabel(QString::fromStdString(titleAndVersion), this);
  QFont bold = title->font();
  bold.setBold(true);
  bold.setPointSize(bold.pointSize() + 2);
  title->setFont(bold);
  title->setWordWrap(true);
  const QString page = QString::fromStdString(webPage);
  link_->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(page.toHtmlEscaped()));
  link_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  link_->setOpenExternalLinks(false);
  connect(link_, &QLabel::linkActivated, this,
          [](const QString& url) { platform::Desktop().OpenDefault(url.toStdString()); });
  auto* ok = new QPushButton(QStringLiteral("&Ok"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* layout = new QGridLayout(this);
  // The link runs under the picture as well: the whole address is shown.
  layout->addWidget(picture, 0, 0, Qt::AlignTop);
  layout->addWidget(title, 0, 1, Qt::AlignVCenter);
  layout->addWidget(link_, 1, 0, 1, 2);
  layout->addWidget(ok, 2, 0, 1, 2, Qt::AlignRight | Qt::AlignBottom);
  layout->setColumnStretch(1, 1);
}

}  // namespace app
