#include "effects/textcanvas.h"

#include <QColor>
#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPointF>
#include <QString>
#include <QtGlobal>

#include <clocale>
#include <mutex>
#include <stdexcept>

#include "media/fflogger.h"

namespace effects {
namespace {

// Pixels per inch of the canvas: point sizes become pixel sizes as on a 96-dpi desktop, whatever
// the platform reports, so a job draws the same text everywhere.
constexpr int kCanvasDpi = 96;

// Arguments of the application object made here; Qt keeps references to them for the life of
// the object, so they are static. "-platform offscreen" wins over QT_QPA_PLATFORM.
char gArg0[] = "videoconverter";
char gArg1[] = "-platform";
char gArg2[] = "offscreen";
char* gArgv[] = {gArg0, gArg1, gArg2, nullptr};
int gArgc = 3;

// Qt's own messages (start-up notes such as a missing runtime folder) go to the program's log
// instead of the error output, at their level: a program without windows shows them only when it
// shows the log.
void ForwardQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
  media::TLogLevel level = media::llInfo;
  switch (type) {
    case QtDebugMsg: level = media::llDebug; break;
    case QtInfoMsg: level = media::llInfo; break;
    case QtWarningMsg: level = media::llWarning; break;
    case QtCriticalMsg: level = media::llError; break;
    case QtFatalMsg: level = media::llFatal; break;
  }
  media::GetLogger().LogMessage(nullptr, level, "Qt: " + message.toStdString());
}

void CreateOffscreenApplication() {
  qInstallMessageHandler(ForwardQtMessage);
  // Qt's start-up sets the process locale from the environment; the rest of the program (number
  // formatting in option values, INI files) relies on the locale it had.
  const char* current = std::setlocale(LC_ALL, nullptr);
  const std::string savedLocale = current ? current : "C";
  // Never deleted: it serves every later text drawing, on any thread, until the process ends.
  new QGuiApplication(gArgc, gArgv);
  std::setlocale(LC_ALL, savedLocale.c_str());
}

// Round half away from zero of a * b / c, as the desktop's MulDiv does (positive c).
int MulDiv(int a, int b, int c) {
  const long long p = static_cast<long long>(a) * b;
  return static_cast<int>(p >= 0 ? (p + c / 2) / c : -((-p + c / 2) / c));
}

// The canvas's resolution on an image, so that point sizes give the canvas's pixel sizes.
void SetCanvasResolution(QImage& image) {
  const int dotsPerMeter = MulDiv(kCanvasDpi, 10000, 254);
  image.setDotsPerMeterX(dotsPerMeter);
  image.setDotsPerMeterY(dotsPerMeter);
}

QFont MakeQFont(const TextFont& font) {
  QFont qfont(QString::fromStdString(font.Name));
  // Without an installed family of that name the font database's substitution gives the
  // default sans-serif face.
  qfont.setStyleHint(QFont::SansSerif);
  if (font.Size > 0) {
    qfont.setPixelSize(MulDiv(font.Size, kCanvasDpi, 72));
  } else if (font.Size < 0) {
    qfont.setPixelSize(-font.Size);
  }
  qfont.setBold(font.Bold);
  qfont.setItalic(font.Italic);
  qfont.setUnderline(font.Underline);
  qfont.setStrikeOut(font.StrikeOut);
  return qfont;
}

}  // namespace

void EnsureGuiApplication() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (!QCoreApplication::instance()) CreateOffscreenApplication();
  });
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
    throw std::runtime_error(
        "Cannot draw text: the program's Qt application object is not a QGuiApplication");
}

media::TPictureArea TextArea(const std::string& text, const TextFont& font, int x, int y) {
  if (text.empty()) return {};
  EnsureGuiApplication();
  // Metrics at the canvas's resolution, as the text is drawn.
  QImage device(1, 1, QImage::Format_BGR888);
  SetCanvasResolution(device);
  const QFont qfont = MakeQFont(font);
  const QFontMetrics metrics(qfont, &device);
  const QString line = QString::fromStdString(text);
  const QRect cell(x, y, metrics.horizontalAdvance(line), metrics.height());
  const QRect glyphs = metrics.boundingRect(line).translated(x, y + metrics.ascent());
  const int margin = 2 + metrics.height() / 4;
  const QRect reach = cell.united(glyphs).adjusted(-margin, -margin, margin, margin);
  return {reach.x(), reach.y(), reach.width(), reach.height()};
}

void DrawTextOnBitmap(media::TBitmap& bitmap, const std::string& text, const TextFont& font,
                      int x, int y) {
  if (text.empty() || bitmap.Empty()) return;
  EnsureGuiApplication();
  // The bitmap's rows, top first, B G R bytes with 4-byte padded rows: exactly Format_BGR888
  // with the same stride. The image only borrows the memory.
  QImage image(bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.Stride(),
               QImage::Format_BGR888);
  SetCanvasResolution(image);

  QPainter painter(&image);
  painter.setFont(MakeQFont(font));
  painter.setPen(QColor(ColorRed(font.Color), ColorGreen(font.Color), ColorBlue(font.Color)));
  painter.setBackgroundMode(Qt::TransparentMode);
  painter.setRenderHint(QPainter::TextAntialiasing, true);
  // The point is on the baseline; the text cell's top is one ascent above it.
  const int ascent = painter.fontMetrics().ascent();
  painter.drawText(QPointF(x, y + ascent), QString::fromStdString(text));
  painter.end();
}

}  // namespace effects
