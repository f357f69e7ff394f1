// TParameterPanelView: the current profile's parameters under the file list: the "Video Options"
// and "Audio Options" groups of owner-drawn combo boxes and the "Default" button. Every rule
// (key filters, checks, messages, what is stored) belongs to profiles::TParameterPanel; this
// widget forwards the user's keys, edits, choices and leaving to it and redraws every box from
// the model's states afterwards, without feeding those redraws back as user events.
#pragma once

#include <QWidget>
#include <array>
#include <string>

#include "profiles/parameterpanel.h"

class QComboBox;
class QPushButton;

namespace app {

class TParameterPanelView : public QWidget {
  Q_OBJECT

 public:
  TParameterPanelView(std::string settingsFile, std::string formatFile,
                      QWidget* parent = nullptr);

  // Loads the boxes of a profile (when the chosen profile changes).
  void Load(int code);
  // The frame size box's leave handler: checks, corrects and stores its text (the batch start
  // calls it before converting).
  void CommitFrameSize();

  profiles::TParameterPanel& Panel() { return panel_; }
  QComboBox* Box(profiles::TParamBox box);
  QPushButton* DefaultButton() { return default_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Redraws every box from the model.
  void Refresh();
  void RefreshBox(profiles::TParamBox box);
  int IndexOf(QObject* object) const;

  profiles::TParameterPanel panel_;
  std::array<QComboBox*, profiles::kParamBoxCount> boxes_{};
  QPushButton* default_ = nullptr;
  bool refreshing_ = false;
  bool leaving_ = false;  // the frame size box's leave handler is running (its message may
                          // take the focus away again)
};

}  // namespace app
