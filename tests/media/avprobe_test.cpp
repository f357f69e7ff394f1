#include "media/avprobe.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "media/ffapi.h"
#include "media/ffloader.h"
#include "media/fflogger.h"
#include "media/ffutils.h"
#include "media/unicodeprotocol.h"
#include "tests/support/ffprobe.h"
#include "tests/support/testdirs.h"

using namespace media;
using nlohmann::json;
using testsupport::FFprobe;
using testsupport::Fixture;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

class AVProbe : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FFLoader().Load(EngineLibraries)) << FFLoader().LastErrMsg();
  }
};

// The messages a probe logs (sender = that probe), captured for one test.
class ProbeMessages {
 public:
  explicit ProbeMessages(const TFFBaseComponent* probe) {
    GetLogger().TriggerEventInMainThread = false;
    GetLogger().OnLog = [this, probe](TFFBaseComponent* sender, uint32_t, TLogLevel level,
                                      const std::string& text) {
      if (sender == probe) list.emplace_back(level, text);
    };
  }
  ~ProbeMessages() { GetLogger().OnLog = nullptr; }
  std::vector<std::pair<TLogLevel, std::string>> list;
};

// A context opened here, as the engine opens its inputs; closed when the object goes away.
struct OwnContext {
  explicit OwnContext(const std::string& file) {
    if (OpenInputFile(&ic, file, nullptr, nullptr) < 0) return;
    std::lock_guard<std::mutex> lock(CodecLock());
    if (ff::avformat_find_stream_info(ic, nullptr) < 0) CloseInputFile(&ic);
  }
  ~OwnContext() { CloseInputFile(&ic); }
  AVFormatContext* ic = nullptr;
};

// Reads every packet left in the context; the count (negative on a read error).
int ReadAllPackets(AVFormatContext* ic) {
  AVPacket* pkt = ff::av_packet_alloc();
  int count = 0, ret;
  while ((ret = ff::av_read_frame(ic, pkt)) >= 0) {
    ++count;
    ff::av_packet_unref(pkt);
  }
  ff::av_packet_free(&pkt);
  return ret == AVERROR_EOF ? count : ret;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0, end;
  while ((end = text.find("\r\n", start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(start, text.size()) << "every line ends with CR LF";
  return lines;
}

// ---- ffprobe's report ---------------------------------------------------------------------------

std::string Text(const json& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : "";
}

bool Has(const json& object, const char* key) { return object.find(key) != object.end(); }

// A number ffprobe writes as a number or as a decimal text.
double Number(const json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end()) return NAN;
  if (it->is_number()) return it->get<double>();
  return std::stod(it->get<std::string>());
}

int64_t Us(double seconds) { return std::llround(seconds * 1e6); }

// A "25/1" or "4:3" pair.
std::pair<int, int> Pair(const std::string& text) {
  const size_t sep = text.find_first_of("/:");
  return {std::stoi(text.substr(0, sep)), std::stoi(text.substr(sep + 1))};
}

// The lines a metadata block should have for ffprobe's tags (as a set: ffprobe's report does not
// keep their order): none for no tags or a language alone.
std::set<std::string> ExpectedBlock(const json& object, const std::string& indent) {
  std::set<std::string> lines;
  if (!Has(object, "tags")) return lines;
  for (const auto& [key, value] : object["tags"].items()) {
    if (key == "language") continue;
    std::string padded = key;
    if (padded.size() < 16) padded.append(16 - padded.size(), ' ');
    lines.insert(indent + "  " + padded + ": " + value.get<std::string>());
  }
  if (!lines.empty()) lines.insert(indent + "Metadata:");
  return lines;
}

int FirstOfType(const FFprobe& ref, const std::string& type) {
  for (size_t i = 0; i < ref.StreamCount(); ++i)
    if (ref.CodecType(i) == type) return static_cast<int>(i);
  return -1;
}

// ---- Sample files -------------------------------------------------------------------------------

struct SampleFile {
  const char* file;
  // Tags as the fixture script writes them.
  const char* title;
  const char* author;
  const char* album;
  int year;
  int track;
  int64_t timestamp;
  const char* timeStampLine;  // in the time zone the test sets (3 hours east of UTC); "" = none
  const char* videoRates;     // the rate parts of the first video stream's line
  std::vector<std::string> programLines;  // program line and its metadata block
  // How the first video stream is seen: its clockwise turn, the size it is seen at (0: its
  // stored size) and the part of its stream line from its size on ("": nothing said of it).
  int rotation = 0;
  int displayW = 0, displayH = 0;
  const char* seen = "";
};


}  // namespace

// Facts, records and description of every sample file, checked against ffprobe's report of the
// same file.
TEST_F(AVProbe, MatchesIndependentReaderOnSampleFiles) {
  ASSERT_EQ(::setenv("TZ", "UTC-3", 1), 0);
  ::tzset();
  const std::vector<SampleFile> samples = {
      {"av.mp4", "", "", "", 0, 0, 0, "", ", 25 fps, 25 tbr, 12800 tbn, 50 tbc", {}},
      {"audio.mp3", "Sample Title", "Sample Artist", "Sample Album", 2010, 3, 0, "", "", {}},
      {"tone.wav", "", "", "", 0, 0, 0, "", "", {}},
      {"multi.mkv", "", "", "", 0, 0, 0, "", ", 25 fps, 25 tbr, 1k tbn, 50 tbc", {}},
      // Outside the code page of the test's C locale: the library gets the "unicode:utf8:" form.
      {"Видео тест.mp4", "", "", "", 0, 0, 0, "", ", 25 fps, 25 tbr, 12800 tbn, 50 tbc", {}},
      {"tagged.m4a",
       "Tagged Title",
       "Tagged Artist",
       "Tagged Album",
       2011,
       7,
       1330837567,
       "Time Stamp: 2012-03-04 08:06:07",
       "",
       {}},
      {"service.ts",
       "",
       "",
       "",
       0,
       0,
       0,
       "",
       ", 25 fps, 25 tbr, 90k tbn, 50 tbc",
       {"Program 1 Probe Provider@Probe Service", "  Metadata:",
        "    service_name    : Probe Service", "    service_provider: Probe Provider"}},
      {"phone90.mp4", "", "", "", 0, 0, 0, "", ", 25 fps, 25 tbr, 12800 tbn, 50 tbc", {}, 90,
       360, 640, ", 640x360 [SAR 1:1 DAR 16:9], rotated 90°, display 360x640, "},
      {"phone180.mp4", "", "", "", 0, 0, 0, "", ", 25 fps, 25 tbr, 12800 tbn, 50 tbc", {}, 180,
       0, 0, ", 640x360 [SAR 1:1 DAR 16:9], rotated 180°, "},
      {"pal_wide.mp4", "", "", "", 0, 0, 0, "", ", 25 fps, 25 tbr, 12800 tbn, 50 tbc", {}, 0,
       1024, 576, ", 720x576 [SAR 64:45 DAR 16:9], display 1024x576, "},
      {"hdv.mp4", "", "", "", 0, 0, 0, "", ", 25 fps, 25 tbr, 12800 tbn, 50 tbc", {}, 0, 1920,
       1080, ", 1440x1080 [SAR 4:3 DAR 16:9], display 1920x1080, "},
  };
  const std::map<std::string, std::string> kTypeNames = {
      {"video", "Video"}, {"audio", "Audio"}, {"subtitle", "Subtitle"}, {"data", "Data"}};

  TAVProbe probe;
  for (const SampleFile& s : samples) {
    SCOPED_TRACE(s.file);
    const std::string path = Fixture(s.file);
    const FFprobe ref(path);
    ASSERT_TRUE(ref.Ok()) << ref.Errors();
    const json& format = ref.Json()["format"];
    ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg();

    // File facts.
    EXPECT_TRUE(probe.OwnsContext());
    EXPECT_EQ(probe.FileName(), path);
    EXPECT_STREQ(probe.FormatContext()->url, FileNameToURL(path).c_str());
    EXPECT_EQ(probe.FormatName(), ref.FormatName());
    EXPECT_EQ(probe.FileSize(), Number(format, "size"));
    EXPECT_EQ(probe.StreamCount(), static_cast<int>(ref.StreamCount()));
    EXPECT_EQ(probe.ProgramCount(), Number(format, "nb_programs"));
    EXPECT_EQ(probe.VideoStreamCount(), static_cast<int>(ref.StreamCount("video")));
    EXPECT_EQ(probe.AudioStreamCount(), static_cast<int>(ref.StreamCount("audio")));
    EXPECT_EQ(probe.SubtitleStreamCount(), static_cast<int>(ref.StreamCount("subtitle")));
    EXPECT_EQ(probe.FirstVideoStreamIndex(), FirstOfType(ref, "video"));
    EXPECT_EQ(probe.FirstAudioStreamIndex(), FirstOfType(ref, "audio"));
    EXPECT_EQ(probe.FirstSubtitleStreamIndex(), FirstOfType(ref, "subtitle"));

    TFileStreamInfo info;
    probe.GetFileStreamInfo(info);
    EXPECT_NEAR(info.Duration, Us(ref.Duration()), 1);
    if (Has(format, "start_time"))
      EXPECT_NEAR(info.StartTime, Us(Number(format, "start_time")), 1);
    else
      EXPECT_EQ(info.StartTime, -1);
    EXPECT_EQ(info.BitRate, Number(format, "bit_rate"));
    EXPECT_EQ(info.Title, s.title);
    EXPECT_EQ(info.Author, s.author);
    EXPECT_EQ(info.Album, s.album);
    EXPECT_EQ(info.Year, s.year);
    EXPECT_EQ(info.Track, s.track);
    EXPECT_EQ(info.Timestamp, s.timestamp);
    EXPECT_EQ(info.Title, ref.Tag("title"));
    EXPECT_EQ(info.Genre, ref.Tag("genre"));
    EXPECT_EQ(info.Comment, ref.Tag("comment"));
    EXPECT_EQ(info.Copyright, ref.Tag("copyright"));

    // Stream records.
    for (size_t i = 0; i < ref.StreamCount(); ++i) {
      SCOPED_TRACE("stream " + std::to_string(i));
      const json& st = ref.Stream(i);
      const int index = static_cast<int>(i);
      const std::string type = ref.CodecType(i);
      EXPECT_EQ(probe.IsVideoStream(index), type == "video");
      EXPECT_EQ(probe.IsAudioStream(index), type == "audio");
      const int64_t startPts =
          Has(st, "start_pts") ? int64_t(Number(st, "start_pts")) : AV_NOPTS_VALUE;
      const int64_t startUs = Has(st, "start_time") ? Us(Number(st, "start_time")) : -1;
      const int64_t durationTs =
          Has(st, "duration_ts") ? int64_t(Number(st, "duration_ts")) : AV_NOPTS_VALUE;
      const int64_t durationUs = Has(st, "duration") ? Us(Number(st, "duration")) : -1;
      const int64_t bitRate = Has(st, "bit_rate") ? int64_t(Number(st, "bit_rate")) : 0;
      const std::string codec = "(" + Text(st, "codec_long_name") + ")";
      if (type == "video") {
        TVideoStreamInfo v;
        probe.GetVideoStreamInfo(index, v);
        EXPECT_TRUE(v.CodecName.ends_with(codec)) << v.CodecName;
        EXPECT_EQ(v.Width, ref.Width(i));
        EXPECT_EQ(v.Height, ref.Height(i));
        EXPECT_EQ(std::make_pair(v.FrameRateNum, v.FrameRateDen), Pair(Text(st, "r_frame_rate")));
        EXPECT_STREQ(ff::av_get_pix_fmt_name(static_cast<AVPixelFormat>(v.PixelFormat)),
                     Text(st, "pix_fmt").c_str());
        const auto dar = Pair(Text(st, "display_aspect_ratio"));
        EXPECT_NEAR(v.DisplayAspectRatio, double(dar.first) / dar.second, 1e-5);
        EXPECT_EQ(v.StartTime, startPts);
        EXPECT_NEAR(v.StartTimeUS, startUs, 1);
        EXPECT_EQ(v.Duration, durationTs);
        EXPECT_NEAR(v.DurationUS, durationUs, 1);
        EXPECT_EQ(v.BitRate, bitRate);
        EXPECT_EQ(v.Language, ref.StreamTag(i, "language"));
        // How it is seen.
        EXPECT_EQ(v.Rotation, ref.Rotation(i));
        EXPECT_EQ(v.Rotation, s.rotation);
        const std::string sar = ref.SampleAspect(i);
        EXPECT_EQ(std::to_string(v.SampleAspectNum) + ":" + std::to_string(v.SampleAspectDen),
                  sar.empty() || sar == "0:1" ? "1:1" : sar);
        const bool sidesSwapped = s.rotation % 180 != 0;
        EXPECT_EQ(v.UprightWidth, sidesSwapped ? ref.Height(i) : ref.Width(i));
        EXPECT_EQ(v.UprightHeight, sidesSwapped ? ref.Width(i) : ref.Height(i));
        EXPECT_EQ(v.DisplayWidth, s.displayW ? s.displayW : v.UprightWidth);
        EXPECT_EQ(v.DisplayHeight, s.displayH ? s.displayH : v.UprightHeight);
      } else if (type == "audio") {
        TAudioStreamInfo a;
        probe.GetAudioStreamInfo(index, a);
        EXPECT_TRUE(a.CodecName.ends_with(codec)) << a.CodecName;
        EXPECT_EQ(a.Channels, Number(st, "channels"));
        EXPECT_EQ(a.SampleRate, Number(st, "sample_rate"));
        EXPECT_STREQ(ff::av_get_sample_fmt_name(static_cast<AVSampleFormat>(a.SampleFormat)),
                     Text(st, "sample_fmt").c_str());
        EXPECT_EQ(a.StartTime, startPts);
        EXPECT_NEAR(a.StartTimeUS, startUs, 1);
        EXPECT_EQ(a.Duration, durationTs);
        EXPECT_NEAR(a.DurationUS, durationUs, 1);
        EXPECT_EQ(a.BitRate, bitRate);
        EXPECT_EQ(a.Language, ref.StreamTag(i, "language"));
      }
    }

    // The description, line by line.
    const std::vector<std::string> lines = SplitLines(probe.FileInfoText());
    size_t n = 0;
    auto next = [&] { return n < lines.size() ? lines[n++] : std::string("<no more lines>"); };
    auto block = [&] {
      std::set<std::string> b;
      while (n < lines.size() && !lines[n].starts_with("Stream #") &&
             !lines[n].starts_with("Program "))
        b.insert(lines[n++]);
      return b;
    };
    EXPECT_EQ(next(), "File Name: " + path);
    EXPECT_EQ(next(), "Format Name: " + Text(format, "format_name"));
    EXPECT_EQ(next(), "Format Long Name: " + Text(format, "format_long_name"));
    EXPECT_EQ(next(), "File Size: " + FileSizeToStr(int64_t(Number(format, "size"))));
    EXPECT_EQ(next(), "Duration: " + DurationToStr(Us(ref.Duration())));
    if (Has(format, "start_time")) {
      EXPECT_EQ(next(), "StartTime: " + Text(format, "start_time"));
    }
    EXPECT_EQ(next(),
              "Bit Rate: " + std::to_string(int64_t(Number(format, "bit_rate")) / 1000) + " kb/s");
    if (*s.timeStampLine) {
      EXPECT_EQ(next(), s.timeStampLine);
    }
    EXPECT_EQ(block(), ExpectedBlock(format, ""));
    for (const std::string& line : s.programLines) EXPECT_EQ(next(), line);
    bool firstVideo = true;
    for (size_t i = 0; i < ref.StreamCount(); ++i) {
      SCOPED_TRACE("stream line " + std::to_string(i));
      const json& st = ref.Stream(i);
      std::string head = "Stream #" + std::to_string(i);
      if (Has(st, "id")) head += "[" + Text(st, "id") + "]";
      if (!ref.StreamTag(i, "language").empty()) head += "(" + ref.StreamTag(i, "language") + ")";
      head += ", " + Text(st, "time_base") + ": " + kTypeNames.at(ref.CodecType(i)) + ": " +
              ref.CodecName(i);
      std::string tail;
      if (ref.CodecType(i) == "video" && firstVideo) {
        tail = s.videoRates;
        firstVideo = false;
      }
      if (Has(st, "start_time")) tail += ", StartTime: " + Text(st, "start_time");
      tail += ", Duration: " + (Has(st, "duration") ? DurationToStr(Us(Number(st, "duration")))
                                                    : std::string("N/A"));
      const std::string line = next();
      EXPECT_TRUE(line.starts_with(head)) << line << "\nexpected start: " << head;
      EXPECT_TRUE(line.ends_with(tail)) << line << "\nexpected end: " << tail;
      if (ref.CodecType(i) == "video" && *s.seen) {
        EXPECT_NE(line.find(s.seen), std::string::npos) << line << "\nexpected: " << s.seen;
      } else {
        EXPECT_EQ(line.find(", rotated "), std::string::npos) << line;
        EXPECT_EQ(line.find(", display "), std::string::npos) << line;
      }
      EXPECT_EQ(block(), ExpectedBlock(st, "  "));
    }
    EXPECT_EQ(n, lines.size());
  }
}

// With no file every fact is -1 and every query resets its output and says why.
TEST_F(AVProbe, NoFileQueriesResetAndReport) {
  TAVProbe probe;
  ProbeMessages log(&probe);
  auto expectNoFile = [&probe] {
    EXPECT_EQ(probe.FormatContext(), nullptr);
    for (const int64_t field :
         {probe.FileSize(), int64_t(probe.StreamCount()), int64_t(probe.ProgramCount()),
          int64_t(probe.AudioStreamCount()), int64_t(probe.VideoStreamCount()),
          int64_t(probe.SubtitleStreamCount()), int64_t(probe.FirstAudioStreamIndex()),
          int64_t(probe.FirstVideoStreamIndex()), int64_t(probe.FirstSubtitleStreamIndex())})
      EXPECT_EQ(field, -1);
  };
  expectNoFile();
  ASSERT_TRUE(probe.LoadFile(Fixture("av.mp4"), "mp4")) << probe.LastErrMsg();
  EXPECT_EQ(probe.InputFormatName(), "mp4");
  probe.CloseFile();
  expectNoFile();
  EXPECT_EQ(probe.InputFormatName(), "");

  TFileStreamInfo file{0, 0, 0, 0, 0, 0, "x", "x", "x", "x", "x", "x"};
  TVideoStreamInfo video{"x", "x", 0, 0, 0, 0, 0, 0, 0, 0.5f, 0, 0, 0};
  TAudioStreamInfo audio{"x", "x", 0, 0, 0, 0, 0, 0, 0, 0};
  const std::vector<std::pair<const char*, std::function<void()>>> queries = {
      {"GetFileStreamInfo", [&] { probe.GetFileStreamInfo(file); }},
      {"GetVideoStreamInfo", [&] { probe.GetVideoStreamInfo(0, video); }},
      {"GetAudioStreamInfo", [&] { probe.GetAudioStreamInfo(-1, audio); }},
      {"IsVideoStream", [&] { EXPECT_FALSE(probe.IsVideoStream(0)); }},
      {"IsAudioStream", [&] { EXPECT_FALSE(probe.IsAudioStream(0)); }},
      {"FileName", [&] { EXPECT_EQ(probe.FileName(), ""); }},
      {"FormatName", [&] { EXPECT_EQ(probe.FormatName(), ""); }},
      {"FileInfoText", [&] { EXPECT_EQ(probe.FileInfoText(), ""); }},
  };
  for (const auto& [name, query] : queries) {
    SCOPED_TRACE(name);
    log.list.clear();
    query();
    EXPECT_EQ(probe.LastErrMsg(), "file not loaded.");
    ASSERT_EQ(log.list.size(), 1u);
    EXPECT_EQ(log.list[0], std::make_pair(llWarning, std::string("file not loaded.")));
  }
  EXPECT_EQ(file.StartTime, -1);
  EXPECT_EQ(file.Duration, -1);
  EXPECT_EQ(file.BitRate, -1);
  EXPECT_EQ(file.Timestamp, -1);
  EXPECT_EQ(file.Year, -1);
  EXPECT_EQ(file.Track, -1);
  EXPECT_EQ(file.Title + file.Author + file.Copyright + file.Comment + file.Album + file.Genre, "");
  EXPECT_EQ(video.CodecName, "");
  EXPECT_EQ(video.Width, -1);
  EXPECT_EQ(video.DisplayAspectRatio, -1.0f);
  EXPECT_EQ(audio.Language, "");
  EXPECT_EQ(audio.SampleRate, -1);
}

// Asking for a stream that is not there, or not of the asked kind, resets the record and says
// which.
TEST_F(AVProbe, StreamIndexErrors) {
  enum Query { kVideo, kAudio, kIsVideo, kIsAudio };
  const struct {
    const char* file;
    Query query;
    int index;
    const char* text;
  } cases[] = {
      {"av.mp4", kVideo, 1, "stream #1 is not video stream."},
      {"av.mp4", kAudio, 0, "stream #0 is not audio stream."},
      {"multi.mkv", kAudio, 3, "stream #3 is not audio stream."},
      {"av.mp4", kVideo, 2, "stream index #2 is invalid."},
      {"multi.mkv", kAudio, 4, "stream index #4 is invalid."},
      {"av.mp4", kIsVideo, 2, "stream index #2 is invalid."},
      {"av.mp4", kIsAudio, -1, "stream index #-1 is invalid."},
      {"tone.wav", kVideo, -1, "no video stream."},
  };
  TAVProbe probe;
  ProbeMessages log(&probe);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.query) + " " + c.text);
    ASSERT_TRUE(probe.LoadFile(Fixture(c.file))) << probe.LastErrMsg();
    // Fill the records from a good stream first, so that a missing reset shows.
    TVideoStreamInfo video;
    TAudioStreamInfo audio;
    if (probe.FirstVideoStreamIndex() >= 0) probe.GetVideoStreamInfo(-1, video);
    probe.GetAudioStreamInfo(-1, audio);
    log.list.clear();
    switch (c.query) {
      case kVideo:
        probe.GetVideoStreamInfo(c.index, video);
        EXPECT_EQ(video.CodecName, "");
        EXPECT_EQ(video.Width, -1);
        EXPECT_EQ(video.StartTime, -1);
        EXPECT_EQ(video.DurationUS, -1);
        EXPECT_EQ(video.FrameRateNum, -1);
        EXPECT_EQ(video.DisplayAspectRatio, -1.0f);
        break;
      case kAudio:
        probe.GetAudioStreamInfo(c.index, audio);
        EXPECT_EQ(audio.CodecName, "");
        EXPECT_EQ(audio.Language, "");
        EXPECT_EQ(audio.Channels, -1);
        EXPECT_EQ(audio.SampleRate, -1);
        EXPECT_EQ(audio.StartTimeUS, -1);
        break;
      case kIsVideo:
        EXPECT_FALSE(probe.IsVideoStream(c.index));
        break;
      case kIsAudio:
        EXPECT_FALSE(probe.IsAudioStream(c.index));
        break;
    }
    EXPECT_EQ(probe.LastErrMsg(), c.text);
    ASSERT_EQ(log.list.size(), 1u);
    EXPECT_EQ(log.list[0], std::make_pair(llError, std::string(c.text)));
  }

  // A file without audio: its only other stream is a data stream, which is not counted.
  OwnContext own(Fixture("av.mp4"));
  ASSERT_NE(own.ic, nullptr);
  own.ic->streams[1]->codecpar->codec_type = AVMEDIA_TYPE_DATA;
  probe.AttachFormatContext(own.ic);
  EXPECT_EQ(probe.StreamCount(), 2);
  EXPECT_EQ(probe.VideoStreamCount(), 1);
  EXPECT_EQ(probe.AudioStreamCount(), 0);
  EXPECT_EQ(probe.FirstAudioStreamIndex(), -1);
  TAudioStreamInfo audio;
  audio.SampleRate = 1;
  probe.GetAudioStreamInfo(-1, audio);
  EXPECT_EQ(probe.LastErrMsg(), "no audio stream.");
  EXPECT_EQ(audio.SampleRate, -1);
  EXPECT_FALSE(probe.IsAudioStream(1));
  probe.CloseFile();
}

// An album's cover picture is a video stream to the library, but not the file's video: it is
// counted apart, never the first video stream, and named in the description.
TEST_F(AVProbe, ACoverPictureIsNoVideoStream) {
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(Fixture("cover.mp3"))) << probe.LastErrMsg();
  EXPECT_EQ(probe.StreamCount(), 2);
  EXPECT_EQ(probe.VideoStreamCount(), 0);
  EXPECT_EQ(probe.CoverPictureCount(), 1);
  EXPECT_EQ(probe.FirstVideoStreamIndex(), -1);
  EXPECT_EQ(probe.AudioStreamCount(), 1);
  TVideoStreamInfo video;
  probe.GetVideoStreamInfo(-1, video);
  EXPECT_EQ(video.Width, -1);
  const std::string text = probe.FileInfoText();
  EXPECT_NE(text.find("Video: mjpeg"), std::string::npos) << text;
  EXPECT_NE(text.find(" (cover picture), "), std::string::npos) << text;

  ASSERT_TRUE(probe.LoadFile(Fixture("av.mp4")));
  EXPECT_EQ(probe.CoverPictureCount(), 0);
  EXPECT_EQ(probe.VideoStreamCount(), 1);
}

// A file that cannot be read fails with a clear text and leaves the probe without a file, ready
// for the next one.
TEST_F(AVProbe, BadInputsFailAndProbeStaysUsable) {
  TempDir dir;
  const std::string empty = dir.File("empty.mp4");
  std::ofstream(empty).close();
  const std::string folder = dir.File("folder.mp4");
  fs::create_directory(folder);
  const std::string good = Fixture("av.mp4");
  const std::string invalid = ": Invalid data found when processing input";
  const struct {
    std::string file;
    std::string format;
    std::string text;
    bool logged;  // the open errors are logged; the others are only kept
  } cases[] = {
      {Fixture("truncated.mp4"), "", Fixture("truncated.mp4") + invalid, true},
      {Fixture("notmedia.avi"), "", Fixture("notmedia.avi") + invalid, true},
      {empty, "", empty + invalid, true},
      {dir.File("missing.mp4"), "", dir.File("missing.mp4") + ": No such file or directory", true},
      {folder, "", folder + ": Is a directory", true},
      {"", "", ": No such file or directory", true},
      {good, "wav", good + invalid, true},
      {good, "nosuchformat", "Unknown input format: nosuchformat", false},
  };
  TAVProbe probe;
  ProbeMessages log(&probe);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file + " as '" + c.format + "'");
    log.list.clear();
    EXPECT_FALSE(probe.LoadFile(c.file, c.format));
    EXPECT_EQ(probe.LastErrMsg(), c.text);
    if (c.logged) {
      ASSERT_EQ(log.list.size(), 1u);
      EXPECT_EQ(log.list[0], std::make_pair(llError, c.text));
    } else {
      EXPECT_TRUE(log.list.empty());
    }
    EXPECT_EQ(probe.FormatContext(), nullptr);
    EXPECT_EQ(probe.StreamCount(), -1);
    EXPECT_EQ(probe.FileSize(), -1);
    EXPECT_EQ(probe.InputFormatName(), "");
    // The next good file opens; the following failure closes it again.
    ASSERT_TRUE(probe.LoadFile(good)) << probe.LastErrMsg();
    EXPECT_EQ(probe.StreamCount(), 2);
  }
}

// A file without read permission. Root reads everything, so the check runs in a child process
// that gives up root first.
TEST_F(AVProbe, UnreadableFileFails) {
  TempDir dir;
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
  const std::string locked = dir.File("locked.mp4");
  const std::string good = dir.File("good.mp4");
  fs::copy_file(Fixture("av.mp4"), locked);
  fs::copy_file(Fixture("av.mp4"), good);
  ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
  ASSERT_EQ(::chmod(good.c_str(), 0644), 0);

  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(fds[0]);
    std::string report;
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      report = "could not give up root";
    } else {
      TAVProbe probe;
      report = probe.LoadFile(locked) ? "opened\n" : probe.LastErrMsg() + "\n";
      report += probe.LoadFile(good) ? std::to_string(probe.StreamCount()) : probe.LastErrMsg();
    }
    const ssize_t written = ::write(fds[1], report.data(), report.size());
    ::_exit(written == static_cast<ssize_t>(report.size()) ? 0 : 1);
  }
  ::close(fds[1]);
  std::string report;
  char buffer[512];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) report.append(buffer, n);
  ::close(fds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(report, locked + ": Permission denied\n2");
}

// An attached context belongs to its opener: the probe forgets it but never closes it, whether
// it is closed, loads another file or goes away.
TEST_F(AVProbe, AttachedContextIsNeverClosed) {
  OwnContext own(Fixture("av.mp4"));
  ASSERT_NE(own.ic, nullptr);
  {
    TAVProbe probe;
    probe.AttachFormatContext(own.ic);
    EXPECT_EQ(probe.FormatContext(), own.ic);
    EXPECT_FALSE(probe.OwnsContext());
    EXPECT_EQ(probe.StreamCount(), 2);
    EXPECT_EQ(probe.FileSize(), static_cast<int64_t>(fs::file_size(Fixture("av.mp4"))));
    EXPECT_EQ(probe.FileName(), Fixture("av.mp4"));
    probe.CloseFile();
    EXPECT_EQ(probe.FormatContext(), nullptr);
    EXPECT_EQ(probe.StreamCount(), -1);
    EXPECT_GT(ReadAllPackets(own.ic), 0);

    probe.AttachFormatContext(own.ic);
    ASSERT_TRUE(probe.LoadFile(Fixture("tone.wav"))) << probe.LastErrMsg();
    EXPECT_TRUE(probe.OwnsContext());
    EXPECT_EQ(probe.StreamCount(), 1);
    ASSERT_GE(ff::av_seek_frame(own.ic, -1, 0, AVSEEK_FLAG_BACKWARD), 0);
    EXPECT_GT(ReadAllPackets(own.ic), 0);

    // Attaching closes the file the probe opened itself, and the probe goes away attached.
    probe.AttachFormatContext(own.ic);
    EXPECT_FALSE(probe.OwnsContext());
  }
  ASSERT_GE(ff::av_seek_frame(own.ic, -1, 0, AVSEEK_FLAG_BACKWARD), 0);
  EXPECT_GT(ReadAllPackets(own.ic), 0);
  EXPECT_EQ(own.ic->nb_streams, 2u);
}

// A context without its own I/O (a device or a virtual input) takes its file size from the file
// its name names, when there is one.
TEST_F(AVProbe, FileSizeOfContextWithoutIO) {
  TempDir dir;
  fs::create_directory(dir.File("folder"));
  const struct {
    std::string url;
    int64_t size;
  } cases[] = {
      {Fixture("tone.wav"), static_cast<int64_t>(fs::file_size(Fixture("tone.wav")))},
      {"unicode:utf8:" + Fixture("Видео тест.mp4"),
       static_cast<int64_t>(fs::file_size(Fixture("Видео тест.mp4")))},
      {dir.File("folder"), -1},
      {dir.File("missing.wav"), -1},
  };
  TAVProbe probe;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    AVFormatContext* ic = ff::avformat_alloc_context();
    ASSERT_NE(ic, nullptr);
    ic->url = ff::av_strdup(c.url.c_str());
    probe.AttachFormatContext(ic);
    EXPECT_EQ(probe.FileSize(), c.size);
    EXPECT_EQ(probe.StreamCount(), 0);
    EXPECT_EQ(probe.FirstVideoStreamIndex(), -1);
    probe.CloseFile();
    ff::avformat_free_context(ic);
  }
}

// The records and the description follow what the context says, also where no sample file
// says it: ID3 frame names as keys, a language-only stream block, unknown and negative times,
// unknown bit rate, a stream aspect ratio that differs from the codec's, fractional rates.
TEST_F(AVProbe, DescriptionFollowsContextEdits) {
  OwnContext own(Fixture("av.mp4"));
  AVFormatContext* ic = own.ic;
  ASSERT_NE(ic, nullptr);
  ff::av_dict_free(&ic->metadata);
  for (const auto& [key, value] :
       std::vector<std::pair<const char*, const char*>>{{"TIT2", "Raw Title"},
                                                        {"TPE1", "Raw Artist"},
                                                        {"language", "eng"},
                                                        {"TALB", "Raw Album"},
                                                        {"TCON", "Raw Genre"},
                                                        {"TYER", "1999"},
                                                        {"TRCK", "5/9"},
                                                        {"TXXX", "other"}})
    ASSERT_GE(ff::av_dict_set(&ic->metadata, key, value, 0), 0);
  ic->duration = -5;
  ic->start_time = -20000;
  ic->bit_rate = 0;
  AVStream* v = ic->streams[0];
  v->codecpar->sample_aspect_ratio = {0, 1};
  v->sample_aspect_ratio = {2, 1};
  v->avg_frame_rate = {30000, 1001};
  v->r_frame_rate = {24000, 1001};
  v->time_base = {1, 90000};
  v->start_time = 45000;
  v->duration = 180000;
  ff::av_dict_free(&v->metadata);
  ASSERT_GE(ff::av_dict_set(&v->metadata, "language", "und", 0), 0);
  ASSERT_GE(ff::av_dict_set(&v->metadata, "TENC", "Raw Encoder", 0), 0);
  AVStream* a = ic->streams[1];
  ff::av_dict_free(&a->metadata);
  ASSERT_GE(ff::av_dict_set(&a->metadata, "language", "ger", 0), 0);
  a->start_time = AV_NOPTS_VALUE;

  TAVProbe probe;
  probe.AttachFormatContext(ic);

  TFileStreamInfo info;
  probe.GetFileStreamInfo(info);
  EXPECT_EQ(info.Title, "Raw Title");
  EXPECT_EQ(info.Author, "Raw Artist");
  EXPECT_EQ(info.Album, "Raw Album");
  EXPECT_EQ(info.Genre, "Raw Genre");
  EXPECT_EQ(info.Year, 1999);
  EXPECT_EQ(info.Track, 5);
  EXPECT_EQ(info.Timestamp, 0);
  EXPECT_EQ(info.Duration, -5);
  EXPECT_EQ(info.StartTime, -20000);
  EXPECT_EQ(info.BitRate, 0);

  TVideoStreamInfo video;
  probe.GetVideoStreamInfo(-1, video);
  EXPECT_EQ(video.DisplayAspectRatio, 0.0f);
  EXPECT_EQ(video.FrameRateNum, 24000);
  EXPECT_EQ(video.FrameRateDen, 1001);
  EXPECT_EQ(video.StartTime, 45000);
  EXPECT_EQ(video.StartTimeUS, 500000);
  EXPECT_EQ(video.DurationUS, 2000000);
  TAudioStreamInfo audio;
  probe.GetAudioStreamInfo(-1, audio);
  EXPECT_EQ(audio.Language, "ger");
  EXPECT_EQ(audio.StartTime, AV_NOPTS_VALUE);
  EXPECT_EQ(audio.StartTimeUS, -1);

  const std::vector<std::string> lines = SplitLines(probe.FileInfoText());
  ASSERT_EQ(lines.size(), 18u) << probe.FileInfoText();
  const std::vector<std::string> head = {
      "File Name: " + Fixture("av.mp4"),
      "Format Name: mov,mp4,m4a,3gp,3g2,mj2",
      "Format Long Name: QuickTime / MOV",
      "File Size: " + FileSizeToStr(static_cast<int64_t>(fs::file_size(Fixture("av.mp4")))),
      "Duration: N/A",
      "Bit Rate: N/A",
      "Metadata:",
      "  title           : Raw Title",
      "  artist          : Raw Artist",
      "  album           : Raw Album",
      "  genre           : Raw Genre",
      "  year            : 1999",
      "  track           : 5/9",
      "  TXXX            : other",
  };
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 14), head);
  EXPECT_TRUE(lines[14].starts_with("Stream #0[0x1](und), 1/90000: Video: h264")) << lines[14];
  EXPECT_TRUE(
      lines[14].ends_with(", PAR 2:1 DAR 8:3, 29.97 fps, 23.98 tbr, 90k tbn, 50 tbc, "
                          "StartTime: 0.500000, Duration: 00:00:02.000"))
      << lines[14];
  EXPECT_EQ(lines[15], "  Metadata:");
  EXPECT_EQ(lines[16], "    encoder         : Raw Encoder");
  // A stream whose metadata is only its language gets no block.
  EXPECT_TRUE(lines[17].starts_with("Stream #1[0x2](ger), 1/44100: Audio: aac")) << lines[17];
  EXPECT_TRUE(lines[17].ends_with(", Duration: 00:00:02.000")) << lines[17];
  EXPECT_EQ(lines[17].find("StartTime"), std::string::npos) << lines[17];
}

// Tag values as demuxers write them: creation times as ISO 8601 texts, years inside dates,
// track numbers with a total.
TEST_F(AVProbe, TagValueForms) {
  OwnContext own(Fixture("tone.wav"));
  ASSERT_NE(own.ic, nullptr);
  const int64_t t = 1330837567;  // 2012-03-04 05:06:07 UTC
  const struct {
    const char* key;
    const char* value;
    int64_t TFileStreamInfo::*timestamp;
    int TFileStreamInfo::*number;
    int64_t expected;
  } cases[] = {
      {"creation_time", "2012-03-04T05:06:07.000000Z", &TFileStreamInfo::Timestamp, nullptr, t},
      {"creation_time", "2012-03-04 05:06:07", &TFileStreamInfo::Timestamp, nullptr, t},
      {"creation_time", "2012-03-04T08:06:07+03:00", &TFileStreamInfo::Timestamp, nullptr, t},
      {"creation_time", "2012-03-04T01:36:07-0330", &TFileStreamInfo::Timestamp, nullptr, t},
      {"creation_time", "2012-03-04", &TFileStreamInfo::Timestamp, nullptr, t - 5 * 3600 - 367},
      {"creation_time", "2012-13-04T05:06:07Z", &TFileStreamInfo::Timestamp, nullptr, 0},
      {"creation_time", "yesterday", &TFileStreamInfo::Timestamp, nullptr, 0},
      {"date", "2010-05-12", nullptr, &TFileStreamInfo::Year, 2010},
      {"date", "20100512", nullptr, &TFileStreamInfo::Year, 2010},
      {"DATE", "1987", nullptr, &TFileStreamInfo::Year, 1987},
      {"date", "May 2010", nullptr, &TFileStreamInfo::Year, 0},
      {"track", "12", nullptr, &TFileStreamInfo::Track, 12},
      {"track", "7/12", nullptr, &TFileStreamInfo::Track, 7},
      {"TRACK", "x", nullptr, &TFileStreamInfo::Track, 0},
  };
  TAVProbe probe;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    ff::av_dict_free(&own.ic->metadata);
    ASSERT_GE(ff::av_dict_set(&own.ic->metadata, c.key, c.value, 0), 0);
    probe.AttachFormatContext(own.ic);
    TFileStreamInfo info;
    probe.GetFileStreamInfo(info);
    EXPECT_EQ(c.timestamp ? info.*c.timestamp : info.*c.number, c.expected);
  }
}

// Before its libraries are loaded the probe refuses to open or attach anything, naming the first
// missing library in a fixed order. Runs in a process where nothing was loaded yet.
TEST(AVProbeLibraries, CheckedInOrder) {
  ASSERT_FALSE(FFLoader().IsLoaded(libAVCodec));
  TAVProbe probe;
  auto refusal = [](const std::function<void()>& call) {
    try {
      call();
    } catch (const std::runtime_error& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  const std::string file = Fixture("av.mp4");
  // The libraries become usable one by one in the checked order; the text names the first one
  // still missing.
  const struct {
    std::vector<TLibrary> load;
    const char* text;
  } steps[] = {
      {{}, "LibAVCodec not loaded."},
      {{libAVCodec}, "LibAVFormat not loaded."},
      {{libAVFormat}, "LibAVUtil not loaded."},
      {{libAVUtil}, "LibSwScale not loaded."},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.text);
    for (TLibrary lib : step.load) ASSERT_TRUE(FFLoader().LoadLib(lib)) << FFLoader().LastErrMsg();
    EXPECT_EQ(refusal([&] { probe.CheckLibraries(); }), step.text);
    EXPECT_EQ(refusal([&] { probe.LoadFile(file); }), step.text);
    EXPECT_EQ(refusal([&] { probe.AttachFormatContext(nullptr); }), step.text);
    // Queries still answer.
    TFileStreamInfo info;
    EXPECT_EQ(refusal([&] { probe.GetFileStreamInfo(info); }), "no error");
    EXPECT_EQ(probe.LastErrMsg(), "file not loaded.");
  }
  ASSERT_TRUE(FFLoader().LoadLib(libSwScale));
  EXPECT_EQ(refusal([&] { probe.CheckLibraries(); }), "no error");
  EXPECT_TRUE(probe.LoadFile(file)) << probe.LastErrMsg();
  EXPECT_EQ(probe.StreamCount(), 2);
}
