#include "profiles/encodermap.h"

#include <iterator>

#include "platform/text.h"

namespace profiles {

namespace {

struct TMapping {
  const char* entry;
  const char* encoder;
};

std::optional<std::string> Find(const TMapping* table, size_t count, const std::string& entry) {
  for (size_t i = 0; i < count; ++i)
    if (platform::SameTextAscii(entry, table[i].entry)) return std::string(table[i].encoder);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> MapVideoEncoder(const std::string& entry) {
  static const TMapping kTable[] = {
      {"mpeg-4", "mpeg4"},       {"3gp", "3gp"},           {"3g2", "3g2"},
      {"xvid", "libxvid"},       {"mov", "mov"},           {"wmv1", "wmv1"},
      {"wmv2", "wmv2"},          {"wmv3", "wmv3"},         {"flv", "flv"},
      {"swf", "swf"},            {"msmpeg4", "msmpeg4"},   {"msmpeg4v1", "msmpeg4v1"},
      {"msmpeg4v2", "msmpeg4v2"}, {"h264", "libx264"},     {"mpeg1video", "mpeg1video"},
      {"mpeg2video", "mpeg2video"}, {"h263", "h263"},      {"h263p", "h263p"},
      {"rawvideo", "rawvideo"},  {"rv10", "rv10"},         {"rv20", "rv20"},
      {"dvvideo", "dvvideo"},    {"huffyuv", "huffyuv"},   {"ljpeg", "ljpeg"},
      {"mjpeg", "mjpeg"},        {"svq1", "svq1"},         {"zlib", "zlib"},
  };
  return Find(kTable, std::size(kTable), entry);
}

std::optional<std::string> MapAudioEncoder(const std::string& entry) {
  // "pcm_mulaw " is listed with its trailing blank: only that entry maps.
  static const TMapping kTable[] = {
      {"mp3", "libmp3lame"},     {"ogg", "vorbis"},          {"mp2", "mp2"},
      {"aac", "libfaac"},        {"ac-3", "ac3"},            {"flac", "libflac"},
      {"amr_nb", "libopencore_amrnb"}, {"pcm_s16", "pcm_s16le"}, {"pcm_u16", "pcm_u16le"},
      {"pcm_alaw", "pcm_alaw"},  {"pcm_mulaw ", "pcm_mulaw"}, {"adpcm_ms", "adpcm_ms"},
      {"adpcm_ima_wav", "adpcm_ima_wav"}, {"wma1", "wmav1"}, {"wma2", "wmav2"},
  };
  return Find(kTable, std::size(kTable), entry);
}

}  // namespace profiles
