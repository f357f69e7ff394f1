#include "app/logwindow.h"

#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace app {

TfrmLog::TfrmLog(QWidget* parent) : QDialog(parent), text_(new QPlainTextEdit(this)) {
  setWindowTitle(QStringLiteral("Log"));
  resize(620, 320);
  text_->setReadOnly(true);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  // A program left running for days must not grow without bound.
  text_->setMaximumBlockCount(5000);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_);
  layout->addWidget(buttons);
}

void TfrmLog::Add(const std::string& line) {
  text_->appendPlainText(QString::fromStdString(line));
}

QString TfrmLog::Text() const { return text_->toPlainText(); }

}  // namespace app
