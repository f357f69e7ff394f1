// The shipped format file against the catalogue and the installed media libraries. Built twice:
// the quick checks (one well-formed section per profile, encoders and containers that exist), and
// with VC_FORMAT_CONVERSIONS the slow ones: every profile's default values converting a short clip
// into the file the profile promises (streams, codecs, picture size, frame count, sample rate,
// channels, length), checked with ffprobe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "media/ffapi.h"
#include "media/ffloader.h"
#include "platform/inifile.h"
#include "platform/prompt.h"
#include "platform/text.h"
#include "profiles/catalogue.h"
#include "profiles/encodermap.h"
#include "profiles/jobbuilder.h"
#include "profiles/settings.h"
#ifdef VC_FORMAT_CONVERSIONS
#include "tests/engine/taskrunner.h"
#include "tests/support/ffprobe.h"
#include "tests/support/testdirs.h"
#endif

namespace {

using platform::TIniFile;

constexpr char kFormatFile[] = VC_FORMAT_FILE;
constexpr char kAsSource[] = "as source";

// The channel words and the volume percentages with the value the panel stores for each.
const std::map<std::string, std::string> kChannels = {
    {"as source", "as source"}, {"mono 1 channel", "1"}, {"stereo 2 channels", "2"}};
const std::map<std::string, std::string> kVolumes = {
    {"25%", "64"},   {"50%", "128"},  {"75%", "192"},  {"100%", "256"},
    {"125%", "320"}, {"150%", "384"}, {"175%", "448"}, {"200%", "512"},
    {"250%", "640"}, {"300%", "768"}, {"350%", "896"}, {"400%", "1024"}};
const std::set<std::string> kDiscTargets = {"ntsc-dvd", "pal-dvd",   "ntsc-vcd",
                                            "pal-vcd",  "ntsc-svcd", "pal-svcd"};
// "Format" values the job builder passes to the engine as the container.
const std::set<std::string> kContainerFormats = {"ipod", "3gp", "3g2",    "avi", "psp",
                                                 "mov",  "vcd", "mpegts", "flv", "vob"};
// Video encoder names the job builder hands to the engine; any other leaves the choice to the
// container.
const std::set<std::string> kEngineVideoEncoders = {
    "mpeg4", "libxvid", "mpeg1video", "mpeg2video", "msmpeg4", "msmpeg4v1", "msmpeg4v2",
    "huffyuv", "dvvideo", "rawvideo", "h263p", "h263", "rv10", "rv20", "ljpeg", "mjpeg", "svq1",
    "zlib", "wmv1", "wmv2", "libx264"};

std::string SectionOf(int code) { return "formatInfo" + std::to_string(code); }

std::vector<std::string> Split(const std::string& value) {
  std::vector<std::string> entries;
  size_t start = 0;
  for (size_t comma; (comma = value.find(',', start)) != std::string::npos; start = comma + 1)
    entries.push_back(value.substr(start, comma - start));
  entries.push_back(value.substr(start));
  return entries;
}

bool IsInteger(const std::string& text) {
  return !text.empty() && text.size() < 10 &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

bool IsDecimal(const std::string& text) {
  const size_t point = text.find('.');
  if (point == std::string::npos) return IsInteger(text);
  return IsInteger(text.substr(0, point)) && IsInteger(text.substr(point + 1));
}

// Missing successors of the panel's encoder names, as the engine substitutes them.
std::string Successor(const std::string& encoder) {
  if (encoder == "libfaac") return "aac";
  if (encoder == "libflac") return "flac";
  if (encoder == "vorbis") return "libvorbis";
  return encoder;
}

// One profile's section as the panel and the job builder read it.
struct TSection {
  int code = 0;
  std::string format, fileExt;
  std::map<std::string, std::string> keys;  // every key of the section

  std::string Value(const std::string& key, const std::string& def = "null") const {
    const auto it = keys.find(key);
    return it == keys.end() ? def : it->second;
  }
  bool AudioOnly() const { return Value("VideoEncoder") == "null"; }
  // The default entry of a list; nullopt when the list is "null".
  std::optional<std::string> Default(const std::string& list) const {
    const std::string value = Value(list);
    if (value == "null") return std::nullopt;
    const std::vector<std::string> entries = Split(value);
    const std::string index = Value("i" + list, "0");
    const size_t i = IsInteger(index) ? std::stoul(index) : entries.size();
    return i < entries.size() ? std::optional(entries[i]) : std::nullopt;
  }
};

TSection ReadSection(const TIniFile& file, int code) {
  TSection section;
  section.code = code;
  for (const std::string& key : file.ReadSection(SectionOf(code)))
    section.keys[key] = file.ReadString(SectionOf(code), key, "");
  section.format = section.Value("Format", "");
  section.fileExt = section.Value("FileExt", "");
  return section;
}

#ifndef VC_FORMAT_CONVERSIONS

const char* const kVideoLists[] = {"VideoSize", "VideoBitRate", "FrameRate", "VideoEncoder"};
const char* const kAudioLists[] = {"AudioBitRate", "SampleRate", "AudioEncoder", "Channel",
                                   "Volume"};
const char* const kH264Extras[] = {"paraBitExact", "paraMaxBitrate", "paraBufferSize", "paraLevel",
                                   "paraQscale",   "paraGop",        "paraCoder"};

// "WxH" with positive even numbers (the frame size box corrects anything else with a message).
bool IsFrameSize(const std::string& text) {
  const size_t x = text.find('x');
  if (x == std::string::npos) return false;
  const std::string w = text.substr(0, x), h = text.substr(x + 1);
  return IsInteger(w) && IsInteger(h) && std::stoi(w) > 0 && std::stoi(h) > 0 &&
         std::stoi(w) % 2 == 0 && std::stoi(h) % 2 == 0;
}

std::vector<TSection> ReadAll() {
  const TIniFile file(kFormatFile);
  std::vector<TSection> sections;
  for (int code : profiles::AllProfileCodes()) sections.push_back(ReadSection(file, code));
  return sections;
}

TEST(FormatFile, HoldsExactlyOneSectionPerProfile) {
  std::set<std::string> expected;
  for (int code : profiles::AllProfileCodes()) expected.insert(SectionOf(code));
  ASSERT_EQ(expected.size(), 121u);
  const std::vector<std::string> names = TIniFile(kFormatFile).ReadSections();
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected);
  // A repeated section would be silently ignored by every reader.
  std::ifstream in(kFormatFile);
  ASSERT_TRUE(in) << kFormatFile;
  int headers = 0;
  for (std::string line; std::getline(in, line);) headers += !line.empty() && line[0] == '[';
  EXPECT_EQ(headers, 121);
}

TEST(FormatFile, ListsAndDefaultsAreWellFormed) {
  for (const TSection& s : ReadAll()) {
    SCOPED_TRACE(SectionOf(s.code));
    EXPECT_FALSE(s.format.empty());
    EXPECT_FALSE(s.fileExt.empty());
    EXPECT_EQ(s.fileExt.find('.'), std::string::npos);
    // Sound-only profiles (the last group) have no video lists at all; every profile has sound.
    EXPECT_EQ(s.AudioOnly(), s.code / 100 == 27);
    for (const char* list : kVideoLists) EXPECT_EQ(s.Value(list) == "null", s.AudioOnly()) << list;

    std::vector<const char*> lists(std::begin(kAudioLists), std::end(kAudioLists));
    if (!s.AudioOnly()) lists.insert(lists.end(), std::begin(kVideoLists), std::end(kVideoLists));
    for (const char* name : lists) {
      const std::string list = name;
      SCOPED_TRACE(list);
      ASSERT_NE(s.Value(list), "null");
      const std::vector<std::string> entries = Split(s.Value(list));
      EXPECT_EQ(std::set<std::string>(entries.begin(), entries.end()).size(), entries.size())
          << "repeated entry";
      const std::string index = s.Value("i" + list, "");
      ASSERT_TRUE(IsInteger(index)) << "default position " << index;
      EXPECT_LT(std::stoul(index), entries.size());
      for (const std::string& entry : entries) {
        SCOPED_TRACE(entry);
        EXPECT_EQ(platform::TrimText(entry), entry);
        ASSERT_FALSE(entry.empty());
        const bool asSource = entry == kAsSource;
        if (list == "VideoSize") {
          EXPECT_TRUE(asSource || IsFrameSize(entry));
        } else if (list == "VideoBitRate" || list == "SampleRate") {
          EXPECT_TRUE(asSource || (IsInteger(entry) && std::stoi(entry) > 0));
        } else if (list == "AudioBitRate" || list == "FrameRate") {
          EXPECT_TRUE(asSource || (IsDecimal(entry) && std::stod(entry) > 0));
        } else if (list == "VideoEncoder") {
          EXPECT_TRUE(profiles::MapVideoEncoder(entry).has_value());
        } else if (list == "AudioEncoder") {
          EXPECT_TRUE(profiles::MapAudioEncoder(entry).has_value());
        } else if (list == "Channel") {
          EXPECT_TRUE(kChannels.count(entry));
        } else if (list == "Volume") {
          EXPECT_TRUE(kVolumes.count(entry));
        }
      }
    }
    // The "Default" button stores nothing for a frame size of "as source", so the job would
    // then ask for a size.
    if (!s.AudioOnly()) {
      EXPECT_NE(s.Default("VideoSize"), kAsSource);
    }

    // The H.264 settings come with every profile that offers the H.264 encoder, and only then.
    const std::vector<std::string> encoders = Split(s.Value("VideoEncoder"));
    const bool h264 = std::find(encoders.begin(), encoders.end(), "h264") != encoders.end();
    for (const char* key : kH264Extras) {
      SCOPED_TRACE(key);
      ASSERT_EQ(s.keys.count(key) == 1, h264);
      if (!h264) continue;
      const std::string value = s.Value(key);
      if (std::string(key) == "paraBitExact")
        EXPECT_TRUE(value == "true" || value == "false") << value;
      else if (std::string(key) == "paraCoder")
        EXPECT_TRUE(value == "0" || value == "1") << value;
      else if (std::string(key) == "paraQscale")
        EXPECT_TRUE(IsInteger(value)) << value;
      else
        EXPECT_TRUE(IsInteger(value) && std::stoi(value) > 0) << value;
    }
  }
}

TEST(FormatFile, EncodersAndContainersExistInTheLibraries) {
  ASSERT_TRUE(media::FFLoader().Load(media::EngineLibraries)) << media::FFLoader().LastErrMsg();
  for (const TSection& s : ReadAll()) {
    SCOPED_TRACE(SectionOf(s.code));
    // The output file's extension must name a container (it chooses one whenever no "Format"
    // container is passed).
    const std::string sample = "x." + s.fileExt;
    const AVOutputFormat* byExtension = ff::av_guess_format(nullptr, sample.c_str(), nullptr);
    EXPECT_NE(byExtension, nullptr) << s.fileExt;
    // "Format" is a disc target, a container of this build, or "ps3" (H.264 settings only).
    EXPECT_TRUE(kDiscTargets.count(s.format) || s.format == "ps3" ||
                ff::av_guess_format(s.format.c_str(), nullptr, nullptr))
        << s.format;

    for (const std::string& entry : Split(s.Value("AudioEncoder"))) {
      const std::string encoder = Successor(profiles::MapAudioEncoder(entry).value_or(entry));
      const AVCodec* codec = ff::avcodec_find_encoder_by_name(encoder.c_str());
      EXPECT_TRUE(codec && codec->type == AVMEDIA_TYPE_AUDIO) << entry << " -> " << encoder;
    }
    if (s.AudioOnly()) continue;
    for (const std::string& entry : Split(s.Value("VideoEncoder"))) {
      const std::string encoder = profiles::MapVideoEncoder(entry).value_or(entry);
      const AVCodec* codec = nullptr;
      if (kEngineVideoEncoders.count(encoder)) {
        codec = ff::avcodec_find_encoder_by_name(encoder.c_str());
      } else {
        // Left to the container (the entry names an encoder or a container, as "flv" or "mov"
        // do); the container's default video encoder must exist.
        EXPECT_TRUE(ff::avcodec_find_encoder_by_name(encoder.c_str()) ||
                    ff::av_guess_format(encoder.c_str(), nullptr, nullptr))
            << entry << " names nothing";
        const AVOutputFormat* container =
            kContainerFormats.count(s.format)
                ? ff::av_guess_format(s.format.c_str(), nullptr, nullptr)
                : byExtension;
        if (container) codec = ff::avcodec_find_encoder(container->video_codec);
      }
      EXPECT_TRUE(codec && codec->type == AVMEDIA_TYPE_VIDEO) << entry << " -> " << encoder;
    }
  }
}

#else  // VC_FORMAT_CONVERSIONS: conversions with each profile's default values.

// The fixture clip every profile converts: 2 s of 320x240 25 frame/s video with 44100 Hz stereo.
constexpr char kClip[] = "av.mp4";
constexpr int kClipWidth = 320, kClipHeight = 240, kClipChannels = 2;
constexpr double kClipSeconds = 2.0, kClipRate = 25.0;

// What a conversion should produce.
struct TExpected {
  bool video = false;
  std::string videoCodec, audioCodec;  // ffprobe's codec names
  int width = 0, height = 0;
  double frameRate = 0;  // 0: the clip's own
  int sampleRate = 0, channels = 0;
};

// The codec ffprobe reports for an engine encoder name, or for a panel entry that leaves the
// choice to the container.
std::string CodecOf(const std::string& encoder) {
  static const std::map<std::string, std::string> kCodecs = {
      {"libxvid", "mpeg4"}, {"libx264", "h264"},  {"msmpeg4", "msmpeg4v3"}, {"flv", "flv1"},
      {"swf", "flv1"},      {"mov", "h264"},      {"3gp", "h263"},          {"3g2", "h263"},
      {"libmp3lame", "mp3"}, {"libfaac", "aac"},  {"libvorbis", "vorbis"},  {"vorbis", "vorbis"},
      {"libflac", "flac"}};
  const auto it = kCodecs.find(encoder);
  return it == kCodecs.end() ? encoder : it->second;
}

// The values the "Default" button stores for a profile (each box's default entry, mapped as the
// parameter panel maps it), over the job builder's own defaults for boxes that store nothing.
std::map<std::string, std::string> DefaultSettings(const TSection& s) {
  std::map<std::string, std::string> para = {
      {"paraVideoSize", "null"},  {"paraVideoEncoder", ""}, {"paraVideoBitRate", "512"},
      {"paraFrameRate", "29.97"}, {"paraAudioEncoder", ""}, {"paraChannel", "2"},
      {"paraSampleRate", "44100"}, {"paraAudioBitRate", "128"}, {"paraVolume", "3"}};
  const auto store = [&](const char* list, const std::string& key, auto map) {
    if (const std::optional<std::string> entry = s.Default(list))
      if (const std::optional<std::string> value = map(*entry)) para[key] = *value;
  };
  const auto text = [](const std::string& e) { return std::optional(e); };
  store("VideoSize", "paraVideoSize",
        [](const std::string& e) { return e == kAsSource ? std::nullopt : std::optional(e); });
  store("VideoEncoder", "paraVideoEncoder", profiles::MapVideoEncoder);
  store("VideoBitRate", "paraVideoBitRate", text);
  store("FrameRate", "paraFrameRate", text);
  store("AudioEncoder", "paraAudioEncoder", profiles::MapAudioEncoder);
  store("AudioBitRate", "paraAudioBitRate", text);
  store("SampleRate", "paraSampleRate", text);
  store("Channel", "paraChannel", [](const std::string& e) {
    const auto it = kChannels.find(e);
    return it == kChannels.end() ? std::nullopt : std::optional(it->second);
  });
  store("Volume", "paraVolume", [](const std::string& e) {
    const auto it = kVolumes.find(e);
    return it == kVolumes.end() ? std::nullopt : std::optional(it->second);
  });
  return para;
}

// What a job of the profile's defaults must give on the fixture clip (a row without crop, "full"
// zoom), read from the format file by this test's own reading of the job rules, independently of
// the job builder.
TExpected Expect(const TSection& s) {
  const std::map<std::string, std::string> para = DefaultSettings(s);
  const auto value = [&](const char* key) { return para.at(key); };
  const auto positive = [](const std::string& v) { return IsInteger(v) && std::stoi(v) > 0; };
  TExpected want;

  const std::string videoEncoder = platform::TrimText(value("paraVideoEncoder"));
  const bool audioOnly = videoEncoder.empty();
  std::string audioCodec = value("paraAudioEncoder");
  if (audioCodec.empty() && audioOnly) audioCodec = "libfaac";
  if (!audioOnly && audioCodec == "libamr_nb") audioCodec = "libopencore_amrnb";
  want.audioCodec = CodecOf(Successor(audioCodec));
  want.channels = positive(value("paraChannel")) ? std::stoi(value("paraChannel")) : kClipChannels;
  if (positive(value("paraSampleRate"))) want.sampleRate = std::stoi(value("paraSampleRate"));
  if (audioOnly) return want;

  want.video = true;
  want.videoCodec = CodecOf(videoEncoder);
  const std::string frameRate = value("paraFrameRate");
  if (frameRate != kAsSource && IsDecimal(frameRate) && std::stod(frameRate) > 0)
    want.frameRate = std::stod(frameRate);

  // Frame size "WxH"; H.263 takes the nearest legal size for other widths.
  int w = kClipWidth, h = kClipHeight;
  const std::string size = value("paraVideoSize");
  const size_t x = size.find('x');
  if (size != kAsSource && x != std::string::npos && x > 0 && x + 1 < size.size()) {
    if (IsInteger(size.substr(0, x))) w = std::stoi(size.substr(0, x));
    if (IsInteger(size.substr(x + 1))) h = std::stoi(size.substr(x + 1));
    if (videoEncoder == "h263" &&
        std::string("704x576,352x288,176x144,160x120,128x96").find(size) == std::string::npos) {
      if (w > 352) w = 704, h = 576;
      else if (w > 176) w = 352, h = 288;
    }
  } else if (size != kAsSource) {
    ADD_FAILURE() << "no frame size stored: the job would ask for one";
  }
  want.width = w;
  want.height = h;
  return want;
}

class FormatFileConversion : public ::testing::TestWithParam<int> {};

TEST_P(FormatFileConversion, DefaultValuesConvert) {
  // The job comes from the job builder on a fresh settings file, as a row of the sample clip with
  // the "full" zoom and no crop; the expected streams come from this file's own reading.
  const TSection s = ReadSection(TIniFile(kFormatFile), GetParam());
  const TExpected want = Expect(s);
  testsupport::TempDir dir;
  engine::TInputOptions input;
  engine::TOutputOptions outputOptions;
  outputOptions.FileName = dir.File("out." + s.fileExt);
  const std::string& output = outputOptions.FileName;
  profiles::TJobSource source;
  source.HasVideo = true;
  source.Width = kClipWidth;
  source.Height = kClipHeight;
  source.Zoom = "full";
  platform::TScriptedPrompt prompt;
  platform::TPromptScope scope(prompt);
  profiles::BuildJobOptions(dir.File(profiles::kSettingsFileName), kFormatFile, GetParam(), source,
                            outputOptions, input);
  EXPECT_TRUE(prompt.Texts().empty()) << "the job asked: " << prompt.Texts().front();
  SCOPED_TRACE("vcodec=" + outputOptions.VideoCodec + " acodec=" + outputOptions.AudioCodec +
               " s=" + outputOptions.FrameSize + " vf=" + outputOptions.VideoFilters +
               " ext=" + outputOptions.ExtOptions);

  const testsupport::TRunResult run =
      testsupport::RunJob(testsupport::Fixture(kClip), input, outputOptions);
  std::string log;
  for (const std::string& line : run.log) log += "\n  " + line;
  ASSERT_TRUE(run.finished && !run.failed) << run.error << log;

  const testsupport::FFprobe probe(output, true);
  ASSERT_TRUE(probe.Ok()) << probe.Errors();
  // Containers that take variable frame rates keep the clip's frames; the rate only sets their
  // clock there.
  const std::string container = outputOptions.FileFormat;
  const AVOutputFormat* muxer =
      ff::av_guess_format(container.empty() ? nullptr : container.c_str(), output.c_str(), nullptr);
  ASSERT_NE(muxer, nullptr);
  const bool variableRate = muxer->flags & AVFMT_VARIABLE_FPS;
  ASSERT_EQ(probe.StreamCount("video"), want.video ? 1u : 0u);
  ASSERT_EQ(probe.StreamCount("audio"), 1u);
  for (size_t i = 0; i < probe.StreamCount(); ++i) {
    SCOPED_TRACE("stream " + std::to_string(i));
    const nlohmann::json& st = probe.Stream(i);
    if (probe.CodecType(i) == "video") {
      EXPECT_EQ(probe.CodecName(i), want.videoCodec);
      EXPECT_EQ(probe.Width(i), want.width);
      EXPECT_EQ(probe.Height(i), want.height);
      // Every frame of the clip, at the profile's rate (MPEG-1/2 round it to a standard rate).
      const double rate = want.frameRate > 0 && !variableRate ? want.frameRate : kClipRate;
      EXPECT_NEAR(double(probe.NbReadFrames(i)), kClipSeconds * rate, 2.0);
    } else if (probe.CodecType(i) == "audio") {
      EXPECT_EQ(probe.CodecName(i), want.audioCodec);
      if (want.sampleRate) {
        EXPECT_EQ(std::stoi(st.value("sample_rate", "0")), want.sampleRate);
      }
      EXPECT_EQ(st.value("channels", 0), want.channels);
    }
  }
  // Audio encoders add priming and padding of a frame or two. A container that records no
  // length (SWF) is measured by its video frame count above.
  if (std::isnan(probe.Duration()))
    EXPECT_TRUE(want.video) << "no length recorded";
  else
    EXPECT_NEAR(probe.Duration(), kClipSeconds, 0.3);
}

INSTANTIATE_TEST_SUITE_P(Profiles, FormatFileConversion,
                         ::testing::ValuesIn(profiles::AllProfileCodes()),
                         [](const ::testing::TestParamInfo<int>& param) {
                           return "Code" + std::to_string(param.param);
                         });

#endif  // VC_FORMAT_CONVERSIONS

}  // namespace
