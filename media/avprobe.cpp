#include "media/avprobe.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <initializer_list>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "media/ffapi.h"
#include "media/ffloader.h"
#include "media/fflogger.h"
#include "media/ffutils.h"
#include "media/pictureshape.h"
#include "media/unicodeprotocol.h"

namespace media {
namespace {

constexpr char kFileNotLoaded[] = "file not loaded.";
constexpr AVRational kMicroseconds = {1, 1000000};


// ID3 frame names as they may still appear as metadata keys, and the plain names shown for them.
struct DisplayKey {
  const char* frame;
  const char* plain;
};
constexpr DisplayKey kId3DisplayKeys[] = {
    {"TALB", "album"},     {"TAL", "album"},      {"TCOM", "composer"},  {"TCON", "genre"},
    {"TCO", "genre"},      {"TCOP", "copyright"}, {"TDRL", "date"},      {"TENC", "encoder"},
    {"TEN", "encoder"},    {"TIT2", "title"},     {"TT2", "title"},      {"TLAN", "language"},
    {"TPE1", "artist"},    {"TP1", "artist"},     {"TPOS", "disc"},      {"TPUB", "publisher"},
    {"TRCK", "track"},     {"TRK", "track"},      {"TSOA", "albumsort"}, {"TSOP", "authorsort"},
    {"TSOT", "titlesort"}, {"TYER", "year"},
};

std::string DisplayKeyOf(const char* key) {
  for (const DisplayKey& k : kId3DisplayKeys)
    if (std::string_view(key) == k.frame) return k.plain;
  return key;
}

bool SameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The first of the keys the metadata holds (letter case ignored), also under the ID3 frame
// names shown as that key; nullptr when none is present.
const AVDictionaryEntry* FindTag(const AVDictionary* metadata,
                                 std::initializer_list<const char*> keys) {
  for (const char* key : keys)
    if (const AVDictionaryEntry* e = ff::av_dict_get(metadata, key, nullptr, 0)) return e;
  for (const char* key : keys)
    for (const DisplayKey& k : kId3DisplayKeys)
      if (SameKey(key, k.plain))
        if (const AVDictionaryEntry* e = ff::av_dict_get(metadata, k.frame, nullptr, 0)) return e;
  return nullptr;
}

std::string TagText(const AVDictionary* metadata, std::initializer_list<const char*> keys) {
  const AVDictionaryEntry* e = FindTag(metadata, keys);
  return e ? std::string(e->value) : std::string();
}

// The number a tag value starts with ("7/12" -> 7, "2010-05-12" -> 2010), at most maxDigits
// digits of it; 0 when it starts with no digit.
int LeadingNumber(const char* text, int maxDigits) {
  while (*text == ' ') ++text;
  int value = 0;
  for (int n = 0; n < maxDigits && *text >= '0' && *text <= '9'; ++n, ++text)
    value = value * 10 + (*text - '0');
  return value;
}

int TagNumber(const AVDictionary* metadata, std::initializer_list<const char*> keys,
              int maxDigits) {
  const AVDictionaryEntry* e = FindTag(metadata, keys);
  return e ? LeadingNumber(e->value, maxDigits) : 0;
}

// Reads count digits at p into value; false when they are not all digits.
bool Digits(const char*& p, int count, int& value) {
  value = 0;
  for (int i = 0; i < count; ++i, ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
  }
  return true;
}

// Seconds since 1970-01-01 00:00 UTC of an ISO 8601 date-time as the demuxers report creation
// times ("2012-03-04T05:06:07.000000Z"; a space instead of the T, no time of day, and an offset
// "+hh:mm", "+hhmm" or "+hh" are accepted as well); 0 when the text is not one.
int64_t ParseCreationTime(const char* text) {
  const char* p = text;
  int year, month, day, hour = 0, minute = 0, second = 0;
  if (!Digits(p, 4, year) || *p++ != '-' || !Digits(p, 2, month) || *p++ != '-' ||
      !Digits(p, 2, day))
    return 0;
  if (*p == 'T' || *p == 't' || *p == ' ') {
    ++p;
    if (!Digits(p, 2, hour) || *p++ != ':' || !Digits(p, 2, minute) || *p++ != ':' ||
        !Digits(p, 2, second))
      return 0;
    if (*p == '.') {
      ++p;
      while (*p >= '0' && *p <= '9') ++p;
    }
  }
  int offsetMinutes = 0;
  if (*p == '+' || *p == '-') {
    const int sign = *p++ == '-' ? -1 : 1;
    int oh = 0, om = 0;
    if (!Digits(p, 2, oh)) return 0;
    if (*p == ':') ++p;
    if (*p && !Digits(p, 2, om)) return 0;
    offsetMinutes = sign * (oh * 60 + om);
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return 0;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return static_cast<int64_t>(::timegm(&tm)) - int64_t(offsetMinutes) * 60;
}

// "%.*f" (precision 0 or 2) with a point whatever the process locale says, right-aligned in width.
std::string Fixed(double value, int precision, size_t width) {
  char buffer[64];
  const auto r =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
  std::string text(buffer, r.ptr);
  if (text.size() < width) text.insert(0, width - text.size(), ' ');
  return text;
}

// ", 29.97 fps", ", 25 tbr", ", 90k tbn": two decimals only when the value needs them, thousands
// as "k" when a whole number of them.
std::string RatePart(double d, const char* suffix) {
  const long long v = std::llround(d * 100);
  if (v % 100 != 0) return ", " + Fixed(d, 2, 3) + " " + suffix;
  if (v % 100000 != 0) return ", " + Fixed(d, 0, 1) + " " + suffix;
  return ", " + Fixed(d / 1000, 0, 1) + "k " + suffix;
}

// "s.uuuuuu" of a time in microseconds.
std::string SecondsText(int64_t us) {
  const uint64_t magnitude = us < 0 ? 0 - static_cast<uint64_t>(us) : static_cast<uint64_t>(us);
  return FormatText("%s%llu.%.6llu", us < 0 ? "-" : "",
                static_cast<unsigned long long>(magnitude / 1000000),
                static_cast<unsigned long long>(magnitude % 1000000));
}

// The stream's time base with a zero denominator replaced by the numerator, and then by 1.
AVRational UsableTimeBase(AVRational tb) {
  if (tb.den == 0) tb.den = tb.num;
  if (tb.den == 0) tb.den = 1;
  return tb;
}

int64_t ToMicroseconds(int64_t t, AVRational tb) {
  return t == AV_NOPTS_VALUE ? -1 : ff::av_rescale_q(t, UsableTimeBase(tb), kMicroseconds);
}

// Fills the times common to both stream records.
template <class Info>
void ReadStreamTimes(const AVStream* st, Info& info) {
  info.Language = GetMetadataValue(st->metadata, "language");
  info.CodecName = GetCodecName(st->codecpar, false);
  info.StartTime = st->start_time;
  info.StartTimeUS = ToMicroseconds(st->start_time, st->time_base);
  info.Duration = st->duration;
  info.DurationUS = ToMicroseconds(st->duration, st->time_base);
}

// The codec library's one-line description of a stream's codec parameters (as for decoding).
// A video picture seen turned or stretched gets its rotation and display size after its size
// (and the sample and display aspects the library prints with it): "640x360 [SAR 1:1 DAR 16:9],
// rotated 90°, display 360x640".
std::string CodecDescription(const AVStream* st) {
  AVCodecContext* ctx = ff::avcodec_alloc_context3(nullptr);
  if (!ctx) return "";
  char buffer[256] = "";
  if (ff::avcodec_parameters_to_context(ctx, st->codecpar) >= 0)
    ff::avcodec_string(buffer, sizeof buffer, ctx, 0);
  ff::avcodec_free_context(&ctx);
  std::string text = buffer;
  if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) return text;

  const TPictureShape shape = StreamPictureShape(st);
  std::string seen;
  if (shape.Rotation != 0) seen += FormatText(", rotated %d°", shape.Rotation);
  if (shape.DisplayWidth() != shape.Width || shape.DisplayHeight() != shape.Height)
    seen += FormatText(", display %dx%d", shape.DisplayWidth(), shape.DisplayHeight());
  if (seen.empty()) return text;
  const std::string size = FormatText(", %dx%d", shape.Width, shape.Height);
  size_t at = text.find(size);
  if (at == std::string::npos) return text + seen;
  at += size.size();
  if (text.compare(at, 6, " [SAR ") == 0) {
    const size_t close = text.find(']', at);
    if (close != std::string::npos) at = close + 1;
  }
  return text.insert(at, seen);
}

}  // namespace

TCustomAVProbe::TCustomAVProbe() { RefreshInfo(); }

TCustomAVProbe::~TCustomAVProbe() { CloseFile(); }

void TCustomAVProbe::CheckLibraries() const {
  static constexpr struct {
    TLibrary lib;
    const char* text;
  } kChecks[] = {
      {libAVCodec, "LibAVCodec not loaded."},
      {libAVFormat, "LibAVFormat not loaded."},
      {libAVUtil, "LibAVUtil not loaded."},
      {libSwScale, "LibSwScale not loaded."},
  };
  for (const auto& check : kChecks)
    if (!FFLoader().IsLoaded(check.lib)) throw std::runtime_error(check.text);
}

void TCustomAVProbe::ReportError(int level, const std::string& text) {
  GetLogger().LogMessage(this, LibraryToLogLevel(level), text);
  lastErrMsg_ = text;
}

bool TCustomAVProbe::LoadFile(const std::string& fileName, const std::string& inputFormatName) {
  CheckLibraries();
  CloseFile();

  const AVInputFormat* format = nullptr;
  if (!inputFormatName.empty()) {
    format = ff::av_find_input_format(inputFormatName.c_str());
    if (!format) {
      lastErrMsg_ = "Unknown input format: " + inputFormatName;
      return false;
    }
  }

  AVFormatContext* ic = ff::avformat_alloc_context();
  if (!ic) {
    ReportError(AV_LOG_ERROR, AVErrorToStr(fileName, AVERROR(ENOMEM)));
    return false;
  }
  ic->flags |= AVFMT_FLAG_NONBLOCK;
  // Frees ic and leaves it null on failure.
  const int err = OpenInputFile(&ic, FileNameToURL(fileName), format, nullptr);
  if (err < 0) {
    ReportError(AV_LOG_ERROR, AVErrorToStr(fileName, err));
    CloseFile();
    return false;
  }
  formatContext_ = ic;
  ownsContext_ = true;

  int found;
  {
    std::lock_guard<std::mutex> lock(CodecLock());
    found = ff::avformat_find_stream_info(ic, nullptr);
  }
  if (found < 0) {
    lastErrMsg_ = fileName + ": could not find codec parameters";
    CloseFile();
    return false;
  }
  RefreshInfo();
  inputFormatName_ = inputFormatName;
  return true;
}

void TCustomAVProbe::CloseFile() {
  inputFormatName_.clear();
  if (formatContext_) {
    // Contexts from OpenInputFile close through it (their I/O is ours). Should the libraries
    // have been unloaded meanwhile, the context can only be forgotten.
    if (ownsContext_ && FFLoader().IsLoaded(libAVFormat) && FFLoader().IsLoaded(libAVUtil))
      CloseInputFile(&formatContext_);
    formatContext_ = nullptr;
  }
  RefreshInfo();
}

void TCustomAVProbe::AttachFormatContext(AVFormatContext* context) {
  CheckLibraries();
  CloseFile();
  ownsContext_ = false;
  formatContext_ = context;
  RefreshInfo();
}

void TCustomAVProbe::RefreshInfo() {
  fileSize_ = -1;
  streamCount_ = programCount_ = -1;
  audioStreamCount_ = videoStreamCount_ = subtitleStreamCount_ = coverPictureCount_ = -1;
  firstAudioStreamIndex_ = firstVideoStreamIndex_ = firstSubtitleStreamIndex_ = -1;
  const AVFormatContext* ic = formatContext_;
  if (!ic) return;

  // The size the library's I/O knows; else that of the file the context names.
  const int64_t ioSize = ic->pb ? ff::avio_size(ic->pb) : -1;
  if (ioSize > 0) {
    fileSize_ = ioSize;
  } else {
    const std::string fileName = URLToFileName(ic->url ? ic->url : "");
    struct stat st;
    if (!fileName.empty() && ::stat(fileName.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
      fileSize_ = GetFileSize(fileName);
    else
      fileSize_ = ioSize;
  }

  streamCount_ = static_cast<int>(ic->nb_streams);
  programCount_ = static_cast<int>(ic->nb_programs);
  audioStreamCount_ = videoStreamCount_ = subtitleStreamCount_ = coverPictureCount_ = 0;
  for (int i = 0; i < streamCount_; ++i) {
    switch (ic->streams[i]->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        // An album's cover picture is a still beside the sound, not the file's video.
        if (ic->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) {
          ++coverPictureCount_;
          break;
        }
        ++videoStreamCount_;
        if (firstVideoStreamIndex_ < 0) firstVideoStreamIndex_ = i;
        break;
      case AVMEDIA_TYPE_AUDIO:
        ++audioStreamCount_;
        if (firstAudioStreamIndex_ < 0) firstAudioStreamIndex_ = i;
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        ++subtitleStreamCount_;
        if (firstSubtitleStreamIndex_ < 0) firstSubtitleStreamIndex_ = i;
        break;
      default:  // data and attachment streams are not counted
        break;
    }
  }
}

// Tags are read under today's demuxer key names, with the older names first where they differ:
//   Title     "title"        (ID3 frames TIT2, TT2)
//   Author    "author", else "artist" (ID3 TPE1, TP1): most demuxers now report "artist"
//   Copyright "copyright"    (ID3 TCOP)
//   Comment   "comment"
//   Album     "album"        (ID3 TALB, TAL)
//   Genre     "genre"        (ID3 TCON, TCO)
//   Year      "year", else "date" (ID3 TYER, TDRL): the number the value starts with, at most
//             four digits ("2010-05-12" -> 2010); 0 when absent
//   Track     "track"        (ID3 TRCK, TRK): the number the value starts with ("7/12" -> 7)
//   Timestamp "creation_time" (an ISO 8601 date-time) as seconds since 1970-01-01 00:00 UTC
// Keys match in any letter case (Matroska reports "ARTIST", "DATE"); the ID3 frame names are
// read only when the demuxer left a frame unconverted.
void TCustomAVProbe::GetFileStreamInfo(TFileStreamInfo& info) {
  info = TFileStreamInfo{};
  const AVFormatContext* ic = formatContext_;
  if (!ic) {
    ReportError(AV_LOG_WARNING, kFileNotLoaded);
    return;
  }
  info.StartTime = ic->start_time == AV_NOPTS_VALUE ? -1 : ic->start_time;
  info.Duration = ic->duration == AV_NOPTS_VALUE ? -1 : ic->duration;
  info.BitRate = ic->bit_rate;
  const AVDictionaryEntry* created = FindTag(ic->metadata, {"creation_time"});
  info.Timestamp = created ? ParseCreationTime(created->value) : 0;
  info.Year = TagNumber(ic->metadata, {"year", "date"}, 4);
  info.Track = TagNumber(ic->metadata, {"track"}, 9);
  info.Title = TagText(ic->metadata, {"title"});
  info.Author = TagText(ic->metadata, {"author", "artist"});
  info.Copyright = TagText(ic->metadata, {"copyright"});
  info.Comment = TagText(ic->metadata, {"comment"});
  info.Album = TagText(ic->metadata, {"album"});
  info.Genre = TagText(ic->metadata, {"genre"});
}

AVStream* TCustomAVProbe::StreamFor(int index, int mediaType) {
  const bool audio = mediaType == AVMEDIA_TYPE_AUDIO;
  if (!formatContext_) {
    ReportError(AV_LOG_WARNING, kFileNotLoaded);
    return nullptr;
  }
  if (index < 0) {
    index = audio ? firstAudioStreamIndex_ : firstVideoStreamIndex_;
    if (index < 0) {
      ReportError(AV_LOG_ERROR, audio ? "no audio stream." : "no video stream.");
      return nullptr;
    }
  } else if (index >= streamCount_) {
    ReportError(AV_LOG_ERROR, FormatText("stream index #%d is invalid.", index));
    return nullptr;
  }
  AVStream* st = formatContext_->streams[index];
  if (st->codecpar->codec_type != mediaType) {
    ReportError(AV_LOG_ERROR, FormatText(audio ? "stream #%d is not audio stream."
                                           : "stream #%d is not video stream.",
                                     index));
    return nullptr;
  }
  return st;
}

void TCustomAVProbe::GetAudioStreamInfo(int index, TAudioStreamInfo& info) {
  info = TAudioStreamInfo{};
  const AVStream* st = StreamFor(index, AVMEDIA_TYPE_AUDIO);
  if (!st) return;
  ReadStreamTimes(st, info);
  const AVCodecParameters* par = st->codecpar;
  info.BitRate = par->bit_rate;
  info.Channels = par->ch_layout.nb_channels;
  info.SampleRate = par->sample_rate;
  info.SampleFormat = par->format;
}

void TCustomAVProbe::GetVideoStreamInfo(int index, TVideoStreamInfo& info) {
  info = TVideoStreamInfo{};
  const AVStream* st = StreamFor(index, AVMEDIA_TYPE_VIDEO);
  if (!st) return;
  ReadStreamTimes(st, info);
  const AVCodecParameters* par = st->codecpar;
  info.BitRate = par->bit_rate;
  info.Height = par->height;
  info.Width = par->width;
  // An unknown ratio (0:1) or size gives 0 rather than a division by zero.
  const AVRational sar = par->sample_aspect_ratio;
  info.DisplayAspectRatio = sar.den != 0 && par->height > 0
                                ? static_cast<float>(av_q2d(sar) * par->width / par->height)
                                : 0.0f;
  info.PixelFormat = par->format;
  info.FrameRateNum = st->r_frame_rate.num;
  info.FrameRateDen = st->r_frame_rate.den;
  const TPictureShape shape = StreamPictureShape(st);
  info.Rotation = shape.Rotation;
  info.SampleAspectNum = shape.SampleAspect.num;
  info.SampleAspectDen = shape.SampleAspect.den;
  info.UprightWidth = shape.UprightWidth();
  info.UprightHeight = shape.UprightHeight();
  info.DisplayWidth = shape.DisplayWidth();
  info.DisplayHeight = shape.DisplayHeight();
}

bool TCustomAVProbe::StreamIsOfType(int index, int mediaType) {
  if (!formatContext_) {
    ReportError(AV_LOG_WARNING, kFileNotLoaded);
    return false;
  }
  if (index < 0 || index >= streamCount_) {
    ReportError(AV_LOG_ERROR, FormatText("stream index #%d is invalid.", index));
    return false;
  }
  return formatContext_->streams[index]->codecpar->codec_type == mediaType;
}

bool TCustomAVProbe::IsAudioStream(int index) { return StreamIsOfType(index, AVMEDIA_TYPE_AUDIO); }

bool TCustomAVProbe::IsVideoStream(int index) { return StreamIsOfType(index, AVMEDIA_TYPE_VIDEO); }

std::string TCustomAVProbe::FileName() {
  if (!formatContext_) {
    ReportError(AV_LOG_WARNING, kFileNotLoaded);
    return "";
  }
  return URLToFileName(formatContext_->url ? formatContext_->url : "");
}

std::string TCustomAVProbe::FormatName() {
  if (!formatContext_) {
    ReportError(AV_LOG_WARNING, kFileNotLoaded);
    return "";
  }
  return formatContext_->iformat ? formatContext_->iformat->name : "";
}

// Metadata lines: "<indent>Metadata:", then "<indent>  <key padded to 16>: <value>" per entry in
// stored order, leaving out "language" (the stream line shows it). Nothing for metadata that is
// absent, empty or holds only a language.
void TCustomAVProbe::AddMetadataLines(std::string& out, const AVDictionary* metadata,
                                      const std::string& indent) {
  const int count = metadata ? ff::av_dict_count(metadata) : 0;
  if (count == 0) return;
  const AVDictionaryEntry* first = ff::av_dict_get(metadata, "", nullptr, AV_DICT_IGNORE_SUFFIX);
  if (count == 1 && SameKey(first->key, "language")) return;
  out += indent + "Metadata:\r\n";
  for (const AVDictionaryEntry* e = first; e;
       e = ff::av_dict_get(metadata, "", e, AV_DICT_IGNORE_SUFFIX)) {
    if (SameKey(e->key, "language")) continue;
    std::string key = DisplayKeyOf(e->key);
    if (key.size() < 16) key.append(16 - key.size(), ' ');
    out += indent + "  " + key + ": " + e->value + "\r\n";
  }
}

// "Stream #1[0x2](eng), 1/44100: Audio: aac (LC) ..., StartTime: 0.000000, Duration: ...",
// followed by the stream's metadata lines.
void TCustomAVProbe::AddStreamLine(std::string& out, int index) {
  const AVFormatContext* ic = formatContext_;
  const AVStream* st = ic->streams[index];
  const AVCodecParameters* par = st->codecpar;

  std::string line = FormatText("Stream #%d", index);
  if (ic->iformat && (ic->iformat->flags & AVFMT_SHOW_IDS)) line += FormatText("[0x%x]", st->id);
  if (const AVDictionaryEntry* lang = ff::av_dict_get(st->metadata, "language", nullptr, 0))
    line += std::string("(") + lang->value + ")";
  int64_t gcd = ff::av_gcd(st->time_base.num, st->time_base.den);
  if (gcd == 0) gcd = 1;
  line += FormatText(", %lld/%lld", static_cast<long long>(st->time_base.num / gcd),
                 static_cast<long long>(st->time_base.den / gcd));
  line += ": " + CodecDescription(st);
  if (st->disposition & AV_DISPOSITION_ATTACHED_PIC) line += " (cover picture)";

  if (st->sample_aspect_ratio.num != 0 &&
      RationalCompare(st->sample_aspect_ratio, par->sample_aspect_ratio) != 0) {
    int darNum = 0, darDen = 0;
    ff::av_reduce(&darNum, &darDen, int64_t(par->width) * st->sample_aspect_ratio.num,
                  int64_t(par->height) * st->sample_aspect_ratio.den, 1024 * 1024);
    line += FormatText(", PAR %d:%d DAR %d:%d", st->sample_aspect_ratio.num,
                   st->sample_aspect_ratio.den, darNum, darDen);
  }

  if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
    const AVRational codecTimeBase = ff::av_stream_get_codec_timebase(st);
    if (st->avg_frame_rate.num && st->avg_frame_rate.den)
      line += RatePart(av_q2d(st->avg_frame_rate), "fps");
    if (st->r_frame_rate.num && st->r_frame_rate.den)
      line += RatePart(av_q2d(st->r_frame_rate), "tbr");
    if (st->time_base.num && st->time_base.den) line += RatePart(1 / av_q2d(st->time_base), "tbn");
    if (codecTimeBase.num && codecTimeBase.den) line += RatePart(1 / av_q2d(codecTimeBase), "tbc");
  }

  if (st->start_time != AV_NOPTS_VALUE)
    line += ", StartTime: " + SecondsText(ToMicroseconds(st->start_time, st->time_base));
  line += ", Duration: ";
  line += st->duration == AV_NOPTS_VALUE
              ? std::string("N/A")
              : DurationToStr(ToMicroseconds(st->duration, st->time_base));
  out += line + "\r\n";
  AddMetadataLines(out, st->metadata, "  ");
}

std::string TCustomAVProbe::FileInfoText() {
  const AVFormatContext* ic = formatContext_;
  if (!ic) {
    ReportError(AV_LOG_WARNING, kFileNotLoaded);
    return "";
  }
  std::string out;
  auto add = [&out](const std::string& line) { out += line + "\r\n"; };

  add("File Name: " + FileName());
  add(std::string("Format Name: ") + (ic->iformat ? ic->iformat->name : ""));
  add(std::string("Format Long Name: ") +
      (ic->iformat && ic->iformat->long_name ? ic->iformat->long_name : ""));
  add("File Size: " + FileSizeToStr(fileSize_));

  TFileStreamInfo info;
  GetFileStreamInfo(info);
  add(info.Duration < 0 ? std::string("Duration: N/A")
                        : "Duration: " + DurationToStr(info.Duration));
  if (info.StartTime >= 0) add("StartTime: " + SecondsText(info.StartTime));
  add(info.BitRate < 1
          ? std::string("Bit Rate: N/A")
          : FormatText("Bit Rate: %lld kb/s", static_cast<long long>(info.BitRate / 1000)));
  if (info.Timestamp > 0) {
    const time_t t = static_cast<time_t>(info.Timestamp);
    std::tm local{};
    char text[32];
    if (::localtime_r(&t, &local) && std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local))
      add(std::string("Time Stamp: ") + text);
  }
  AddMetadataLines(out, ic->metadata, "");

  std::vector<bool> printed(ic->nb_streams, false);
  for (unsigned p = 0; p < ic->nb_programs; ++p) {
    const AVProgram* program = ic->programs[p];
    // Today's demuxers name the service "service_provider" and "service_name".
    const std::string provider = TagText(program->metadata, {"provider_name", "service_provider"});
    const std::string name = TagText(program->metadata, {"name", "service_name"});
    add(FormatText("Program %d ", program->id) + (provider.empty() ? "N/A" : provider) + "@" +
        (name.empty() ? "N/A" : name));
    AddMetadataLines(out, program->metadata, "  ");
    for (unsigned k = 0; k < program->nb_stream_indexes; ++k) {
      const unsigned s = program->stream_index[k];
      if (s >= ic->nb_streams) continue;
      AddStreamLine(out, static_cast<int>(s));
      printed[s] = true;
    }
  }
  for (unsigned s = 0; s < ic->nb_streams; ++s)
    if (!printed[s]) AddStreamLine(out, static_cast<int>(s));
  return out;
}

}  // namespace media
