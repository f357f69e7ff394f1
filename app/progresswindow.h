// TfrmProgress: the window shown modally while a batch converts. It shows the current file, its
// position, length and output size, the task number and the file bar; a live picture of the frame
// being encoded, repainted every 100 ms from the preview source; Pause, Resume and Cancel; the two
// post-action check boxes; the snapshot button; and a promotional text that changes every 10 s.
// Created once and shown for every batch; each show starts from a cleared state.
#pragma once

#include <QDialog>
#include <QImage>
#include <QRect>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "batch/batchcontroller.h"
#include "media/bitmap.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace app {

// The colour of the preview picture around the frame and before the first one.
inline constexpr QRgb kPreviewBackground = qRgb(166, 202, 240);

// The largest rectangle of a frame's shape, centred in a picture of the given size: the frame
// fills the picture's width when it is relatively wider than the picture, else its height; the
// two margins are equal, each rounded to the nearest pixel with halves to even. Empty when
// either size is not positive.
QRect FittedRect(int frameWidth, int frameHeight, int pictureWidth, int pictureHeight);

// One promotional entry: its text and the page it leads to.
struct TAdvert {
  std::string Text, Link;
};

class TPreviewPicture;
class TAdvertText;

class TfrmProgress : public QDialog {
  Q_OBJECT

 public:
  // The snapshot button writes by the settings of `settingsFile`.
  explicit TfrmProgress(std::string settingsFile, QWidget* parent = nullptr);
  ~TfrmProgress() override;

  // Where the window reads the latest preview frame (the batch controller's PreviewBitmap()).
  // The frame is read on the user-interface thread only; an empty one means "no frame yet".
  void SetPreviewSource(std::function<const media::TBitmap&()> source);

  // Pause / Resume / Cancel (and the close box and Escape) call these. OnCancel must stop the
  // batch and wait for it; the batch's end may close the window while it waits.
  std::function<void()> OnPause, OnResume, OnCancel;

  // The five values and the file bar (a busy bar while the length is unknown).
  void ShowProgress(const batch::TProgressValues& values);
  // The file bar at percent (held to 0…100).
  void SetFileBar(int percent);
  // The batch ended: the window closes without calling OnCancel.
  void CloseAtBatchEnd();

  bool OpenFolderTicked() const;
  bool ShutDownTicked() const;

  // The promotional entries (from the update feed) and the latest version their links carry.
  // With none, the window shows no promotional text.
  void SetAdverts(std::vector<TAdvert> adverts, std::string latestVersion);

  // Where the last frame was drawn inside the preview picture; empty before the first frame of
  // this show.
  QRect PictureRect() const;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  // Cancel, the close box and Escape.
  void reject() override;

 private:
  void PrepareShow();
  void StopTimers();
  void RepaintPicture();
  void PickAdvert();
  void OpenAdvert();
  void SaveSnapshot();

  std::string settingsFile_;
  std::function<const media::TBitmap&()> source_;
  std::vector<TAdvert> adverts_;
  std::string latestVersion_;
  int shownAdvert_ = -1;
  std::mt19937 random_;
  bool cancelling_ = false;

  QLabel* currentTime_ = nullptr;
  QLabel* length_ = nullptr;
  QLabel* fileSize_ = nullptr;
  QLabel* progress_ = nullptr;
  QLabel* file_ = nullptr;
  QProgressBar* fileBar_ = nullptr;
  QPushButton* pause_ = nullptr;
  QPushButton* resume_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* snapshot_ = nullptr;
  QCheckBox* shutDown_ = nullptr;
  QCheckBox* openFolder_ = nullptr;
  TPreviewPicture* picture_ = nullptr;
  TAdvertText* advert_ = nullptr;
  QTimer* repaintTimer_ = nullptr;
  QTimer* advertTimer_ = nullptr;
};

}  // namespace app
