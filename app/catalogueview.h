// TCatalogueBox: the read-only "Output Format:" box with its small arrow button, and the drop-up
// list of the profile catalogue attached above it. The lines, their selection and what a press
// does belong to profiles::TFormatList; this widget draws them 20 pixels high, forwards presses,
// double clicks and pointer moves to it, and hides the list when the user works elsewhere.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>
#include <string>

#include "profiles/formatlist.h"

class QLineEdit;
class QToolButton;

namespace app {

class TCatalogueListView;

class TCatalogueBox : public QWidget {
  Q_OBJECT

 public:
  explicit TCatalogueBox(std::string settingsFile, QWidget* parent = nullptr);
  ~TCatalogueBox() override;

  // Builds the list from the catalogue and the collapsed states; the box shows the stored
  // "FormatName". The list stays hidden.
  void Build();
  // Stores the groups' collapsed states under "lstformat".
  void SaveCollapsed();

  bool ListShown() const;
  // Reloads the box text from "FormatName", selects its line, shows the list above the box and
  // gives it the focus.
  void ShowList();
  void HideList();

  QString Text() const;
  // The drop-up list (a child of the box's top-level window once shown).
  QWidget* List();
  profiles::TFormatList& Lines() { return lines_; }

 signals:
  // A profile line was chosen: it is stored as the current profile and shown in the box.
  void ProfileChanged(int code, const QString& caption);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  friend class TCatalogueListView;

  void Toggle(bool movePointer);
  void Place();
  void AfterPress(const profiles::TPressResult& result);
  bool InsideOwnControls(QObject* object) const;

  std::string settingsFile_;
  profiles::TFormatList lines_;
  QLineEdit* box_ = nullptr;
  QToolButton* button_ = nullptr;
  // The list lives in the top-level window, which may delete it before the box goes.
  QPointer<TCatalogueListView> list_;
  QPointer<QWidget> watchedWindow_;  // the window the list lives in (its resizes re-place it)
};

}  // namespace app
