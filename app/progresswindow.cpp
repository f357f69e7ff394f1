#include "app/progresswindow.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <mutex>

#include "batch/snapshots.h"
#include "platform/desktop.h"
#include "platform/prompt.h"
#include "profiles/globalobject.h"

namespace app {

namespace {

constexpr int kWindowWidth = 450;
constexpr int kWindowHeight = 490;
constexpr int kPictureWidth = 320;
constexpr int kPictureHeight = 240;
constexpr int kFileValueWidth = 283;
constexpr int kRepaintInterval = 100;   // ms
constexpr int kAdvertInterval = 10000;  // ms
constexpr char kSnapshotHint[] = "Save snapshot picture";
constexpr char kSnapshotFailureTitle[] = "Warning";

// The snapshot button's glyph: a small camera, drawn at the screen's pixel ratio.
QIcon CameraIcon(qreal ratio) {
  const int size = 24;
  QPixmap pixmap(static_cast<int>(size * ratio), static_cast<int>(size * ratio));
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor body(64, 70, 82);
  painter.setPen(Qt::NoPen);
  painter.setBrush(body);
  painter.drawRoundedRect(QRectF(8, 4, 8, 4), 1.5, 1.5);     // the viewfinder hump
  painter.drawRoundedRect(QRectF(2, 7, 20, 14), 3, 3);       // the body
  painter.setBrush(QColor(kPreviewBackground));
  painter.drawEllipse(QPointF(12, 14), 5.2, 5.2);            // the lens
  painter.setBrush(body);
  painter.drawEllipse(QPointF(12, 14), 2.8, 2.8);
  painter.setBrush(QColor(255, 255, 255, 200));
  painter.drawEllipse(QPointF(10.8, 12.8), 1.0, 1.0);         // the lens' glint
  painter.setBrush(QColor(250, 200, 80));
  painter.drawRect(QRectF(17.5, 9, 2.5, 1.8));               // the flash
  painter.end();
  return QIcon(pixmap);
}

// The picture as a bitmap of its own (rows of B, G, R).
media::TBitmap ToBitmap(const QImage& image) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  media::TBitmap bitmap(rgb.width(), rgb.height());
  for (int y = 0; y < rgb.height(); ++y) {
    const uchar* from = rgb.constScanLine(y);
    uint8_t* to = bitmap.ScanLine(y);
    for (int x = 0; x < rgb.width(); ++x) {
      to[x * 3] = from[x * 3 + 2];
      to[x * 3 + 1] = from[x * 3 + 1];
      to[x * 3 + 2] = from[x * 3];
    }
  }
  return bitmap;
}

}  // namespace

QRect FittedRect(int frameWidth, int frameHeight, int pictureWidth, int pictureHeight) {
  if (frameWidth <= 0 || frameHeight <= 0 || pictureWidth <= 0 || pictureHeight <= 0)
    return {};
  const double a = static_cast<double>(frameWidth) / pictureWidth;
  const double b = static_cast<double>(frameHeight) / pictureHeight;
  // std::nearbyint rounds in the current mode, to nearest with halves to even.
  if (a >= b) {
    const int margin = static_cast<int>(std::nearbyint((pictureHeight - frameHeight / a) / 2));
    return QRect(0, margin, pictureWidth, pictureHeight - 2 * margin);
  }
  const int margin = static_cast<int>(std::nearbyint((pictureWidth - frameWidth / b) / 2));
  return QRect(margin, 0, pictureWidth - 2 * margin, pictureHeight);
}

// The preview picture: a canvas of its own size that the window fills and draws frames on, and
// that the widget paints as it is. What it shows is what a small snapshot saves.
class TPreviewPicture : public QWidget {
 public:
  explicit TPreviewPicture(QWidget* parent)
      : QWidget(parent), canvas_(kPictureWidth, kPictureHeight, QImage::Format_RGB888) {
    setObjectName("previewPicture");
    setFixedSize(kPictureWidth, kPictureHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    Clear();
  }

  void Clear() {
    canvas_.fill(QColor(kPreviewBackground));
    frameRect_ = QRect();
    update();
  }

  // The frame stretched into its fitted rectangle, on the background colour.
  void Draw(const media::TBitmap& frame) {
    std::lock_guard guard(frame);
    const QImage image(frame.Bits(), frame.Width(), frame.Height(), frame.Stride(),
                       QImage::Format_BGR888);
    frameRect_ = FittedRect(frame.Width(), frame.Height(), canvas_.width(), canvas_.height());
    QPainter painter(&canvas_);
    painter.fillRect(canvas_.rect(), QColor(kPreviewBackground));
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(frameRect_, image);
    painter.end();
    update();
  }

  const QImage& Canvas() const { return canvas_; }
  QRect FrameRect() const { return frameRect_; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.drawImage(0, 0, canvas_);
  }

 private:
  QImage canvas_;
  QRect frameRect_;
};

// A value label narrower than its text: the text is drawn with its middle left out, so the
// start of the path and its extension stay in view, and the whole text becomes the tooltip.
// text() is the text as given.
class TElidedLabel : public QLabel {
 public:
  explicit TElidedLabel(QWidget* parent) : QLabel(parent) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width());
    setToolTip(shown == text() ? QString() : text());
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(area, static_cast<int>(Qt::AlignLeft | Qt::AlignVCenter), shown);
  }
};

// The promotional text: read-only, blue, with a hand cursor; a click with the left button calls
// OnClick.
class TAdvertText : public QLabel {
 public:
  std::function<void()> OnClick;

  explicit TAdvertText(QWidget* parent) : QLabel(parent) {
    setObjectName("advertText");
    setCursor(Qt::PointingHandCursor);
    setTextInteractionFlags(Qt::NoTextInteraction);
    QPalette blue = palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
    setPalette(blue);
  }

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        OnClick)
      OnClick();
    QLabel::mouseReleaseEvent(event);
  }
};

TfrmProgress::TfrmProgress(std::string settingsFile, QWidget* parent)
    : QDialog(parent), settingsFile_(std::move(settingsFile)), random_(std::random_device{}()) {
  setWindowTitle("Progress");
  setFixedSize(kWindowWidth, kWindowHeight);
  setModal(true);

  picture_ = new TPreviewPicture(this);
  snapshot_ = new QPushButton(this);
  snapshot_->setObjectName("snapshotButton");
  snapshot_->setToolTip(kSnapshotHint);
  snapshot_->setIcon(CameraIcon(devicePixelRatioF()));
  snapshot_->setIconSize(QSize(24, 24));
  snapshot_->setFixedSize(36, 32);
  snapshot_->setFocusPolicy(Qt::TabFocus);

  const auto valueLabel = [this](const char* name, QLabel* label) {
    label->setObjectName(name);
    label->setMinimumWidth(110);
    return label;
  };
  currentTime_ = valueLabel("currentTimeValue", new QLabel(this));
  length_ = valueLabel("lengthValue", new QLabel(this));
  fileSize_ = valueLabel("fileSizeValue", new QLabel(this));
  progress_ = valueLabel("progressValue", new QLabel(this));
  file_ = valueLabel("fileValue", new TElidedLabel(this));
  file_->setFixedWidth(kFileValueWidth);

  fileBar_ = new QProgressBar(this);
  fileBar_->setObjectName("fileBar");
  fileBar_->setRange(0, 100);
  fileBar_->setValue(0);
  fileBar_->setTextVisible(true);

  shutDown_ = new QCheckBox("Shut down computer after conversion", this);
  shutDown_->setObjectName("shutDownBox");
  openFolder_ = new QCheckBox("Open the output folder after conversion", this);
  openFolder_->setObjectName("openFolderBox");
  openFolder_->setChecked(true);

  pause_ = new QPushButton("Pause", this);
  pause_->setObjectName("pauseButton");
  resume_ = new QPushButton("Resume", this);
  resume_->setObjectName("resumeButton");
  resume_->setEnabled(false);
  cancel_ = new QPushButton("Cancel", this);
  cancel_->setObjectName("cancelButton");
  for (QPushButton* button : {pause_, resume_, cancel_}) {
    button->setAutoDefault(false);
    button->setMinimumWidth(88);
  }

  advert_ = new TAdvertText(this);
  advert_->OnClick = [this] { OpenAdvert(); };

  // The picture centred in a thin sunken frame, the snapshot button at its lower right.
  auto* pictureFrame = new QFrame(this);
  pictureFrame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  pictureFrame->setLineWidth(1);
  auto* framed = new QVBoxLayout(pictureFrame);
  framed->setContentsMargins(1, 1, 1, 1);
  framed->addWidget(picture_);
  auto* top = new QGridLayout;
  top->setColumnStretch(0, 1);
  top->setColumnStretch(2, 1);
  top->addWidget(pictureFrame, 0, 1, 2, 1);
  top->setRowStretch(0, 1);
  top->addWidget(snapshot_, 1, 2, Qt::AlignLeft | Qt::AlignBottom);

  auto* values = new QGridLayout;
  values->setHorizontalSpacing(8);
  values->setVerticalSpacing(4);
  values->addWidget(new QLabel("Current Time:", this), 0, 0);
  values->addWidget(currentTime_, 0, 1);
  values->addWidget(new QLabel("Length:", this), 0, 2);
  values->addWidget(length_, 0, 3);
  values->addWidget(new QLabel("File Size:", this), 1, 0);
  values->addWidget(fileSize_, 1, 1);
  values->addWidget(new QLabel("Progress:", this), 1, 2);
  values->addWidget(progress_, 1, 3);
  values->addWidget(new QLabel("File:", this), 2, 0);
  values->addWidget(file_, 2, 1, 1, 3, Qt::AlignLeft);
  values->setColumnStretch(1, 1);
  values->setColumnStretch(3, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(pause_);
  buttons->addWidget(resume_);
  buttons->addWidget(cancel_);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(14, 12, 14, 10);
  layout->setSpacing(6);
  layout->addLayout(top);
  layout->addSpacing(4);
  layout->addLayout(values);
  layout->addWidget(fileBar_);
  layout->addWidget(shutDown_);
  layout->addWidget(openFolder_);
  layout->addStretch(1);
  auto* rule = new QFrame(this);
  rule->setFrameStyle(QFrame::HLine | QFrame::Sunken);
  layout->addWidget(rule);
  layout->addLayout(buttons);
  layout->addWidget(advert_);

  repaintTimer_ = new QTimer(this);
  repaintTimer_->setInterval(kRepaintInterval);
  connect(repaintTimer_, &QTimer::timeout, this, [this] { RepaintPicture(); });
  advertTimer_ = new QTimer(this);
  advertTimer_->setInterval(kAdvertInterval);
  connect(advertTimer_, &QTimer::timeout, this, [this] { PickAdvert(); });

  connect(pause_, &QPushButton::clicked, this, [this] {
    if (OnPause) OnPause();
    pause_->setEnabled(false);
    resume_->setEnabled(true);
  });
  connect(resume_, &QPushButton::clicked, this, [this] {
    if (OnResume) OnResume();
    pause_->setEnabled(true);
    resume_->setEnabled(false);
  });
  connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
  connect(snapshot_, &QPushButton::clicked, this, [this] { SaveSnapshot(); });
}

TfrmProgress::~TfrmProgress() = default;

void TfrmProgress::SetPreviewSource(std::function<const media::TBitmap&()> source) {
  source_ = std::move(source);
}

void TfrmProgress::ShowProgress(const batch::TProgressValues& values) {
  currentTime_->setText(QString::fromStdString(values.CurrentTime));
  length_->setText(QString::fromStdString(values.Length));
  fileSize_->setText(QString::fromStdString(values.FileSize));
  progress_->setText(QString::fromStdString(values.Progress));
  file_->setText(QString::fromStdString(values.File));
  if (values.Percent < 0) {
    // The length is unknown: a busy bar rather than a percentage that never moves.
    fileBar_->setRange(0, 0);
  } else {
    SetFileBar(values.Percent);
  }
}

void TfrmProgress::SetFileBar(int percent) {
  fileBar_->setRange(0, 100);
  fileBar_->setValue(std::clamp(percent, 0, 100));
}

void TfrmProgress::CloseAtBatchEnd() {
  StopTimers();
  if (isVisible()) QDialog::done(cancelling_ ? QDialog::Rejected : QDialog::Accepted);
}

bool TfrmProgress::OpenFolderTicked() const { return openFolder_->isChecked(); }

bool TfrmProgress::ShutDownTicked() const { return shutDown_->isChecked(); }

void TfrmProgress::SetAdverts(std::vector<TAdvert> adverts, std::string latestVersion) {
  adverts_ = std::move(adverts);
  latestVersion_ = std::move(latestVersion);
  if (isVisible()) {
    PickAdvert();
    if (adverts_.empty()) advertTimer_->stop();
    else if (!advertTimer_->isActive()) advertTimer_->start();
  } else {
    shownAdvert_ = -1;
    advert_->clear();
  }
}

QRect TfrmProgress::PictureRect() const { return picture_->FrameRect(); }

void TfrmProgress::showEvent(QShowEvent* event) {
  // A window restored from being minimised is shown again by the system: that is no new batch.
  if (!event->spontaneous()) PrepareShow();
  QDialog::showEvent(event);
}

void TfrmProgress::hideEvent(QHideEvent* event) {
  if (!event->spontaneous()) StopTimers();
  QDialog::hideEvent(event);
}

void TfrmProgress::reject() {
  if (cancelling_ || !isVisible()) return;
  cancelling_ = true;
  StopTimers();
  // Stopping waits for the tasks and serves the events meanwhile: the batch's end may close the
  // window before OnCancel returns, and further clicks on Cancel are ignored until then.
  if (OnCancel) OnCancel();
  if (isVisible()) QDialog::done(QDialog::Rejected);
  cancelling_ = false;
}

void TfrmProgress::PrepareShow() {
  for (QLabel* value : {currentTime_, length_, fileSize_, progress_, file_}) value->clear();
  openFolder_->setChecked(true);
  pause_->setEnabled(true);
  resume_->setEnabled(false);
  picture_->Clear();
  repaintTimer_->start();
  SetFileBar(0);
  PickAdvert();
  if (!adverts_.empty()) advertTimer_->start();
}

void TfrmProgress::StopTimers() {
  repaintTimer_->stop();
  advertTimer_->stop();
}

void TfrmProgress::RepaintPicture() {
  if (!source_) return;
  const media::TBitmap& frame = source_();
  if (frame.Width() > 0 && frame.Height() > 0) picture_->Draw(frame);
}

void TfrmProgress::PickAdvert() {
  if (adverts_.empty()) {
    shownAdvert_ = -1;
    advert_->clear();
    return;
  }
  std::uniform_int_distribution<int> pick(0, static_cast<int>(adverts_.size()) - 1);
  shownAdvert_ = pick(random_);
  advert_->setText(QString::fromStdString(adverts_[shownAdvert_].Text));
}

void TfrmProgress::OpenAdvert() {
  if (shownAdvert_ < 0 || shownAdvert_ >= static_cast<int>(adverts_.size())) return;
  const std::string& link = adverts_[shownAdvert_].Link;
  if (link.find("http") == std::string::npos) return;
  const std::string target = link + "?" + profiles::kProductTitle + " " + latestVersion_;
  // The blanks of the title travel percent-encoded, so every browser reads one address.
  const QUrl url(QString::fromStdString(target), QUrl::TolerantMode);
  platform::Desktop().OpenDefault(url.toEncoded().toStdString());
}

void TfrmProgress::SaveSnapshot() {
  if (!source_) return;
  const media::TBitmap full = source_();  // a copy, taken under the frame's lock
  if (full.Empty()) return;
  // The small picture is what the picture shows of this very frame.
  picture_->Draw(full);
  const batch::TSnapshotFiles files =
      batch::WriteSnapshots(settingsFile_, full, ToBitmap(picture_->Canvas()));
  if (!files.Error.empty())
    platform::Prompt().Message(files.Error, kSnapshotFailureTitle, platform::TPromptIcon::Warning);
}

}  // namespace app
