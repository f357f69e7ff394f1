#include "app/folderchooser.h"

#include <QApplication>
#include <QDir>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/application.h"
#include "platform/paths.h"
#include "platform/prompt.h"

namespace app {

TfrmBrows::TfrmBrows(const std::string& current, QWidget* parent)
    : QDialog(parent), model_(new QFileSystemModel(this)), tree_(new QTreeView(this)),
      ok_(new QPushButton(QStringLiteral("Ok"), this)) {
  setWindowTitle(QStringLiteral("Brows"));
  setFixedSize(322, 351);
  model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
  model_->setRootPath(QStringLiteral("/"));
  tree_->setModel(model_);
  tree_->setRootIndex(model_->index(QStringLiteral("/")));
  for (int column = 1; column < model_->columnCount(); ++column) tree_->hideColumn(column);
  tree_->header()->hide();
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  ok_->setDefault(true);
  ok_->setEnabled(false);
  connect(tree_, &QTreeView::clicked, this, [this] { ok_->setEnabled(true); });
  connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& index) { ok_->setEnabled(index.isValid()); });
  connect(ok_, &QPushButton::clicked, this, &TfrmBrows::Accept);
  connect(cancel, &QPushButton::clicked, this, [this] {
    folder_.clear();
    reject();
  });
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Please select an output directory:"), this));
  layout->addWidget(tree_);
  layout->addLayout(buttons);
  const QString start = QDir(QString::fromStdString(current)).exists()
                            ? QString::fromStdString(current)
                            : QString::fromStdString(platform::HomeFolder());
  SelectFolder(start.toStdString());
}

void TfrmBrows::SelectFolder(const std::string& folder) {
  const QModelIndex index = model_->index(QString::fromStdString(folder));
  if (!index.isValid()) return;
  tree_->setCurrentIndex(index);
  tree_->scrollTo(index);
}

void TfrmBrows::Accept() {
  const QModelIndex index = tree_->currentIndex();
  if (!index.isValid()) return;
  const std::string folder = model_->filePath(index).toStdString();
  if (platform::FolderOnReadOnlyMedia(folder)) {
    platform::Prompt().Message(kReadOnlyFolderText,
                               ApplicationTitle(),
                               platform::TPromptIcon::Information);
    tree_->clearSelection();
    tree_->setCurrentIndex(QModelIndex());
    ok_->setEnabled(false);
    return;
  }
  folder_ = folder;
  accept();
}

}  // namespace app
