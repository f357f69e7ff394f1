#include "profiles/jobbuilder.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "platform/inifile.h"
#include "platform/prompt.h"
#include "platform/text.h"
#include "profiles/parameterpanel.h"
#include "profiles/settings.h"

namespace profiles {

namespace {

constexpr char kAsSource[] = "as source";

// Video encoders handed to the engine by name; any other stored encoder (a container name such as
// "flv" or "3gp") leaves the choice to the container.
constexpr const char* kEngineVideoEncoders[] = {
    "mpeg4", "libxvid", "mpeg1video", "mpeg2video", "msmpeg4", "msmpeg4v1", "msmpeg4v2",
    "huffyuv", "dvvideo", "rawvideo", "h263p", "h263", "rv10", "rv20", "ljpeg", "mjpeg", "svq1",
    "zlib", "wmv1", "wmv2", "libx264"};

// "Format" values that name the output container.
constexpr const char* kContainerFormats[] = {"ipod", "3gp", "3g2", "avi", "psp",
                                             "mov",  "vcd", "flv", "mpegts", "vob"};

// Sizes H.263 encodes as they are.
constexpr char kH263Sizes[] = "704x576,352x288,176x144,160x120,128x96";

// The size asked for when the stored one cannot be read.
constexpr int kFallbackWidth = 320, kFallbackHeight = 240;

struct TDiscTarget {
  const char* format;
  int type, norm;
  const char* wideSize;  // the frame size that makes the disc 16:9; null: always 4:3
};
constexpr TDiscTarget kDiscTargets[] = {
    {"ntsc-dvd", 3, 2, "720x480"}, {"pal-dvd", 3, 1, "720x576"},  {"ntsc-vcd", 1, 2, nullptr},
    {"pal-vcd", 1, 1, nullptr},    {"ntsc-svcd", 2, 2, nullptr}, {"pal-svcd", 2, 1, nullptr}};

// A numeric or integral text as a number.
std::optional<double> Numeric(const std::string& text) {
  if (!IsDecimalText(text)) return std::nullopt;
  return std::strtod(text.c_str(), nullptr);
}

int Even(int n) { return n / 2 * 2; }

std::string Size(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }
std::string Aspect(int w, int h) { return std::to_string(w) + ":" + std::to_string(h); }

int ClampToInt(int64_t value) {
  return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
}

// Reads the profile's stored values from the settings file section.
class TProfileValues {
 public:
  TProfileValues(const std::string& settingsFile, int code)
      : ini_(settingsFile), section_(FormatInfoSection(code)) {}
  std::string Get(std::string_view key, std::string_view def) const {
    return ini_.ReadString(section_, key, def);
  }

 private:
  platform::TIniFile ini_;
  std::string section_;
};

// "paraVolume": unset for 256 (unchanged); any other value must be an integer.
void ApplyVolume(const TProfileValues& para, engine::TOutputOptions& output) {
  const std::string volume = para.Get("paraVolume", "3");
  if (volume == "256") return;
  const std::optional<int> value = ParseIntegerText(platform::TrimText(volume));
  if (!value) throw std::invalid_argument("'" + volume + "' is not a valid integer value");
  output.AudioVolume = *value;
}

// "paraAudioBitRate" in kbit/s, decimals allowed.
void ApplyAudioBitRate(const TProfileValues& para, engine::TOutputOptions& output) {
  const std::string rate = para.Get("paraAudioBitRate", "128");
  if (rate == kAsSource) return;
  if (const std::optional<double> kbits = Numeric(rate)) {
    // Truncated to whole bits; the small allowance keeps a decimal text such as "12.2" from
    // losing a bit to its binary approximation.
    const double bits = std::trunc(*kbits * 1000 + 1e-6);
    if (bits > 0 && bits < double(INT_MAX)) output.AudioBitrate = static_cast<int>(bits);
  }
}

// A positive integral value of a key, as "paraSampleRate" and the audio-only "paraChannel" take.
std::optional<int> PositiveIntegral(const TProfileValues& para, std::string_view key,
                                    std::string_view def) {
  const std::string text = para.Get(key, def);
  if (text == kAsSource) return std::nullopt;
  const std::optional<int> value = ParseIntegerText(text);
  if (!value || *value <= 0) return std::nullopt;
  return value;
}

void BuildAudioOnly(const TProfileValues& para, engine::TOutputOptions& output,
                    engine::TInputOptions& input) {
  output.AudioCodec = para.Get("paraAudioEncoder", "libfaac");
  if (const auto channels = PositiveIntegral(para, "paraChannel", "2"))
    output.AudioChannels = *channels;
  if (const auto rate = PositiveIntegral(para, "paraSampleRate", "44100"))
    output.AudioSampleRate = *rate;
  ApplyAudioBitRate(para, output);
  ApplyVolume(para, output);
  // The source's video is not even decoded.
  input.ExtOptions = "vn=1";
  output.DisableVideo = true;
  output.DisableSubtitle = true;
}

void BuildVideoProfileAudio(const TProfileValues& para, engine::TOutputOptions& output) {
  std::string encoder = para.Get("paraAudioEncoder", "");
  if (encoder == "libamr_nb") encoder = "libopencore_amrnb";
  output.AudioCodec = encoder;
  if (platform::TrimText(encoder).empty()) output.DisableAudio = true;
  const std::string channels = para.Get("paraChannel", "2");
  if (channels != kAsSource)
    if (const std::optional<int> value = ParseIntegerText(channels)) output.AudioChannels = *value;
  ApplyVolume(para, output);
  if (const auto rate = PositiveIntegral(para, "paraSampleRate", "44100"))
    output.AudioSampleRate = *rate;
  ApplyAudioBitRate(para, output);
}

// The H.264 settings the profile copied into the settings file when its encoder was chosen:
// maximum rate and buffer size (bits), level (e.g. 30 = 3.0), a constant quantizer, key frame
// interval, entropy coder (0 CAVLC, 1 CABAC) and bit-exact output.
void ApplyH264Extras(const TProfileValues& para, engine::TOutputOptions& output) {
  const auto positive = [&](const char* key) -> std::optional<int> {
    const std::optional<int> value = ParseIntegerText(platform::TrimText(para.Get(key, "")));
    return value && *value > 0 ? value : std::nullopt;
  };
  std::string lines;
  const auto addLine = [&](const std::string& line) {
    lines += (lines.empty() ? "" : "\n") + line;
  };
  if (const auto rate = positive("paraMaxBitrate")) output.VideoMaxRate = *rate;
  if (const auto size = positive("paraBufferSize")) output.VideoBufSize = *size;
  if (const auto gop = positive("paraGop")) output.GOPSize = *gop;
  if (const auto level = positive("paraLevel")) addLine("level=" + std::to_string(*level));
  if (const auto q = positive("paraQscale")) addLine("qp=" + std::to_string(*q));
  const std::optional<int> coder = ParseIntegerText(platform::TrimText(para.Get("paraCoder", "")));
  if (coder && *coder >= 0) addLine("coder=" + std::to_string(*coder));
  if (platform::SameTextAscii(platform::TrimText(para.Get("paraBitExact", "")), "true"))
    addLine("flags=+bitexact");
  if (lines.empty()) return;
  output.ExtOptions = output.ExtOptions.empty() ? lines : output.ExtOptions + "\n" + lines;
}

// The source as it is seen. Its upright pixels become display pixels by the factors
// sx = DisplayWidth / Width and sy = DisplayHeight / Height (both 1 for square pixels), kept as
// reduced fractions so that shapes compare exactly.
class TSeenSource {
 public:
  explicit TSeenSource(const TJobSource& src)
      : width_(src.Width), height_(src.Height) {
    const int dw = src.DisplayWidth > 0 ? src.DisplayWidth : src.Width;
    const int dh = src.DisplayHeight > 0 ? src.DisplayHeight : src.Height;
    Reduce(dw, src.Width, sxNum_, sxDen_);
    Reduce(dh, src.Height, syNum_, syDen_);
  }
  int Width() const { return width_; }
  int Height() const { return height_; }
  // The display size of the source, the target of an "as source" frame size.
  int DisplayWidth() const { return ClampToInt(int64_t{width_} * sxNum_ / sxDen_); }
  int DisplayHeight() const { return ClampToInt(int64_t{height_} * syNum_ / syDen_); }
  // A w x h part of the upright picture as seen, both sides scaled alike: only its shape counts.
  // Square pixels give w x h itself.
  int64_t ShapeWidth(int w) const { return int64_t{w} * sxNum_ * syDen_; }
  int64_t ShapeHeight(int h) const { return int64_t{h} * syNum_ * sxDen_; }
  // The upright pixels a w x h part keeps of its width (or height) when it is cut to the
  // target's W:H shape as seen, truncated.
  int64_t WidthOfShape(int h, int W, int H) const {
    return int64_t{h} * syNum_ * sxDen_ * W / (int64_t{syDen_} * sxNum_ * H);
  }
  int64_t HeightOfShape(int w, int W, int H) const {
    return int64_t{w} * sxNum_ * syDen_ * H / (int64_t{sxDen_} * syNum_ * W);
  }

 private:
  static void Reduce(int64_t num, int64_t den, int64_t& outNum, int64_t& outDen) {
    if (num <= 0 || den <= 0) num = den = 1;
    const int64_t g = std::gcd(num, den);
    outNum = num / g;
    outDen = den / g;
  }
  int width_, height_;
  int64_t sxNum_ = 1, sxDen_ = 1, syNum_ = 1, syDen_ = 1;
};

// Per-side paddings that fit a picture of the shape shapeW x shapeH inside W x H keeping its
// shape: the vertical pair for a relatively wider picture, the horizontal pair for a taller one.
// Always even.
struct TPaddings {
  int vertical = 0;    // top = bottom
  int horizontal = 0;  // left = right
};
TPaddings FitPaddings(int64_t shapeW, int64_t shapeH, int W, int H) {
  TPaddings p;
  if (shapeW <= 0 || shapeH <= 0 || W <= 0 || H <= 0) return p;
  // shapeW / W against shapeH / H, compared exactly.
  const int64_t wide = shapeW * H, tall = shapeH * W;
  if (wide > tall) {
    const int64_t fitted = shapeH * W / shapeW;  // the picture's height scaled to width W
    p.vertical = 2 * ClampToInt((H - 2 * (fitted / 2)) / 4);
  } else if (wide < tall) {
    const int64_t fitted = shapeW * H / shapeH;
    p.horizontal = 2 * ClampToInt((W - 2 * (fitted / 2)) / 4);
  }
  return p;
}

// The zoom geometries, fitted to the picture as it is seen. W x H is the target size; F collects
// the zoom's filter text. Crop bands and the row's crop are in the upright picture's pixels.
void ApplyZoom(const TJobSource& src, int W, int H, engine::TOutputOptions& output,
               std::string& F) {
  const TSeenSource seen(src);
  const int srcW = src.Width, srcH = src.Height;
  const bool rowCrop =
      src.CropTop > 0 || src.CropBottom > 0 || src.CropLeft > 0 || src.CropRight > 0;

  if (src.Zoom == "full") {
    // Stretch the (row-cropped) source to the target.
    if (rowCrop) {
      output.CropTop = src.CropTop;
      output.CropBottom = src.CropBottom;
      output.CropLeft = src.CropLeft;
      output.CropRight = src.CropRight;
    }
    output.FrameSize = Size(W, H);
    output.AspectRatio = Aspect(W, H);
  } else if (src.Zoom == "lbox") {
    // Scale the (row-cropped) source to fit inside the target keeping its shape, pad the rest
    // black. The fit is that of the picture left after the crop, so a crop that changes the
    // shape is not stretched back to the uncropped source's shape.
    const int cw = srcW - src.CropLeft - src.CropRight;
    const int ch = srcH - src.CropTop - src.CropBottom;
    const TPaddings pad = FitPaddings(seen.ShapeWidth(cw), seen.ShapeHeight(ch), W, H);
    const int w = W - 2 * pad.horizontal, h = H - 2 * pad.vertical;
    output.AspectRatio = Aspect(w, h);
    const std::string padText = "pad=" + std::to_string(W) + ":" + std::to_string(H) + ":" +
                                std::to_string(pad.horizontal) + ":" +
                                std::to_string(pad.vertical);
    if (rowCrop) {
      // The row's crop runs in the filter chain (the engine's own bands stay 0), so the scale to
      // w x h comes after it and the frame size is left to the chain.
      F = "crop=x=" + std::to_string(src.CropLeft) + ":y=" + std::to_string(src.CropTop) +
          ":w=" + std::to_string(cw) + ":h=" + std::to_string(ch) + ",scale=" +
          std::to_string(w) + ":" + std::to_string(h) + "," + padText;
    } else {
      output.FrameSize = Size(w, h);
      F = padText;
    }
  } else if (src.Zoom == "pan") {
    // Cut the (row-cropped) source to the target's shape around its centre, then stretch it to
    // the target: the wider source loses equal bands left and right, the taller one top and
    // bottom.
    const int cw = srcW - src.CropLeft - src.CropRight;
    const int ch = srcH - src.CropTop - src.CropBottom;
    int sides = 0, ends = 0;
    if (cw > 0 && ch > 0 && W > 0 && H > 0) {
      const int64_t wide = seen.ShapeWidth(cw) * H, tall = seen.ShapeHeight(ch) * W;
      if (wide > tall)
        sides = Even(ClampToInt((cw - seen.WidthOfShape(ch, W, H)) / 2));
      else if (wide < tall)
        ends = Even(ClampToInt((ch - seen.HeightOfShape(cw, W, H)) / 2));
    }
    output.CropLeft = src.CropLeft + sides;
    output.CropRight = src.CropRight + sides;
    output.CropTop = src.CropTop + ends;
    output.CropBottom = src.CropBottom + ends;
    output.FrameSize = Size(W, H);
    output.AspectRatio = Aspect(W, H);
  } else if (src.Zoom == "center") {
    // Keep the whole picture centred on a black target: the engine scales it to fit, the pad
    // filter centres it.
    const TPaddings pad = FitPaddings(seen.ShapeWidth(srcW), seen.ShapeHeight(srcH), W, H);
    output.FrameSize = Size(W - 2 * pad.horizontal, H - 2 * pad.vertical);
    output.AspectRatio = Aspect(W, H);
    F = "pad=" + std::to_string(W) + ":" + std::to_string(H) + ":" +
        std::to_string(pad.horizontal) + ":" + std::to_string(pad.vertical) + ":black";
  }
}

}  // namespace

void BuildJobOptions(const std::string& settingsFile, const std::string& formatFile, int code,
                     const TJobSource& source, engine::TOutputOptions& output,
                     engine::TInputOptions& input) {
  EnsureProfileValues(settingsFile, formatFile, code);
  const TProfileValues para(settingsFile, code);
  const std::string format =
      platform::TIniFile(formatFile).ReadString(FormatInfoSection(code), "Format", "null");
  const std::string formatLower = platform::LowerAscii(format);
  // A trimmed row ends where its range ends.
  if (source.TrimDuration > 0) output.Duration = source.TrimDuration;

  // Disc targets. A disc player takes only the disc's own display aspect, so it stays whatever
  // the zoom makes of the picture.
  std::string discAspect;
  for (const TDiscTarget& disc : kDiscTargets) {
    if (formatLower != disc.format) continue;
    output.TargetType = disc.type;
    output.TargetNorm = disc.norm;
    discAspect =
        disc.wideSize && para.Get("paraVideoSize", "null") == disc.wideSize ? "16:9" : "4:3";
    output.AspectRatio = discAspect;
  }

  const std::string videoEncoder = para.Get("paraVideoEncoder", "");
  if (platform::TrimText(videoEncoder).empty()) {
    // A profile whose format lists video encoders converts video: without a stored encoder
    // its output would silently lose the source's picture.
    const std::string encoders = platform::TrimText(
        platform::TIniFile(formatFile).ReadString(FormatInfoSection(code), "VideoEncoder", "null"));
    if (source.HasVideo && !encoders.empty() && encoders != "null")
      throw std::runtime_error("Profile " + std::to_string(code) +
                               " has no video encoder stored (\"paraVideoEncoder\" is empty), "
                               "so its output would have no video.");
    BuildAudioOnly(para, output, input);
    return;
  }

  if (std::find_if(std::begin(kEngineVideoEncoders), std::end(kEngineVideoEncoders),
                   [&](const char* name) { return videoEncoder == name; }) !=
      std::end(kEngineVideoEncoders))
    output.VideoCodec = videoEncoder;
  if (videoEncoder == "mpeg2video") output.TargetType = 3;
  if (videoEncoder == "libx264") {
    output.VideoPreset = formatLower == "psp" || formatLower == "ipod" || formatLower == "ps3"
                             ? "libx264-" + formatLower
                             : "libx264-mp4";
    ApplyH264Extras(para, output);
  }

  if (!source.HasVideo) {
    output.DisableVideo = true;
    BuildVideoProfileAudio(para, output);
    return;
  }

  const std::string videoRate = para.Get("paraVideoBitRate", "512");
  const std::optional<int> kbits =
      videoRate == kAsSource ? std::nullopt : ParseIntegerText(videoRate);
  if (kbits) {
    if (*kbits > 0) output.VideoBitrate = ClampToInt(int64_t{*kbits} * 1000);
  } else {
    output.VideoBitrate = ClampToInt(source.VideoBitrate);
  }

  const std::string frameRate = para.Get("paraFrameRate", "29.97");
  if (frameRate != kAsSource)
    if (const std::optional<double> rate = Numeric(frameRate); rate && *rate > 0)
      output.FrameRate = frameRate;

  for (const char* container : kContainerFormats)
    if (formatLower == container) output.FileFormat = format;

  // "As source" and an unreadable side take the size the source is seen at.
  const TSeenSource seen(source);
  const int srcW = seen.DisplayWidth(), srcH = seen.DisplayHeight();
  int W = srcW, H = srcH;
  const std::string size = para.Get("paraVideoSize", "null");
  if (size != kAsSource) {
    const size_t x = size.find('x');
    if (x != std::string::npos && x > 0 && x + 1 < size.size()) {
      W = ParseIntegerText(size.substr(0, x)).value_or(srcW);
      H = ParseIntegerText(size.substr(x + 1)).value_or(srcH);
      // H.263 takes only its standard sizes: other widths go to the next larger one.
      if (platform::SameTextAscii(output.VideoCodec, "h263") &&
          std::string_view(kH263Sizes).find(size) == std::string_view::npos) {
        if (W > 352) {
          W = 704;
          H = 576;
        } else if (W > 176) {
          W = 352;
          H = 288;
        }
      }
    } else if (platform::Prompt().Question(kFrameSizeQuestion, kFrameSizeQuestionTitle,
                                           platform::TPromptIcon::Question)) {
      W = kFallbackWidth;
      H = kFallbackHeight;
    }
  }

  for (int* band : {&output.CropTop, &output.CropBottom, &output.CropLeft, &output.CropRight})
    if (*band == -1) *band = 0;

  std::string F;
  ApplyZoom(source, W, H, output, F);
  if (!discAspect.empty()) {
    output.AspectRatio = discAspect;
    // A filter chain hands its pictures on with their own sample aspect: the disc's display
    // aspect is set on the chain's last, whole picture.
    std::string dar = discAspect;
    dar[dar.find(':')] = '/';
    if (!F.empty()) F += ",setdar=" + dar;
  } else if (!F.empty()) {
    // A chain hands its pictures on with the samples its scaling derived from the source's,
    // which the even rounding of the picture area (and a source of non-square pixels) leaves
    // slightly off square. The zoom made the picture its seen shape in square pixels: a device
    // output says so.
    F += ",setsar=1";
  }
  if (!F.empty())
    output.VideoFilters = output.VideoFilters.empty() ? F : output.VideoFilters + "," + F;

  BuildVideoProfileAudio(para, output);
}

void BuildJobOptions(int code, const TJobSource& source, engine::TOutputOptions& output,
                     engine::TInputOptions& input) {
  BuildJobOptions(SettingsFilePath(), FormatFilePath(), code, source, output, input);
}

}  // namespace profiles
