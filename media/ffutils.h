// Small helpers the media components share: the texts shown to users for library error codes,
// durations, file sizes, codec names, metadata values and media types; rational arithmetic; and
// file helpers. Texts are byte-exact and independent of the process locale. Functions that call
// the media libraries need libavutil (and libavcodec for GetCodecName) bound by the loader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/rational.h>
}

namespace media {

// printf-style formatting into a string of any length.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// name + ": " + the text of a library error code. The old fixed table stays as it is (-22 keeps
// "Invalid data found when processing input"); today's codes of the same meaning share its
// texts: AVERROR_EOF "End of file", AVERROR_INVALIDDATA "Invalid data found when processing
// input", AVERROR_PROTOCOL_NOT_FOUND "Unsupported network protocol", AVERROR_DEMUXER_NOT_FOUND and
// AVERROR_MUXER_NOT_FOUND "Unknown format"; the file-system causes a user can act on (permission,
// directory, full disk, file too large, read-only, name too long) get the system's words. Any
// other code: "Error number %d occurred".
std::string AVErrorToStr(const std::string& name, int code);

// "HH:MM:SS.mmm" of a time in microseconds (hours grow past two digits as needed), "N/A" for
// AV_NOPTS_VALUE. A negative time gets a leading "-" before the text of its magnitude.
std::string DurationToStr(int64_t microseconds);

// "%.2f GB" above 2^30 bytes, "%.2f MB" above 2^20, "%.2f KB" above 2^10, otherwise "%d Byte"
// (negative sizes included). The decimal separator is always a point.
std::string FileSizeToStr(int64_t bytes);

// The registered encoder's (encoder) or decoder's name for the stream's codec id, followed
// directly by its trimmed long name in parentheses: "h264(H.264 / AVC / MPEG-4 AVC / MPEG-4 part
// 10)". No such codec: "mpeg2ts" for AV_CODEC_ID_MPEG2TS; else the codec id's registered name;
// else the codec tag as four printable characters, lowest byte first, + " / 0x%04X"; else
// "0x%04x" of the tag.
std::string GetCodecName(const AVCodecParameters* par, bool encoder);
// The same for a codec context; an attached codec's own name comes before the id's name.
std::string GetCodecName(const AVCodecContext* ctx, bool encoder);

// The value of the first entry whose whole key equals key, ignoring letter case; else def.
std::string GetMetadataValue(const AVDictionary* metadata, const std::string& key,
                             const std::string& def = "");

// 0 "Video", 1 "Audio", 2 "Data", 3 "Subtitle", 4 "Attachment", anything else "Unknown".
std::string MediaTypeName(int mediaType);

// The short name of the muxer the format library chooses for a file name by its extension
// ("mp4" for "clip.mp4"); "" when it knows none. Needs the format library loaded.
std::string OutputFormatName(const std::string& fileName);

// Reads a whole regular file into buffer followed by one zero byte (buffer.size() = bytes read
// + 1). Returns 0, -1 when the file cannot be opened (or is a directory), -12 when memory for
// it cannot be had. The buffer is left empty on failure.
int ReadWholeFile(const std::string& fileName, std::vector<uint8_t>& buffer);

// The sign (-1, 0, 1) of a.num * b.den - b.num * a.den.
int RationalCompare(AVRational a, AVRational b);
// a.num / a.den as a double (infinite or NaN for a zero denominator).
double RationalToReal(AVRational a);
// low when value < low, high when value > high, else value.
int Clip(int64_t value, int low, int high);
// A rational approximation of value with numerator and denominator at most max (libavutil's
// av_d2q).
AVRational RealToRational(double value, int max);

// The text before the first separator (the whole text when there is none or the separator is
// empty). With remove, text keeps what follows the separator (empty when there was none).
std::string SplitString(std::string& text, const std::string& separator, bool remove);

// The size of an existing file; -1 when the name does not exist or is a directory.
int64_t GetFileSize(const std::string& fileName);

// A moment in Unix seconds as a local date-time counted in days since 30 December 1899 (the
// date-time unit of stored records), using the time-zone offset in force at that moment.
double UnixToLocalDateTime(int64_t seconds);

}  // namespace media
