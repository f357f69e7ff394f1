#include "engine/recordoptions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>

#include "engine/customffmpeg.h"
#include "platform/text.h"

namespace engine {

namespace {



std::string Number(int64_t value) { return std::to_string(value); }

std::string Number(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
  return text;
}

bool OneOf(const std::string& name, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (name == n) return true;
  return false;
}

TOptionStep Option(const std::string& name, const std::string& value) {
  return {name, value, [name, value](TCustomFFmpeg& task) { task.SetOption(name, value); }};
}

TOptionStep Step(const std::string& name, const std::string& value,
                 std::function<void(TCustomFFmpeg&)> apply) {
  return {name, value, std::move(apply)};
}

TOptionStep Generic(const std::string& name, int64_t value) {
  return Step(name, Number(value), [name, value](TCustomFFmpeg& t) { t.SetGenericOption(name, value); });
}

// A per-stream option set from a text field through its typed setter.
TOptionStep Typed(const std::string& name, const std::string& value) {
  std::function<void(TCustomFFmpeg&)> apply;
  if (name == "acodec") apply = [value](TCustomFFmpeg& t) { t.SetAudioCodec(value); };
  else if (name == "vcodec") apply = [value](TCustomFFmpeg& t) { t.SetVideoCodec(value); };
  else if (name == "scodec") apply = [value](TCustomFFmpeg& t) { t.SetSubtitleCodec(value); };
  else if (name == "apre" || name == "vpre" || name == "spre")
    apply = [name, value](TCustomFFmpeg& t) { t.ApplyPreset(name, value); };
  else if (name == "s") apply = [value](TCustomFFmpeg& t) { t.SetFrameSize(value); };
  else if (name == "vf") apply = [value](TCustomFFmpeg& t) { t.SetVideoFilters(value); };
  else apply = [name, value](TCustomFFmpeg& t) { t.SetOption(name, value); };
  return Step(name, value, std::move(apply));
}

const char* TargetKind(int type) {
  switch (type) {
    case 1: return "vcd";
    case 2: return "svcd";
    case 3: return "dvd";
    default: return nullptr;
  }
}

const char* TargetNorm(int norm) {
  switch (norm) {
    case 1: return "pal";
    case 2: return "ntsc";
    default: return "auto";
  }
}

}  // namespace

std::vector<TOptionLine> SplitExtOptions(const std::string& text) {
  // Line breaks of every kind, and the token, become one line feed.
  std::string rest;
  const std::string trimmed = platform::TrimText(text);
  for (size_t i = 0; i < trimmed.size(); ++i) {
    if (trimmed[i] == '\r') {
      if (i + 1 < trimmed.size() && trimmed[i + 1] == '\n') ++i;
      rest += '\n';
    } else if (trimmed.compare(i, 6, "<CRLF>") == 0) {
      rest += '\n';
      i += 5;
    } else {
      rest += trimmed[i];
    }
  }
  std::vector<TOptionLine> lines;
  size_t start = 0;
  while (start < rest.size()) {
    size_t end = rest.find('\n', start);
    if (end == std::string::npos) end = rest.size();
    const std::string line = rest.substr(start, end - start);
    const size_t eq = line.find('=');
    if (eq == std::string::npos)
      lines.push_back({platform::LowerAscii(line), ""});
    else
      lines.push_back({platform::LowerAscii(line.substr(0, eq)), line.substr(eq + 1)});
    start = end + 1;
  }
  return lines;
}

std::vector<TOptionStep> InputOptionSteps(const TInputOptions& options) {
  std::vector<TOptionStep> steps;
  for (const TOptionLine& line : SplitExtOptions(options.ExtOptions)) {
    if (OneOf(line.Name, {"newvideo", "newaudio", "newsubtitle", "apre", "vpre", "spre",
                          "vfilters", "vf"}))
      continue;
    steps.push_back(Option(line.Name, line.Value));
  }
  if (!options.FileFormat.empty()) {
    const std::string format = options.FileFormat;
    steps.push_back(Step("f", format, [format](TCustomFFmpeg& t) { t.SetFormat(format); }));
  }
  if (options.StartTime != AV_NOPTS_VALUE) {
    const int64_t start = options.StartTime;
    steps.push_back(Step("ss", Number(start), [start](TCustomFFmpeg& t) { t.SetStartTime(start); }));
  }
  if (options.ProgramID >= 0) {
    const int id = options.ProgramID;
    steps.push_back(
        Step("programid", Number(int64_t{id}), [id](TCustomFFmpeg& t) { t.SetProgramID(id); }));
  }
  return steps;
}

TOutputOptionSteps OutputOptionSteps(const TOutputOptions& o) {
  const std::vector<TOptionLine> lines = SplitExtOptions(o.ExtOptions);

  // The defaults: the record's fields, else the first ExtOptions line of that name with a value.
  // Every such line also waits, in text order, for a new stream of its kind.
  std::map<std::string, std::string> defaults;
  const auto setDefault = [&](const char* name, const std::string& value) {
    if (!value.empty()) defaults[name] = value;
  };
  setDefault("acodec", o.AudioCodec);
  setDefault("vcodec", o.VideoCodec);
  setDefault("scodec", o.SubtitleCodec);
  setDefault("apre", o.AudioPreset);
  setDefault("vpre", o.VideoPreset);
  setDefault("spre", o.SubtitlePreset);
  setDefault("s", o.FrameSize);
  setDefault("vf", o.VideoFilters);
  std::vector<TOptionLine> pending;
  for (const TOptionLine& line : lines) {
    if (line.Value.empty() ||
        !OneOf(line.Name, {"acodec", "vcodec", "scodec", "apre", "vpre", "spre", "s", "vfilters",
                           "vf"}))
      continue;
    const std::string name = line.Name == "vfilters" ? "vf" : line.Name;
    defaults.try_emplace(name, line.Value);
    pending.push_back({name, line.Value});
  }
  const auto defaultOf = [&](const char* name) -> const std::string* {
    const auto it = defaults.find(name);
    return it == defaults.end() ? nullptr : &it->second;
  };

  TOutputOptionSteps result;
  std::vector<TOptionStep>& steps = result.BeforeAdd;

  if (const char* kind = TargetKind(o.TargetType)) {
    const std::string k = kind, norm = TargetNorm(o.TargetNorm),
                      fallback = o.TargetFallbackNorm == 1 ? "pal" : "ntsc";
    steps.push_back(Step("target", k + "," + norm + "," + fallback,
                         [k, norm, fallback](TCustomFFmpeg& t) { t.SetTarget(k, norm, fallback); }));
  }
  for (const char* name : {"acodec", "vcodec", "scodec", "apre", "vpre", "spre"})
    if (const std::string* value = defaultOf(name)) steps.push_back(Typed(name, *value));

  for (const TOptionLine& line : lines) {
    if (OneOf(line.Name, {"newvideo", "newaudio", "newsubtitle", "apre", "vpre", "spre", "vfilters",
                          "vf", "acodec", "vcodec", "scodec", "s"}))
      continue;
    steps.push_back(Option(line.Name, line.Value));
  }

  // The typed fields, in the order of the record.
  if (!o.FileFormat.empty()) {
    const std::string format = o.FileFormat;
    steps.push_back(Step("f", format, [format](TCustomFFmpeg& t) { t.SetFormat(format); }));
  }
  if (o.PacketSize > 0) steps.push_back(Generic("packetsize", o.PacketSize));
  if (o.MuxRate > 0) steps.push_back(Generic("muxrate", o.MuxRate));
  if (o.MuxDelay > 0) {
    const float v = o.MuxDelay;
    steps.push_back(Step("muxdelay", Number(v), [v](TCustomFFmpeg& t) { t.SetMuxDelay(v); }));
  }
  if (o.MuxPreload > 0) {
    const float v = o.MuxPreload;
    steps.push_back(Step("muxpreload", Number(v), [v](TCustomFFmpeg& t) { t.SetMuxPreload(v); }));
  }
  if (o.DisableAudio) steps.push_back(Option("an", "1"));
  if (o.AudioVolume >= 0) {
    const int v = o.AudioVolume;
    steps.push_back(Step("vol", Number(int64_t{v}), [v](TCustomFFmpeg& t) { t.SetAudioVolume(v); }));
  }
  if (o.AudioChannels > 0) {
    const int v = o.AudioChannels;
    steps.push_back(Step("ac", Number(int64_t{v}), [v](TCustomFFmpeg& t) { t.SetAudioChannels(v); }));
  }
  if (o.AudioSampleRate > 0) {
    const int v = o.AudioSampleRate;
    steps.push_back(
        Step("ar", Number(int64_t{v}), [v](TCustomFFmpeg& t) { t.SetAudioSampleRate(v); }));
  }
  if (o.AudioBitrate > 0) steps.push_back(Option("ab", Number(int64_t{o.AudioBitrate})));
  if (o.AudioBitrateTolerance > 0) steps.push_back(Generic("abt", o.AudioBitrateTolerance));
  steps.push_back(Option("alang", o.AudioLanguage));
  {
    const int v = o.AudioSync;
    steps.push_back(Step("async", Number(int64_t{v}), [v](TCustomFFmpeg& t) { t.SetAudioSync(v); }));
  }
  if (!o.AudioTag.empty()) {
    const std::string tag = o.AudioTag;
    steps.push_back(Step("atag", tag, [tag](TCustomFFmpeg& t) { t.SetAudioTag(tag); }));
  }
  if (o.DisableVideo) steps.push_back(Option("vn", "1"));
  if (!o.FrameRate.empty()) {
    const std::string rate = o.FrameRate;
    steps.push_back(Step("r", rate, [rate](TCustomFFmpeg& t) { t.SetFrameRate(rate); }));
  }
  if (!o.AspectRatio.empty()) {
    const std::string aspect = o.AspectRatio;
    steps.push_back(Step("aspect", aspect, [aspect](TCustomFFmpeg& t) { t.SetAspect(aspect); }));
  }
  const struct {
    const char* name;
    int value;
    void (TCustomFFmpeg::*set)(int);
  } crops[] = {{"croptop", o.CropTop, &TCustomFFmpeg::SetCropTop},
               {"cropbottom", o.CropBottom, &TCustomFFmpeg::SetCropBottom},
               {"cropleft", o.CropLeft, &TCustomFFmpeg::SetCropLeft},
               {"cropright", o.CropRight, &TCustomFFmpeg::SetCropRight}};
  for (const auto& crop : crops) {
    if (crop.value <= 0) continue;
    const int v = crop.value;
    const auto set = crop.set;
    steps.push_back(Step(crop.name, Number(int64_t{v}), [v, set](TCustomFFmpeg& t) { (t.*set)(v); }));
  }
  if (o.GOPSize > 0) steps.push_back(Generic("g", o.GOPSize));
  if (o.VideoBitrate > 0) steps.push_back(Option("vb", Number(int64_t{o.VideoBitrate})));
  if (o.VideoMaxRate > 0) steps.push_back(Generic("maxrate", o.VideoMaxRate));
  if (o.VideoMinRate > 0) steps.push_back(Generic("minrate", o.VideoMinRate));
  if (o.VideoBitrateTolerance > 0) steps.push_back(Generic("bt", o.VideoBitrateTolerance));
  if (o.VideoBufSize > 0) steps.push_back(Generic("bufsize", o.VideoBufSize));
  {
    const int v = o.VideoSync;
    steps.push_back(Step("vsync", Number(int64_t{v}), [v](TCustomFFmpeg& t) { t.SetVideoSync(v); }));
  }
  if (!o.VideoTag.empty()) {
    const std::string tag = o.VideoTag;
    steps.push_back(Step("vtag", tag, [tag](TCustomFFmpeg& t) { t.SetVideoTag(tag); }));
  }
  steps.push_back(Option("vlang", o.VideoLanguage));
  if (o.DisableSubtitle) steps.push_back(Option("sn", "1"));
  steps.push_back(Option("slang", o.SubtitleLanguage));
  steps.push_back(Option("isync", o.InputSync ? "1" : "0"));
  if (o.CopyTimestamps) steps.push_back(Option("copyts", "1"));
  if (o.StartTime != AV_NOPTS_VALUE) {
    const int64_t v = o.StartTime;
    steps.push_back(Step("ss", Number(v), [v](TCustomFFmpeg& t) { t.SetStartTime(v); }));
  }
  if (o.Duration != AV_NOPTS_VALUE) {
    const int64_t v = o.Duration;
    steps.push_back(Step("t", Number(v), [v](TCustomFFmpeg& t) { t.SetRecordingTime(v); }));
  }
  if (o.Info.Timestamp >= 0) {
    const int64_t seconds = LocalDateTimeToUnix(o.Info.Timestamp);
    steps.push_back(Step("timestamp", Number(seconds),
                         [seconds](TCustomFFmpeg& t) { t.SetRecordingTimestamp(seconds); }));
  }
  const auto metadata = [&](const char* key, const std::string& value) {
    const std::string k = key;
    steps.push_back(Step("metadata", k + "=" + value,
                         [k, value](TCustomFFmpeg& t) { t.AddMetadata(k, value); }));
  };
  if (o.Info.Year > 0) metadata("year", Number(int64_t{o.Info.Year}));
  if (o.Info.Track > 0) metadata("track", Number(int64_t{o.Info.Track}));
  const std::pair<const char*, const std::string*> texts[] = {
      {"title", &o.Info.Title},         {"author", &o.Info.Author}, {"copyright", &o.Info.Copyright},
      {"comment", &o.Info.Comment},     {"album", &o.Info.Album},   {"genre", &o.Info.Genre}};
  for (const auto& [key, value] : texts)
    if (!value->empty()) metadata(key, *value);

  for (const char* name : {"s", "vf"})
    if (const std::string* value = defaultOf(name)) steps.push_back(Typed(name, *value));

  // After the output is added: each new-stream line first takes its kind's settings.
  for (const TOptionLine& line : lines) {
    std::vector<const char*> names;
    if (line.Name == "newaudio") names = {"acodec", "apre"};
    else if (line.Name == "newvideo") names = {"vcodec", "vpre", "s", "vf"};
    else if (line.Name == "newsubtitle") names = {"scodec", "spre"};
    else continue;
    for (const char* name : names) {
      const auto it = std::find_if(pending.begin(), pending.end(),
                                   [name](const TOptionLine& p) { return p.Name == name; });
      if (it != pending.end()) {
        result.NewStreams.push_back(Option(it->Name, it->Value));
        pending.erase(it);
      } else if (const std::string* value = defaultOf(name)) {
        result.NewStreams.push_back(Option(name, *value));
      }
      // Neither: the option would be applied with an empty value, which changes nothing.
    }
    result.NewStreams.push_back(Option(line.Name, line.Value));
  }
  return result;
}

int64_t LocalDateTimeToUnix(double dateTime) {
  if (dateTime == 0) return static_cast<int64_t>(std::time(nullptr));
  // The wall-clock time as if it were UTC, then back through the offset in force at that moment.
  const auto wall = static_cast<time_t>(std::llround((dateTime - 25569.0) * 86400.0));
  struct tm broken {};
  if (!::gmtime_r(&wall, &broken)) return static_cast<int64_t>(wall);
  broken.tm_isdst = -1;
  const time_t utc = std::mktime(&broken);
  return utc == static_cast<time_t>(-1) ? static_cast<int64_t>(wall) : static_cast<int64_t>(utc);
}

}  // namespace engine
