// The task's options: the dispatcher that maps an option name to its effect on the option state,
// the typed setters the component calls directly, presets and disc targets.
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <ctime>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "engine/customffmpeg.h"
#include "engine/presets.h"
#include "media/ffapi.h"
#include "media/ffutils.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace engine {
namespace {




// Strict decimal conversions: surrounding blanks are allowed, anything else that is not part of
// the number is not. Malformed or out-of-range text raises std::invalid_argument naming it.
// A leading "+" is allowed before a digit only.
bool DropPlusSign(std::string& number) {
  if (number.empty() || number[0] != '+') return true;
  number.erase(0, 1);
  return !number.empty() && number[0] >= '0' && number[0] <= '9';
}

template <typename T>
bool ParseInteger(const std::string& text, T& value) {
  std::string number = platform::TrimText(text);
  if (!DropPlusSign(number) || number.empty()) return false;
  const char* end = number.data() + number.size();
  const auto [ptr, ec] = std::from_chars(number.data(), end, value);
  return ec == std::errc() && ptr == end;
}

int StrToInt(const std::string& text) {
  int value = 0;
  if (!ParseInteger(text, value))
    throw std::invalid_argument("'" + text + "' is not a valid integer value");
  return value;
}

int64_t StrToInt64(const std::string& text) {
  int64_t value = 0;
  if (!ParseInteger(text, value))
    throw std::invalid_argument("'" + text + "' is not a valid integer value");
  return value;
}

bool ParseReal(const std::string& text, double& value) {
  std::string number = platform::TrimText(text);
  if (!DropPlusSign(number) || number.empty()) return false;
  const char* end = number.data() + number.size();
  const auto [ptr, ec] = std::from_chars(number.data(), end, value);
  return ec == std::errc() && ptr == end && std::isfinite(value);
}

float StrToFloat(const std::string& text) {
  double value = 0;
  if (!ParseReal(text, value) || std::fabs(value) > FLT_MAX)
    throw std::invalid_argument("'" + text + "' is not a valid floating point value");
  return static_cast<float>(value);
}

bool StrToBool(const std::string& text) { return text != "0"; }

// C-style reading of a number at pos (leading blanks, sign; for integers also 0x hex and
// leading-0 octal): 0 when nothing numeric is there. pos moves past what was read.
long ReadCInteger(const std::string& text, size_t& pos) {
  if (pos >= text.size()) return 0;
  const char* start = text.c_str() + pos;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(start, &end, 0);
  pos += static_cast<size_t>(end - start);
  if (errno == ERANGE) return value < 0 ? INT_MIN : INT_MAX;
  return value;
}

double ReadCReal(const std::string& text, size_t& pos) {
  size_t p = pos;
  while (p < text.size() && static_cast<unsigned char>(text[p]) <= ' ') ++p;
  if (p < text.size() && text[p] == '+') ++p;
  double value = 0;
  const char* begin = text.data() + p;
  const auto [ptr, ec] = std::from_chars(begin, text.data() + text.size(), value);
  if (ec != std::errc() || ptr == begin) return 0;
  pos = static_cast<size_t>(ptr - text.data());
  return value;
}

// Moves past one separator character, whatever it is.
void SkipSeparator(const std::string& text, size_t& pos) {
  if (pos < text.size()) ++pos;
}

// Every line break (CR LF, CR, LF) becomes a line feed.
std::string UnifyLineBreaks(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      result += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      result += text[i];
    }
  }
  return result;
}

int64_t ParseTimeOption(const std::string& name, const std::string& value, bool duration) {
  int64_t microseconds = 0;
  if (ff::av_parse_time(&microseconds, value.c_str(), duration ? 1 : 0) < 0 ||
      microseconds == AV_NOPTS_VALUE)
    throw FFmpegException(media::FormatText("Invalid %s specification for %s: %s",
                                 duration ? "duration" : "date", name.c_str(), value.c_str()));
  return microseconds;
}

// A 4-character codec tag, first character in the lowest byte. Anything other than 4 characters
// is a programming error of the caller, reported like a failed assertion.
uint32_t CodecTag(const std::string& tag, const char* kind) {
  if (tag.size() != 4)
    throw std::invalid_argument(std::string(kind) + " tag parameter must be 4 chars");
  return static_cast<uint32_t>(static_cast<unsigned char>(tag[0])) |
         static_cast<uint32_t>(static_cast<unsigned char>(tag[1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(tag[2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(tag[3])) << 24;
}

// 64 comma-separated coefficients; an item that is not a number counts as 0.
void ParseMatrix(const std::string& text, std::vector<uint16_t>& matrix) {
  matrix.assign(64, 0);
  size_t pos = 0;
  for (int i = 0; i < 64; ++i) {
    const size_t comma = text.find(',', pos);
    const std::string item =
        text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    int value = 0;
    if (!ParseInteger(item, value)) value = 0;
    matrix[i] = static_cast<uint16_t>(value);
    if (i == 63) break;
    if (comma == std::string::npos)
      throw FFmpegException(media::FormatText("Syntax error in matrix \"%s\" at coeff %d", text.c_str(), i));
    pos = comma + 1;
  }
}

// Bitstream filters that carry a new name today.
std::string CurrentBitstreamFilterName(const std::string& name) {
  static const struct {
    const char* old;
    const char* current;
  } kRenamed[] = {{"imx_dump_header", "imxdump"},
                  {"mjpega_dump_header", "mjpegadump"},
                  {"mp3_header_decompress", "mp3decomp"}};
  for (const auto& r : kRenamed)
    if (name == r.old) return r.current;
  return name;
}

// Options that go to the generic store. "aspect" is the frame's display aspect in this
// vocabulary, while the libraries' option of that name is the sample aspect ratio, so it always
// goes to the aspect setter instead.
bool SetStoreOption(TCustomFFmpeg& task, const std::string& name, const std::string& value) {
  const std::string trimmed = platform::TrimText(name);
  if (trimmed == "aspect") {
    task.SetAspect(platform::TrimText(value));
    return true;
  }
  // With a media letter in front the store would reach the sample aspect option as well.
  if (trimmed == "vaspect" || trimmed == "aaspect" || trimmed == "saspect") return false;
  return task.GenericOptions().Set(name, value);
}

using THandler = void (*)(TCustomFFmpeg& task, const std::string& name, const std::string& value);

// One row of the dispatcher: the option names (separated by spaces) and their handler.
struct TOptionRow {
  const char* names;
  THandler handler;
};

}  // namespace

// ---- Dispatcher ------------------------------------------------------------------------------

void TCustomFFmpeg::SetOption(const std::string& name, const std::string& value) {
  // The rows in order; the first row naming the option decides. The handlers are written here so
  // that they reach the task's protected state.
  static const TOptionRow kRows[] = {
      {"L h version formats codecs bsfs protocols filters i y benchmark",
       [](TCustomFFmpeg& t, const std::string& n, const std::string&) {
         t.Log(media::llInfo, "Do nothing: option - " + n);
       }},
      {"loglevel",
       [](TCustomFFmpeg&, const std::string&, const std::string& v) {
         media::GetLogger().SetLogLevelByName(v);
       }},
      {"f", [](TCustomFFmpeg& t, const std::string&, const std::string& v) { t.SetFormat(v); }},
      {"map",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         if (t.state_->streamMaps.size() >= static_cast<size_t>(MAX_STREAM_MAPS))
           throw FFmpegException(
               media::FormatText("Too many stream maps: at most %d are allowed", MAX_STREAM_MAPS));
         TStreamMap map;
         size_t pos = 0;
         map.file = static_cast<int>(ReadCInteger(v, pos));
         SkipSeparator(v, pos);
         map.stream = static_cast<int>(ReadCInteger(v, pos));
         SkipSeparator(v, pos);
         // A separator with nothing after it does not start a sync part.
         if (pos < v.size()) {
           map.syncFile = static_cast<int>(ReadCInteger(v, pos));
           SkipSeparator(v, pos);
           map.syncStream = static_cast<int>(ReadCInteger(v, pos));
         } else {
           map.syncFile = map.file;
           map.syncStream = map.stream;
         }
         t.state_->streamMaps.push_back(map);
       }},
      {"map_meta_data",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         if (t.state_->metaDataMaps.size() >= static_cast<size_t>(MAX_META_DATA_MAPS))
           throw FFmpegException(
               media::FormatText("Too many metadata maps: at most %d are allowed", MAX_META_DATA_MAPS));
         TMetaDataMap map;
         size_t pos = 0;
         map.outFile = static_cast<int>(ReadCInteger(v, pos));
         SkipSeparator(v, pos);
         map.inFile = static_cast<int>(ReadCInteger(v, pos));
         t.state_->metaDataMaps.push_back(map);
       }},
      {"t",
       [](TCustomFFmpeg& t, const std::string& n, const std::string& v) {
         t.SetRecordingTime(ParseTimeOption(n, v, true));
       }},
      {"fs",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->limitFileSize = StrToInt64(v);
       }},
      {"ss",
       [](TCustomFFmpeg& t, const std::string& n, const std::string& v) {
         t.state_->startTime = ParseTimeOption(n, v, true);
       }},
      {"itsoffset",
       [](TCustomFFmpeg& t, const std::string& n, const std::string& v) {
         t.state_->inputTsOffset = ParseTimeOption(n, v, true);
       }},
      {"itsscale",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         size_t pos = 0;
         const long stream = ReadCInteger(v, pos);
         SkipSeparator(v, pos);
         const double scale = ReadCReal(v, pos);
         if (stream >= MAX_STREAMS)
           throw FFmpegException(media::FormatText("stream index over MAX_STREAMS(%d)", MAX_STREAMS));
         if (stream < 0)
           throw FFmpegException(media::FormatText("Invalid stream index %ld for option itsscale", stream));
         if (t.InputCount() >= MAX_FILES)
           throw FFmpegException(media::FormatText("Too many input files (at most %d)", MAX_FILES));
         auto& scales = t.state_->inputFilesTsScale;
         if (static_cast<int>(scales.size()) <= t.InputCount()) scales.resize(t.InputCount() + 1);
         scales[t.InputCount()][stream] = scale;
       }},
      {"timestamp",
       [](TCustomFFmpeg& t, const std::string& n, const std::string& v) {
         t.SetRecordingTimestamp(std::llround(ParseTimeOption(n, v, false) / 1000000.0));
       }},
      {"metadata",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         const size_t equals = v.find('=');
         if (equals == std::string::npos) throw FFmpegException("Missing =");
         t.AddMetadata(v.substr(0, equals), v.substr(equals + 1));
       }},
      {"dframes",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->maxFrames[AVMEDIA_TYPE_DATA] = StrToInt(v);
       }},
      {"timelimit",
       [](TCustomFFmpeg& t, const std::string&, const std::string&) {
         t.Log(media::llWarning, "Warning: -timelimit not implemented on Linux");
       }},
      {"dump",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->doPktDump = StrToBool(v);
       }},
      {"hex",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->doHexDump = StrToBool(v);
       }},
      {"re",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->rateEmu = StrToBool(v);
       }},
      {"loop_input",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->loopInput = StrToBool(v);
       }},
      {"loop_output",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->loopOutput = StrToInt(v);
       }},
      {"v",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.SetVerbose(StrToInt(v));
       }},
      {"target",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         const std::string text = platform::TrimText(v);
         std::string norm = "auto", kind = text;
         for (const char* prefix : {"pal-", "ntsc-", "film-"}) {
           const std::string p = prefix;
           if (text.compare(0, p.size(), p) == 0) {
             norm = p.substr(0, p.size() - 1);
             kind = text.substr(p.size());
             break;
           }
         }
         t.SetTarget(kind, norm, "ntsc");
       }},
      {"threads",
       [](TCustomFFmpeg& t, const std::string& n, const std::string& v) {
         const int count = StrToInt(v);
         if (count < 0)
           throw FFmpegException(
               media::FormatText("Invalid value \"%s\" for option \"%s\", 0 (automatic) or more is required",
                      v.c_str(), n.c_str()));
         t.state_->threadCount = count;
       }},
      {"vsync",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.SetVideoSync(StrToInt(v));
       }},
      {"async",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.SetAudioSync(StrToInt(v));
       }},
      {"adrift_threshold",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->audioDriftThreshold = StrToFloat(v);
       }},
      {"vglobal",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->videoGlobalHeader = StrToInt(v);
       }},
      {"copyts",
       [](TCustomFFmpeg& t, const std::string&, const std::string&) { t.state_->copyTs = true; }},
      {"shortest",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->optShortest = StrToBool(v);
       }},
      {"dts_delta_threshold",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->dtsDeltaThreshold = StrToFloat(v);
       }},
      {"programid",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->optProgramID = StrToInt(v);
       }},
      {"xerror",
       [](TCustomFFmpeg& t, const std::string&, const std::string&) {
         t.state_->exitOnError = true;
       }},
      {"copyinkf",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->copyInitialNonKeyframes = StrToInt(v);
       }},
      {"b vb ab",
       [](TCustomFFmpeg& t, const std::string& n, const std::string& v) {
         if (!t.GenericOptions().Set(n, v)) return;
         int64_t bitRate = 0;
         const AVMediaType type = n[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO;
         if (t.GenericOptions().CodecDefaultInt("b", type, bitRate) && bitRate < 1000)
           t.Log(media::llWarning,
                 "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, "
                 "not kbits/s");
       }},
      {"vframes",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->maxFrames[AVMEDIA_TYPE_VIDEO] = StrToInt(v);
       }},
      {"r", [](TCustomFFmpeg& t, const std::string&, const std::string& v) { t.SetFrameRate(v); }},
      {"s", [](TCustomFFmpeg& t, const std::string&, const std::string& v) { t.SetFrameSize(v); }},
      {"aspect",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) { t.SetAspect(v); }},
      {"pix_fmt",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         if (v == "list") {
           char line[512];
           for (int i = -1; i <= 66; ++i) {
             line[0] = '\0';
             ff::av_get_pix_fmt_string(line, sizeof line, static_cast<AVPixelFormat>(i));
             t.Log(media::llInfo, platform::TrimText(line));
           }
           return;
         }
         const AVPixelFormat format = ff::av_get_pix_fmt(v.c_str());
         if (format == AV_PIX_FMT_NONE)
           throw FFmpegException(media::FormatText("Unknown pixel format requested: %s", v.c_str()));
         t.state_->framePixFmt = format;
       }},
      {"croptop",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.SetCropTop(StrToInt(v));
       }},
      {"cropbottom",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.SetCropBottom(StrToInt(v));
       }},
      {"cropleft",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.SetCropLeft(StrToInt(v));
       }},
      {"cropright",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.SetCropRight(StrToInt(v));
       }},
      {"padtop padbottom padleft padright padcolor",
       [](TCustomFFmpeg&, const std::string&, const std::string&) {
         throw FFmpegException("Please use vfilters=pad");
       }},
      {"intra",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->intraOnly = StrToBool(v);
       }},
      {"vn",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->videoDisable = StrToBool(v);
       }},
      {"vdt",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->videoDiscard = StrToInt(v);
       }},
      {"qscale",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         const float q = StrToFloat(v);
         if (!(q > 0 && q <= 255)) throw FFmpegException("qscale must be > 0.0 and <= 255");
         t.state_->videoQScale = q;
       }},
      {"rc_override",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->videoRcOverride = v;
       }},
      {"vcodec",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) { t.SetVideoCodec(v); }},
      {"me_threshold",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->meThreshold = StrToInt(v);
       }},
      {"sameq",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->sameQuality = StrToBool(v);
       }},
      {"pass",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         const int pass = StrToInt(v);
         if (pass != 1 && pass != 2) throw FFmpegException("pass number can be only 1 or 2");
         t.state_->doPass = pass;
       }},
      {"passlogfile",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->passLogFileName = v;
       }},
      {"deinterlace",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->doDeinterlace = StrToBool(v);
       }},
      {"psnr",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->doPSNR = StrToBool(v);
       }},
      {"vstats",
       [](TCustomFFmpeg& t, const std::string&, const std::string&) {
         const time_t now = std::time(nullptr);
         tm local{};
         localtime_r(&now, &local);
         char clock[16];
         std::strftime(clock, sizeof clock, "%H%M%S", &local);
         const std::string folder = platform::ExecutableFolder() + "/";
         t.state_->vstatsFileName = media::FormatText("%svstats_%s.log", folder.c_str(), clock);
       }},
      {"vstats_file",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->vstatsFileName = v;
       }},
      {"vhook",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) { t.SetVideoHook(v); }},
      {"vfilters vf",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) { t.SetVideoFilters(v); }},
      {"intra_matrix",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         ParseMatrix(v, t.state_->intraMatrix);
       }},
      {"inter_matrix",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         ParseMatrix(v, t.state_->interMatrix);
       }},
      {"top",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->topFieldFirst = StrToInt(v);
       }},
      {"dc",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->intraDcPrecision = StrToInt(v);
       }},
      {"vtag",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) { t.SetVideoTag(v); }},
      {"newvideo",
       [](TCustomFFmpeg& t, const std::string&, const std::string&) { t.AddVideoStream(); }},
      {"vlang",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->videoLanguage = v;
       }},
      {"qphist",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->qpHist = StrToBool(v);
       }},
      {"force_fps",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->forceFps = StrToBool(v);
       }},
      {"streamid",
       [](TCustomFFmpeg& t, const std::string& n, const std::string& v) {
         const size_t colon = v.find(':');
         if (colon == std::string::npos || colon == 0 || colon + 1 == v.size())
           throw FFmpegException(
               media::FormatText("Invalid value \"%s\" for option \"%s\", required syntax is \"index:value\"",
                      v.c_str(), n.c_str()));
         const int index = StrToInt(v.substr(0, colon));
         const int id = StrToInt(v.substr(colon + 1));
         if (index < 0 || index >= MAX_STREAMS)
           throw FFmpegException(
               media::FormatText("Invalid stream index %d for option \"%s\", it must be 0 to %d", index,
                      n.c_str(), MAX_STREAMS - 1));
         t.state_->streamidMap[index] = id;
       }},
      {"aframes",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->maxFrames[AVMEDIA_TYPE_AUDIO] = StrToInt(v);
       }},
      {"aq",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->audioQScale = StrToFloat(v);
       }},
      {"ar",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.SetAudioSampleRate(StrToInt(v));
       }},
      {"ac",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.SetAudioChannels(StrToInt(v));
       }},
      {"an",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->audioDisable = StrToBool(v);
       }},
      {"acodec",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) { t.SetAudioCodec(v); }},
      {"atag",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) { t.SetAudioTag(v); }},
      {"vol",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->audioVolume = StrToInt(v);
       }},
      {"newaudio",
       [](TCustomFFmpeg& t, const std::string&, const std::string&) { t.AddAudioStream(); }},
      {"alang",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->audioLanguage = v;
       }},
      {"sample_fmt",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         if (v == "list") {
           char line[256];
           for (int i = -1; i <= 4; ++i) {
             line[0] = '\0';
             ff::av_get_sample_fmt_string(line, sizeof line, static_cast<AVSampleFormat>(i));
             t.Log(media::llInfo, platform::TrimText(line));
           }
           return;
         }
         t.state_->audioSampleFmt = ff::av_get_sample_fmt(v.c_str());
       }},
      {"sn",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->subtitleDisable = StrToBool(v);
       }},
      {"scodec",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) { t.SetSubtitleCodec(v); }},
      {"newsubtitle",
       [](TCustomFFmpeg& t, const std::string&, const std::string&) { t.AddSubtitleStream(); }},
      {"slang",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->subtitleLanguage = v;
       }},
      {"stag",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         if (!v.empty()) t.state_->subtitleCodecTag = CodecTag(v, "subtitle");
       }},
      {"vc",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->videoChannel = StrToInt(v);
       }},
      {"tvstd",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->videoStandard = v;
       }},
      {"isync",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->inputSync = StrToBool(v);
       }},
      {"muxdelay",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->muxMaxDelay = StrToFloat(v);
       }},
      {"muxpreload",
       [](TCustomFFmpeg& t, const std::string&, const std::string& v) {
         t.state_->muxPreload = StrToFloat(v);
       }},
      {"absf vbsf sbsf",
       [](TCustomFFmpeg& t, const std::string& n, const std::string& v) {
         if (!v.empty() && v[0] == '=') return;
         const std::string text = platform::TrimText(v);
         const size_t equals = text.find('=');
         TBitstreamFilterEntry filter;
         filter.name = CurrentBitstreamFilterName(platform::TrimText(text.substr(0, equals)));
         if (equals != std::string::npos) filter.args = text.substr(equals + 1);
         if (filter.name.empty() || !ff::av_bsf_get_by_name(filter.name.c_str()))
           throw FFmpegException(media::FormatText("Unknown bitstream filter %s", text.c_str()));
         std::vector<TBitstreamFilterEntry>& chain =
             n[0] == 'a'   ? t.state_->audioBitstreamFilters
             : n[0] == 'v' ? t.state_->videoBitstreamFilters
                           : t.state_->subtitleBitstreamFilters;
         chain.push_back(std::move(filter));
       }},
      {"apre vpre spre fpre",
       [](TCustomFFmpeg& t, const std::string& n, const std::string& v) { t.ApplyPreset(n, v); }},
  };

  static const std::unordered_map<std::string, THandler> kHandlers = [] {
    std::unordered_map<std::string, THandler> handlers;
    for (const TOptionRow& row : kRows) {
      const std::string names = row.names;
      size_t pos = 0;
      while (pos < names.size()) {
        size_t space = names.find(' ', pos);
        if (space == std::string::npos) space = names.size();
        handlers.emplace(names.substr(pos, space - pos), row.handler);  // first row wins
        pos = space + 1;
      }
    }
    return handlers;
  }();

  const auto found = kHandlers.find(name);
  if (found != kHandlers.end()) {
    found->second(*this, name, value);
    return;
  }
  // Everything else is a library option; whether it was accepted is not checked here.
  SetStoreOption(*this, name, value);
}

// ---- Typed setters ---------------------------------------------------------------------------

void TCustomFFmpeg::SetFormat(const std::string& name) {
  if (name.empty()) return;
  if (name == "pgmyuv") {
    state_->formatName = "image2";
    state_->pgmyuvCompatibility = true;
    Log(media::llInfo, "pgmyuv format is deprecated, use image2");
    return;
  }
  state_->formatName = name;
}

void TCustomFFmpeg::SetVerbose(int verbose) {
  if (state_)
    state_->verbose = verbose;
  else
    releasedVerbose_ = verbose;  // a parked task keeps it for when it is set up again
}

int TCustomFFmpeg::Verbose() const { return state_ ? state_->verbose : releasedVerbose_; }

void TCustomFFmpeg::SetFrameRate(const std::string& rate) {
  if (rate.empty()) return;
  AVRational parsed{0, 0};
  if (ff::av_parse_video_rate(&parsed, rate.c_str()) < 0)
    throw FFmpegException("Incorrect frame rate");
  state_->frameRate = parsed;
}

void TCustomFFmpeg::SetFrameSize(const std::string& size) {
  if (size.empty()) return;
  int width = 0, height = 0;
  if (ff::av_parse_video_size(&width, &height, size.c_str()) < 0)
    throw FFmpegException("Incorrect frame size");
  state_->frameWidth = width;
  state_->frameHeight = height;
}

void TCustomFFmpeg::SetAspect(const std::string& aspect) {
  if (aspect.empty()) return;
  double ratio = 0;
  const size_t colon = aspect.find(':');
  if (colon != std::string::npos) {
    int x = 0, y = 0;
    if (!ParseInteger(aspect.substr(0, colon), x)) x = 0;
    if (!ParseInteger(aspect.substr(colon + 1), y)) y = 0;
    ratio = y > 0 ? static_cast<double>(x) / y : 0;
  } else if (!ParseReal(aspect, ratio)) {
    ratio = 0;
  }
  // A display aspect is a positive number; zero, negative or unreadable ones are refused.
  if (!(ratio > 0) || ratio > FLT_MAX)
    throw FFmpegException("Incorrect aspect ratio specification.");
  state_->frameAspectRatio = static_cast<float>(ratio);
}

namespace {
const char* const kVerticalCropMessage =
    "Vertical crop dimensions are outside the range of the original image.\n"
    "Remember to crop first and scale second.";
const char* const kHorizontalCropMessage =
    "Horizontal crop dimensions are outside the range of the original image.\n"
    "Remember to crop first and scale second.";
const char* const kCropDeprecated = "CropXXX is deprecated in favor of the crop avfilter";
}  // namespace

namespace {

// A crop band: ignored when not positive, refused when it leaves no picture, else stored and
// taken off the frame's extent along that axis.
void ApplyCropBand(int value, int& band, int& extent, const char* outsideMessage,
                   const std::function<void()>& logDeprecated) {
  if (value <= 0) return;
  if (value >= extent) throw FFmpegException(outsideMessage);
  logDeprecated();
  band = value;
  extent -= value;
}

}  // namespace

void TCustomFFmpeg::SetCropTop(int value) {
  ApplyCropBand(value, state_->frameTopBand, state_->frameHeight, kVerticalCropMessage,
                [this] { Log(media::llWarning, kCropDeprecated); });
}

void TCustomFFmpeg::SetCropBottom(int value) {
  ApplyCropBand(value, state_->frameBottomBand, state_->frameHeight, kVerticalCropMessage,
                [this] { Log(media::llWarning, kCropDeprecated); });
}

void TCustomFFmpeg::SetCropLeft(int value) {
  ApplyCropBand(value, state_->frameLeftBand, state_->frameWidth, kHorizontalCropMessage,
                [this] { Log(media::llWarning, kCropDeprecated); });
}

void TCustomFFmpeg::SetCropRight(int value) {
  ApplyCropBand(value, state_->frameRightBand, state_->frameWidth, kHorizontalCropMessage,
                [this] { Log(media::llWarning, kCropDeprecated); });
}

void TCustomFFmpeg::SetAudioChannels(int channels) {
  if (channels > 0) state_->audioChannels = channels;
}

void TCustomFFmpeg::SetAudioSampleRate(int rate) {
  if (rate > 0) state_->audioSampleRate = rate;
}

void TCustomFFmpeg::SetAudioVolume(int volume) {
  if (volume >= 0) state_->audioVolume = volume;
}

void TCustomFFmpeg::SetAudioSync(int method) { state_->audioSyncMethod = method; }

void TCustomFFmpeg::SetVideoSync(int method) { state_->videoSyncMethod = method; }

void TCustomFFmpeg::SetMuxDelay(float seconds) {
  if (seconds > 0) state_->muxMaxDelay = seconds;
}

void TCustomFFmpeg::SetMuxPreload(float seconds) {
  if (seconds > 0) state_->muxPreload = seconds;
}

// A codec name, or "copy" for stream copy of that media type. The name of a copied type stays
// empty; an earlier copy is not undone by a later name.
namespace {
void SetCodecName(const std::string& value, std::string& codecName, bool& streamCopy) {
  if (value.empty()) return;
  codecName.clear();
  if (value == "copy")
    streamCopy = true;
  else
    codecName = value;
}
}  // namespace

void TCustomFFmpeg::SetVideoCodec(const std::string& name) {
  SetCodecName(name, state_->videoCodecName, state_->videoStreamCopy);
}

void TCustomFFmpeg::SetAudioCodec(const std::string& name) {
  SetCodecName(name, state_->audioCodecName, state_->audioStreamCopy);
}

void TCustomFFmpeg::SetSubtitleCodec(const std::string& name) {
  SetCodecName(name, state_->subtitleCodecName, state_->subtitleStreamCopy);
}

void TCustomFFmpeg::SetVideoTag(const std::string& tag) {
  if (!tag.empty()) state_->videoCodecTag = CodecTag(tag, "video");
}

void TCustomFFmpeg::SetAudioTag(const std::string& tag) {
  if (!tag.empty()) state_->audioCodecTag = CodecTag(tag, "audio");
}

void TCustomFFmpeg::SetVideoFilters(const std::string& filters) {
  if (!filters.empty()) state_->vfilters = filters;
}

void TCustomFFmpeg::SetStartTime(int64_t microseconds) {
  if (microseconds != AV_NOPTS_VALUE) state_->startTime = microseconds;
}

void TCustomFFmpeg::SetRecordingTime(int64_t microseconds) {
  if (microseconds == AV_NOPTS_VALUE) return;
  state_->recordingTime = microseconds;
  expectedDuration_ = microseconds;
}

void TCustomFFmpeg::SetProgramID(int id) {
  if (id >= 0) state_->optProgramID = id;
}

void TCustomFFmpeg::SetRecordingTimestamp(int64_t seconds) { state_->recTimestamp = seconds; }

void TCustomFFmpeg::AddMetadata(const std::string& key, const std::string& value) {
  state_->metadata.emplace_back(key, value);
}

bool TCustomFFmpeg::SetGenericOption(const std::string& name, int64_t value) {
  return SetStoreOption(*this, name, std::to_string(value));
}

// ---- Presets ---------------------------------------------------------------------------------

void TCustomFFmpeg::ApplyPreset(const std::string& option, const std::string& value) {
  if (value.empty()) return;
  std::string presetName = value;
  std::string text;
  bool builtin = false;
  if (option != "fpre") {
    const char* found = FindBuiltinPreset(presetName);
    if (!found) {
      // A short name belongs to the codec of the option's media type: "fast" with libx264
      // selected is "libx264-fast".
      if (option == "vpre" && !state_->videoCodecName.empty())
        presetName = state_->videoCodecName + "-" + value;
      else if (option == "apre" && !state_->audioCodecName.empty())
        presetName = state_->audioCodecName + "-" + value;
      else if (!state_->subtitleCodecName.empty())
        presetName = state_->subtitleCodecName + "-" + value;
      found = FindBuiltinPreset(presetName);
    }
    if (found) {
      text = found;
      builtin = true;
    }
  }
  if (!builtin) {
    // Otherwise the value names a preset file.
    std::vector<uint8_t> buffer;
    if (media::ReadWholeFile(value, buffer) != 0)
      throw FFmpegException(media::FormatText("Preset \"%s\" not found", value.c_str()));
    text.assign(reinterpret_cast<const char*>(buffer.data()), buffer.size() - 1);
  }

  text = UnifyLineBreaks(platform::TrimText(text));
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = platform::TrimText(std::string_view(text).substr(pos, end - pos));
    pos = end + 1;
    if (line.empty()) continue;
    const size_t equals = line.find('=');
    const std::string key = platform::TrimText(line.substr(0, equals));
    const std::string argument = equals == std::string::npos ? "" : platform::TrimText(line.substr(equals + 1));
    if (key.empty() || argument.empty())
      throw FFmpegException(
          media::FormatText("%s: Invalid syntax: \"%s\"", presetName.c_str(), line.c_str()));
    if (platform::SameTextAscii(key, "acodec")) {
      SetAudioCodec(argument);
    } else if (platform::SameTextAscii(key, "vcodec")) {
      SetVideoCodec(argument);
    } else if (platform::SameTextAscii(key, "scodec")) {
      SetSubtitleCodec(argument);
    } else if (!SetStoreOption(*this, key, argument)) {
      throw FFmpegException(media::FormatText("%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"",
                                   presetName.c_str(), line.c_str(), key.c_str(),
                                   argument.c_str()));
    }
  }
}

// ---- Disc targets ----------------------------------------------------------------------------

namespace {

// A frame rate in thousandths of a frame per second, rounded; 0 when the rate is not usable.
int64_t MilliFrameRate(AVRational rate) {
  if (rate.num <= 0 || rate.den <= 0) return 0;
  return std::llround(rate.num * 1000.0 / rate.den);
}

bool NormOfRate(int64_t milliRate, TTargetNorm& norm) {
  if (milliRate == 25000) {
    norm = TTargetNorm::PAL;
    return true;
  }
  if (milliRate == 29970 || milliRate == 23976) {
    norm = TTargetNorm::NTSC;
    return true;
  }
  return false;
}

}  // namespace

void TCustomFFmpeg::SetTarget(const std::string& kind, const std::string& norm,
                              const std::string& fallback) {
  TTargetNorm targetNorm = TTargetNorm::PAL;
  if (norm == "pal") {
    targetNorm = TTargetNorm::PAL;
  } else if (norm == "ntsc") {
    targetNorm = TTargetNorm::NTSC;
  } else if (norm == "film") {
    targetNorm = TTargetNorm::FILM;
  } else {
    // Automatic: the frame rate in force, then the video streams of the inputs opened so far,
    // then the fallback.
    if (state_->frameRate.den == 0) throw FFmpegException("frame_rate is invalid.");
    bool found = NormOfRate(MilliFrameRate(state_->frameRate), targetNorm);
    for (size_t i = 0; !found && i < inputFiles_.size(); ++i) {
      const AVFormatContext* ic = inputFiles_[i].ctx;
      for (unsigned k = 0; !found && k < ic->nb_streams; ++k) {
        const AVStream* st = ic->streams[k];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        // The stream's average frame rate, or the demuxer's guess of the base rate when the
        // average is unknown.
        int64_t milliRate = MilliFrameRate(st->avg_frame_rate);
        if (milliRate == 0) milliRate = MilliFrameRate(st->r_frame_rate);
        found = NormOfRate(milliRate, targetNorm);
      }
    }
    if (!found) {
      if (fallback == "film")
        targetNorm = TTargetNorm::FILM;
      else if (fallback == "ntsc")
        targetNorm = TTargetNorm::NTSC;
      else
        targetNorm = TTargetNorm::PAL;
    }
    if (state_->verbose > 0)
      LogFormat(media::llVerbose, "Assuming %s for target.",
                targetNorm == TTargetNorm::PAL ? "PAL" : "NTSC");
  }

  const bool pal = targetNorm == TTargetNorm::PAL;
  const char* frameRate = TargetFrameRate(targetNorm);
  const char* gop = pal ? "15" : "18";
  // Disc settings go straight to the store; a refusal means the libraries lack a disc format's
  // option, which no user can mend, so it is reported rather than ignored.
  auto store = [this, &kind](const char* name, const char* value) {
    if (!genericOptions_->Set(name, value))
      throw FFmpegException(media::FormatText("Target \"%s\": option %s=%s was refused", kind.c_str(), name,
                                   value));
  };
  auto defaultAspect = [this](const char* aspect) {
    if (state_->frameAspectRatio != 0) return;
    LogFormat(media::llInfo, "Assuming %s for aspect ratio", aspect);
    SetAspect(aspect);
  };

  if (kind == "vcd") {
    SetVideoCodec("mpeg1video");
    SetAudioCodec("mp2");
    SetFormat("vcd");
    SetFrameSize(pal ? "352x288" : "352x240");
    SetFrameRate(frameRate);
    // Disc players decode 4:2:0 pictures only.
    state_->framePixFmt = AV_PIX_FMT_YUV420P;
    store("g", gop);
    store("b", "1150000");
    store("maxrate", "1150000");
    store("minrate", "1150000");
    store("bufsize", "327680");
    store("ab", "224000");
    state_->audioSampleRate = 44100;
    state_->audioChannels = 2;
    store("packetsize", "2324");
    store("muxrate", "1411200");
    state_->muxPreload = 0.44f;
    defaultAspect("4:3");
  } else if (kind == "svcd") {
    SetVideoCodec("mpeg2video");
    SetAudioCodec("mp2");
    SetFormat("svcd");
    SetFrameSize(pal ? "480x576" : "480x480");
    SetFrameRate(frameRate);
    state_->framePixFmt = AV_PIX_FMT_YUV420P;
    store("g", gop);
    store("b", "2040000");
    store("maxrate", "2516000");
    store("minrate", "0");
    store("bufsize", "1835008");
    // Scan offsets in the picture user data, which SVCD players expect.
    store("scan_offset", "1");
    store("ab", "224000");
    state_->audioSampleRate = 44100;
    store("packetsize", "2324");
    if (state_->audioChannels == 1) state_->audioChannels = 2;
    defaultAspect("4:3");
  } else if (kind == "dvd") {
    SetVideoCodec("mpeg2video");
    SetAudioCodec("ac3");
    SetFormat("dvd");
    SetFrameSize(pal ? "720x576" : "720x480");
    SetFrameRate(frameRate);
    state_->framePixFmt = AV_PIX_FMT_YUV420P;
    store("g", gop);
    store("b", "6000000");
    store("maxrate", "9000000");
    store("minrate", "0");
    store("bufsize", "1835008");
    store("packetsize", "2048");
    store("muxrate", "10080000");
    store("ab", "448000");
    state_->audioSampleRate = 48000;
    if (state_->audioChannels == 1) state_->audioChannels = 2;
    defaultAspect("16:9");
  } else if (kind == "dv" || kind == "dv50") {
    SetFormat("dv");
    SetFrameSize(pal ? "720x576" : "720x480");
    state_->framePixFmt = kind == "dv50" ? AV_PIX_FMT_YUV422P
                         : pal          ? AV_PIX_FMT_YUV420P
                                        : AV_PIX_FMT_YUV411P;
    SetFrameRate(frameRate);
    state_->audioSampleRate = 48000;
    state_->audioChannels = 2;
  } else {
    throw FFmpegException("Unknown target type");
  }
}

// Frame-hook plug-ins are not loadable yet: the option is refused with the message the engine
// gives for a plug-in that cannot be set up.
void TCustomFFmpeg::SetVideoHook(const std::string& command) {
  if (frameHooks_.AddFrameHook(TFrameHookChain::SplitCommand(command)) != 0)
    throw FFmpegException("Failed to add video hook function: " + command);
  state_->usingVhook = true;
}

}  // namespace engine
