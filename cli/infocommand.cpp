// `kvc info`: describes media files through the probe, as the desktop's file information does:
// the probe's multi-line description, or one JSON object per file with the container, times,
// tags and every stream. A file that cannot be opened is named on standard error and the others
// are still described.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "media/avprobe.h"
#include "media/ffapi.h"

namespace cli {
namespace {

using TJson = nlohmann::ordered_json;

struct TOptions {
  bool json = false;
  std::vector<std::string> files;
};

TOptions ParseOptions(const std::vector<std::string>& args) {
  TOptions options;
  bool optionsEnded = false;
  for (const std::string& arg : args) {
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      options.files.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--json") {
      options.json = true;
    } else {
      throw TUsageError("unknown option '" + arg + "'");
    }
  }
  if (options.files.empty()) throw TUsageError("no file given");
  return options;
}

// The probe's failure text without the file name it starts with, since every message printed
// here names the file itself.
std::string FailureText(const std::string& file, const std::string& error) {
  const std::string prefix = file + ": ";
  return error.rfind(prefix, 0) == 0 ? error.substr(prefix.size()) : error;
}

// The description's lines end with CR LF, as the desktop shows them; a terminal wants LF.
std::string WithLineFeeds(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

// A time in microseconds as seconds; null when unknown (-1).
TJson Seconds(int64_t microseconds) {
  return microseconds < 0 ? TJson() : TJson(static_cast<double>(microseconds) / 1e6);
}

// A count or rate the libraries report as 0 (or less) when they do not know it; null then.
TJson Known(int64_t value) { return value > 0 ? TJson(value) : TJson(); }

TJson Text(const std::string& text) { return text.empty() ? TJson() : TJson(text); }

// The file's tags that are set (year and track are 0 when absent).
TJson Tags(const media::TFileStreamInfo& info) {
  TJson tags = TJson::object();
  const std::pair<const char*, const std::string*> texts[] = {
      {"title", &info.Title},     {"author", &info.Author}, {"copyright", &info.Copyright},
      {"comment", &info.Comment}, {"album", &info.Album},   {"genre", &info.Genre},
  };
  for (const auto& [key, value] : texts) {
    if (!value->empty()) tags[key] = *value;
  }
  if (info.Year > 0) tags["year"] = info.Year;
  if (info.Track > 0) tags["track"] = info.Track;
  return tags;
}

// One stream: its index and kind, the codec's registered name (the name scripts and other tools
// use, e.g. "h264", "mp3") and the probe's facts of a video or audio stream.
TJson Stream(media::TAVProbe& probe, int index) {
  const AVCodecParameters* par = probe.FormatContext()->streams[index]->codecpar;
  TJson stream = {{"index", index}};
  const char* codec = ff::avcodec_get_name(par->codec_id);
  switch (par->codec_type) {
    case AVMEDIA_TYPE_VIDEO: {
      media::TVideoStreamInfo info;
      probe.GetVideoStreamInfo(index, info);
      stream["type"] = "video";
      stream["codec"] = codec;
      if (probe.FormatContext()->streams[index]->disposition & AV_DISPOSITION_ATTACHED_PIC)
        stream["cover_picture"] = true;
      stream["width"] = info.Width;
      stream["height"] = info.Height;
      // How the picture is seen: turned clockwise by "rotation" degrees, its stored pixels
      // stretched by "sample_aspect", at "display_width" x "display_height".
      stream["rotation"] = info.Rotation;
      stream["sample_aspect"] =
          std::to_string(info.SampleAspectNum) + ":" + std::to_string(info.SampleAspectDen);
      stream["display_width"] = info.DisplayWidth;
      stream["display_height"] = info.DisplayHeight;
      stream["frame_rate"] = info.FrameRateNum > 0 && info.FrameRateDen > 0
                                 ? TJson(static_cast<double>(info.FrameRateNum) /
                                         info.FrameRateDen)
                                 : TJson();
      // The probe keeps the ratio as a float; four decimals are all it holds of it.
      stream["display_aspect"] =
          info.DisplayAspectRatio > 0 ? TJson(std::round(info.DisplayAspectRatio * 1e4) / 1e4)
                                      : TJson();
      stream["bit_rate"] = Known(info.BitRate);
      stream["language"] = Text(info.Language);
      break;
    }
    case AVMEDIA_TYPE_AUDIO: {
      media::TAudioStreamInfo info;
      probe.GetAudioStreamInfo(index, info);
      stream["type"] = "audio";
      stream["codec"] = codec;
      stream["channels"] = Known(info.Channels);
      stream["sample_rate"] = Known(info.SampleRate);
      stream["bit_rate"] = Known(info.BitRate);
      stream["language"] = Text(info.Language);
      break;
    }
    default: {
      // Subtitles and other streams: the probe keeps no record of their own.
      const AVDictionaryEntry* language =
          ff::av_dict_get(probe.FormatContext()->streams[index]->metadata, "language", nullptr, 0);
      stream["type"] = par->codec_type == AVMEDIA_TYPE_SUBTITLE ? "subtitle" : "other";
      stream["codec"] = codec;
      stream["language"] = language ? TJson(language->value) : TJson();
      break;
    }
  }
  return stream;
}

TJson FileJson(const std::string& file, media::TAVProbe& probe) {
  media::TFileStreamInfo info;
  probe.GetFileStreamInfo(info);
  TJson streams = TJson::array();
  for (int i = 0; i < probe.StreamCount(); ++i) streams.push_back(Stream(probe, i));
  return {{"file", file},
          {"format", probe.FormatName()},
          {"duration", Seconds(info.Duration)},
          {"start_time", Seconds(info.StartTime)},
          {"bit_rate", Known(info.BitRate)},
          {"size", probe.FileSize() >= 0 ? TJson(probe.FileSize()) : TJson()},
          {"tags", Tags(info)},
          {"cover_picture", probe.CoverPictureCount() > 0},
          {"streams", std::move(streams)}};
}

void PrintJsonLine(const TJson& json) {
  const std::string text = json.dump(-1, ' ', false, TJson::error_handler_t::replace);
  std::printf("%s\n", text.c_str());
}

}  // namespace

int RunInfo(const std::vector<std::string>& args) {
  const TOptions options = ParseOptions(args);
  std::string error;
  if (!LoadMediaLibraries(error)) {
    std::fprintf(stderr, "kvc: %s\n", error.c_str());
    return kExitLibraries;
  }

  bool failed = false;
  const bool named = options.files.size() > 1;
  bool described = false;  // a description was printed already
  for (const std::string& file : options.files) {
    media::TAVProbe probe;
    bool loaded = false;
    std::string failure;
    try {
      loaded = probe.LoadFile(file);
      if (!loaded) failure = FailureText(file, probe.LastErrMsg());
    } catch (const std::exception& thrown) {
      failure = thrown.what();
    }
    if (!loaded) {
      failed = true;
      std::fprintf(stderr, "kvc: %s: %s\n", file.c_str(), failure.c_str());
      if (options.json) PrintJsonLine({{"file", file}, {"error", failure}});
      continue;
    }
    if (options.json) {
      PrintJsonLine(FileJson(file, probe));
    } else {
      // Several files: each description starts with a line naming the file, after a blank line.
      if (named) std::printf("%s==> %s <==\n", described ? "\n" : "", file.c_str());
      std::fputs(WithLineFeeds(probe.FileInfoText()).c_str(), stdout);
      described = true;
    }
    // Keep the output in order with the messages on standard error when both go to one place.
    std::fflush(stdout);
  }
  return failed ? kExitFailed : kExitOk;
}

}  // namespace cli
