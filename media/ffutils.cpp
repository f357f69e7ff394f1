#include "media/ffutils.h"

#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <memory>
#include <new>
#include <stdexcept>

#include "media/ffapi.h"
#include "platform/text.h"

namespace media {
namespace {


// "%.2f" with a point whatever the process locale says.
std::string Fixed2(double value) {
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
  return std::string(buffer, result.ptr);
}

std::string CodecName(AVCodecID id, unsigned tag, const AVCodec* attached, bool encoder) {
  const AVCodec* codec = encoder ? ff::avcodec_find_encoder(id) : ff::avcodec_find_decoder(id);
  if (codec) {
    const std::string longName = platform::TrimText(codec->long_name ? codec->long_name : "");
    return longName.empty() ? std::string(codec->name) : std::string(codec->name) + "(" + longName + ")";
  }
  if (id == AV_CODEC_ID_MPEG2TS) return "mpeg2ts";
  // The name the stream itself carries: today's library knows it as the codec id's name.
  std::string own = attached ? platform::TrimText(attached->name ? attached->name : "") : std::string();
  if (own.empty()) {
    if (const AVCodecDescriptor* descriptor = ff::avcodec_descriptor_get(id))
      own = platform::TrimText(descriptor->name ? descriptor->name : "");
  }
  if (!own.empty()) return own;
  const char chars[4] = {static_cast<char>(tag & 0xff), static_cast<char>((tag >> 8) & 0xff),
                         static_cast<char>((tag >> 16) & 0xff),
                         static_cast<char>((tag >> 24) & 0xff)};
  bool printable = true;
  for (char c : chars) printable = printable && c >= 32 && c <= 126;
  if (printable) return std::string(chars, 4) + FormatText(" / 0x%04X", tag);
  return FormatText("0x%04x", tag);
}

}  // namespace

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char buffer[1024];
  const int needed = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (needed < 0) return {};
  if (static_cast<size_t>(needed) < sizeof buffer) return std::string(buffer, needed);
  std::string text(static_cast<size_t>(needed) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  text.resize(needed);
  return text;
}

std::string AVErrorToStr(const std::string& name, int code) {
  const char* text = nullptr;
  switch (code) {
    case AVERROR_PATCHWELCOME: text = "Not yet implemented in FFmpeg"; break;
    case -10043:
    case AVERROR_PROTOCOL_NOT_FOUND: text = "Unsupported network protocol"; break;
    case -42:
    case AVERROR_DEMUXER_NOT_FOUND:
    case AVERROR_MUXER_NOT_FOUND: text = "Unknown format"; break;
    case -33: text = "Number syntax expected in filename"; break;
    case -32:
    case AVERROR_EOF: text = "End of file"; break;
    case -22:
    case AVERROR_INVALIDDATA: text = "Invalid data found when processing input"; break;
    case -12: text = "Not enough memory"; break;
    case -5: text = "I/O error"; break;
    case -2: text = "No such file or directory"; break;
    // Causes a user can act on, said plainly rather than as a bare number.
    case AVERROR(EACCES): text = "Permission denied"; break;
    case AVERROR(EISDIR): text = "Is a directory"; break;
    case AVERROR(ENOSPC): text = "No space left on device"; break;
    case AVERROR(EFBIG): text = "File too large"; break;
    case AVERROR(EROFS): text = "Read-only file system"; break;
    case AVERROR(ENAMETOOLONG): text = "File name too long"; break;
    default:
      // Any other code the libraries pass on from the system gets the system's own words
      // ("Too many open files"), the same in every locale.
      if (code < 0 && code > -4096) text = ::strerrordesc_np(-code);
      if (!text) return name + ": " + FormatText("Error number %d occurred", code);
  }
  return name + ": " + text;
}

std::string DurationToStr(int64_t t) {
  if (t == AV_NOPTS_VALUE) return "N/A";
  if (t < 0) return "-" + DurationToStr(-t);  // -t cannot overflow: INT64_MIN is AV_NOPTS_VALUE
  const int64_t seconds = t / 1000000;
  return FormatText("%.2lld:%.2d:%.2d.%.3d", static_cast<long long>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60),
                static_cast<int>(t % 1000000 / 1000));
}

std::string FileSizeToStr(int64_t bytes) {
  if (bytes > (int64_t(1) << 30)) return Fixed2(bytes / 1073741824.0) + " GB";
  if (bytes > (int64_t(1) << 20)) return Fixed2(bytes / 1048576.0) + " MB";
  if (bytes > (int64_t(1) << 10)) return Fixed2(bytes / 1024.0) + " KB";
  return std::to_string(bytes) + " Byte";
}

std::string GetCodecName(const AVCodecParameters* par, bool encoder) {
  return CodecName(par->codec_id, par->codec_tag, nullptr, encoder);
}

std::string GetCodecName(const AVCodecContext* ctx, bool encoder) {
  return CodecName(ctx->codec_id, ctx->codec_tag, ctx->codec, encoder);
}

std::string GetMetadataValue(const AVDictionary* metadata, const std::string& key,
                             const std::string& def) {
  const AVDictionaryEntry* entry = ff::av_dict_get(metadata, key.c_str(), nullptr, 0);
  return entry ? std::string(entry->value) : def;
}

std::string MediaTypeName(int mediaType) {
  static const char* const kNames[] = {"Video", "Audio", "Data", "Subtitle", "Attachment"};
  return mediaType >= 0 && mediaType < 5 ? kNames[mediaType] : "Unknown";
}

std::string OutputFormatName(const std::string& fileName) {
  const AVOutputFormat* format = ff::av_guess_format(nullptr, fileName.c_str(), nullptr);
  return format && format->name ? format->name : "";
}

int ReadWholeFile(const std::string& fileName, std::vector<uint8_t>& buffer) {
  buffer.clear();
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(fileName.c_str(), "rb"), &std::fclose);
  struct stat info;
  if (!file || ::fstat(::fileno(file.get()), &info) != 0 || S_ISDIR(info.st_mode)) return -1;
  try {
    buffer.resize(static_cast<size_t>(info.st_size) + 1);
  } catch (const std::bad_alloc&) {
    return AVERROR(ENOMEM);
  } catch (const std::length_error&) {
    return AVERROR(ENOMEM);
  }
  const size_t read = std::fread(buffer.data(), 1, buffer.size() - 1, file.get());
  buffer.resize(read + 1);
  buffer[read] = 0;
  return 0;
}

int RationalCompare(AVRational a, AVRational b) {
  const int64_t d = int64_t(a.num) * b.den - int64_t(b.num) * a.den;
  return d < 0 ? -1 : d > 0 ? 1 : 0;
}

double RationalToReal(AVRational a) { return static_cast<double>(a.num) / a.den; }

int Clip(int64_t value, int low, int high) {
  if (value < low) return low;
  if (value > high) return high;
  return static_cast<int>(value);
}

AVRational RealToRational(double value, int max) { return ff::av_d2q(value, max); }

std::string SplitString(std::string& text, const std::string& separator, bool remove) {
  const size_t at = separator.empty() ? std::string::npos : text.find(separator);
  if (at == std::string::npos) {
    std::string part = text;
    if (remove) text.clear();
    return part;
  }
  std::string part = text.substr(0, at);
  if (remove) text.erase(0, at + separator.size());
  return part;
}

int64_t GetFileSize(const std::string& fileName) {
  struct stat info;
  if (::stat(fileName.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return -1;
  return info.st_size;
}

double UnixToLocalDateTime(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm local;
  const long offset = ::localtime_r(&t, &local) ? local.tm_gmtoff : 0;
  return (static_cast<double>(seconds) + offset) / 86400.0 + 25569.0;
}

}  // namespace media
