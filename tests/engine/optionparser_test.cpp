#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <mutex>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/customffmpeg.h"
#include "engine/presets.h"
#include "media/ffapi.h"
#include "media/ffloader.h"
#include "media/fflogger.h"
#include "platform/mainthread.h"
#include "platform/paths.h"
#include "tests/support/ffprobe.h"
#include "tests/support/testdirs.h"

using namespace engine;
using media::TLogLevel;
using testsupport::Fixture;

namespace {

// The task core with its outputs visible: opens every encoder a new output got and writes the
// output's header, which is where encoders and muxers check the options they were given.
class Task : public TCustomFFmpeg {
 public:
  using TCustomFFmpeg::outputSlots_;

  // "" on success, else what failed. With a frame, one black picture is encoded into the first
  // video stream, so that a reader finds the stream's coded settings in the file.
  std::string OpenEncodersAndWriteFile(bool withFrame) {
    TOutputFile& output = *outputSlots_.back();
    for (TOutputStream& stream : output.streams) {
      if (!stream.enc) continue;
      int err = ff::avcodec_open2(stream.enc, stream.codec, nullptr);
      if (err < 0) return std::string("opening ") + stream.codec->name + ": " + Error(err);
      err = ff::avcodec_parameters_from_context(stream.st->codecpar, stream.enc);
      if (err < 0) return "parameters: " + Error(err);
      stream.st->time_base = stream.enc->time_base;
      // The encoder's buffer model (VBV size, rates) is what the MPEG multiplexers size by.
      for (int i = 0; i < stream.enc->nb_coded_side_data; ++i) {
        const AVPacketSideData& side = stream.enc->coded_side_data[i];
        uint8_t* data = ff::av_stream_new_side_data(stream.st, side.type, side.size);
        if (!data) return "side data: out of memory";
        std::memcpy(data, side.data, side.size);
      }
    }
    int err = ff::avformat_write_header(output.ctx, nullptr);
    if (err < 0) return "header: " + Error(err);
    if (withFrame) {
      const std::string written = WriteBlackFrame(output);
      if (!written.empty()) return written;
    }
    err = ff::av_write_trailer(output.ctx);
    if (err < 0) return "trailer: " + Error(err);
    return "";
  }
  // The encoder context of the last output's first stream of that media type.
  const AVCodecContext* Encoder(AVMediaType type) const {
    for (const TOutputStream& stream : outputSlots_.back()->streams)
      if (stream.enc && stream.enc->codec_type == type) return stream.enc;
    return nullptr;
  }

 private:
  std::string WriteBlackFrame(TOutputFile& output) {
    for (TOutputStream& stream : output.streams) {
      AVCodecContext* enc = stream.enc;
      if (!enc || enc->codec_type != AVMEDIA_TYPE_VIDEO) continue;
      if (enc->pix_fmt != AV_PIX_FMT_YUV420P) return "the test writes yuv420p frames only";
      AVFrame* frame = ff::av_frame_alloc();
      AVPacket* packet = ff::av_packet_alloc();
      frame->format = enc->pix_fmt;
      frame->width = enc->width;
      frame->height = enc->height;
      frame->pts = 0;
      int err = ff::av_frame_get_buffer(frame, 0);
      if (err >= 0) {
        const int heights[3] = {enc->height, (enc->height + 1) / 2, (enc->height + 1) / 2};
        for (int plane = 0; plane < 3; ++plane)
          std::memset(frame->data[plane], plane == 0 ? 16 : 128,
                      static_cast<size_t>(frame->linesize[plane]) * heights[plane]);
        err = ff::avcodec_send_frame(enc, frame);
      }
      if (err >= 0) err = ff::avcodec_send_frame(enc, nullptr);
      while (err >= 0 && (err = ff::avcodec_receive_packet(enc, packet)) >= 0) {
        ff::av_packet_rescale_ts(packet, enc->time_base, stream.st->time_base);
        packet->stream_index = stream.st->index;
        err = ff::av_interleaved_write_frame(output.ctx, packet);
      }
      ff::av_packet_free(&packet);
      ff::av_frame_free(&frame);
      if (err < 0 && err != AVERROR_EOF) return "encoding: " + Error(err);
      return "";
    }
    return "no video encoder";
  }
  static std::string Error(int err) {
    char text[128];
    ff::av_strerror(err, text, sizeof text);
    return text;
  }
};

struct Line {
  TLogLevel level;
  std::string text;
};

// Loads the libraries, gives every test a fresh task and collects the logged lines.
class OptionParser : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetMainThread();
    ASSERT_TRUE(media::FFLoader().Load(media::EngineLibraries))
        << media::FFLoader().LastErrMsg();
    task.ResetState();
    media::GetLogger().SetLogLevel(media::llInfo);
    media::GetLogger().TriggerEventInMainThread = false;
    media::GetLogger().OnLog = [this](media::TFFBaseComponent*, uint32_t, TLogLevel level,
                                      const std::string& text) {
      std::lock_guard lock(mutex);
      lines.push_back({level, text});
    };
  }
  void TearDown() override { media::GetLogger().OnLog = nullptr; }

  // The message of what SetOption threw ("" when nothing).
  std::string ErrorOf(const std::string& name, const std::string& value) {
    try {
      task.SetOption(name, value);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "";
  }
  std::vector<std::string> Logged(TLogLevel level) {
    std::lock_guard lock(mutex);
    std::vector<std::string> result;
    for (const Line& line : lines)
      if (line.level == level) result.push_back(line.text);
    return result;
  }
  int64_t StoredInt(const char* name, AVMediaType type = AVMEDIA_TYPE_VIDEO) {
    int64_t value = -1;
    EXPECT_TRUE(task.GenericOptions().CodecDefaultInt(name, type, value)) << name;
    return value;
  }
  std::string Stored(const std::string& name) {
    for (const auto& option : task.GenericOptions().Options())
      if (option.name == name) return option.value;
    return "<none>";
  }

  Task task;
  std::mutex mutex;
  std::vector<Line> lines;
};

using Presets = OptionParser;
using Targets = OptionParser;

}  // namespace

// ---- Dispatcher ------------------------------------------------------------------------------

TEST_F(OptionParser, RefusedValuesRaiseTheirMessages) {
  enum Kind { Engine, Conversion };
  const struct {
    const char* name;
    const char* value;
    Kind kind;
    const char* message;
  } cases[] = {
      {"qscale", "0", Engine, "qscale must be > 0.0 and <= 255"},
      {"qscale", "255.5", Engine, "qscale must be > 0.0 and <= 255"},
      {"pass", "3", Engine, "pass number can be only 1 or 2"},
      {"padtop", "10", Engine, "Please use vfilters=pad"},
      {"padcolor", "", Engine, "Please use vfilters=pad"},
      {"metadata", "title", Engine, "Missing ="},
      {"streamid", ":5", Engine,
       "Invalid value \":5\" for option \"streamid\", required syntax is \"index:value\""},
      {"streamid", "1:", Engine,
       "Invalid value \"1:\" for option \"streamid\", required syntax is \"index:value\""},
      {"streamid", "20:1", Engine,
       "Invalid stream index 20 for option \"streamid\", it must be 0 to 19"},
      {"itsscale", "20:1.5", Engine, "stream index over MAX_STREAMS(20)"},
      {"t", "soon", Engine, "Invalid duration specification for t: soon"},
      {"itsoffset", "1:2:3:4", Engine, "Invalid duration specification for itsoffset: 1:2:3:4"},
      {"timestamp", "yesterday", Engine, "Invalid date specification for timestamp: yesterday"},
      {"r", "fast", Engine, "Incorrect frame rate"},
      {"r", "-25", Engine, "Incorrect frame rate"},
      {"s", "huge", Engine, "Incorrect frame size"},
      {"pix_fmt", "yuv999", Engine, "Unknown pixel format requested: yuv999"},
      {"vbsf", " nosuch=1 ", Engine, "Unknown bitstream filter nosuch=1"},
      {"absf", "mp3_header_compress", Engine, "Unknown bitstream filter mp3_header_compress"},
      {"target", "pal-cd", Engine, "Unknown target type"},
      {"threads", "-1", Engine,
       "Invalid value \"-1\" for option \"threads\", 0 (automatic) or more is required"},
      {"vtag", "avc", Conversion, "video tag parameter must be 4 chars"},
      {"stag", "abcde", Conversion, "subtitle tag parameter must be 4 chars"},
      {"vframes", "12x", Conversion, "'12x' is not a valid integer value"},
      {"vframes", "+-12", Conversion, "'+-12' is not a valid integer value"},
      {"fs", "", Conversion, "'' is not a valid integer value"},
      {"v", "99999999999", Conversion, "'99999999999' is not a valid integer value"},
      {"aq", "1,5", Conversion, "'1,5' is not a valid floating point value"},
      {"muxdelay", "nan", Conversion, "'nan' is not a valid floating point value"},
  };
  for (const auto& c : cases) {
    try {
      task.SetOption(c.name, c.value);
      ADD_FAILURE() << c.name << "=" << c.value << " was accepted";
    } catch (const FFmpegException& e) {
      EXPECT_EQ(c.kind, Engine) << c.name << "=" << c.value;
      EXPECT_EQ(std::string(e.what()), c.message);
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(c.kind, Conversion) << c.name << "=" << c.value;
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

TEST_F(OptionParser, AcceptedValuesAtTheirLimits) {
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"qscale", "255"}, {"pass", "2"}, {"streamid", "19:7"}, {"itsscale", "19:0.5"},
           {"threads", "0"}, {"vframes", " 12 "}, {"v", "+3"}, {"vtag", ""}, {"padless", "1"}}) {
    EXPECT_EQ(ErrorOf(name, value), "") << name << "=" << value;
  }
  const TOptionState& s = task.State();
  EXPECT_EQ(s.videoQScale, 255);
  EXPECT_EQ(s.doPass, 2);
  EXPECT_EQ(s.streamidMap[19], 7);
  EXPECT_EQ(s.inputFilesTsScale[0][19], 0.5);
  EXPECT_EQ(s.maxFrames[0], 12);
  EXPECT_EQ(s.verbose, 3);
  EXPECT_TRUE(task.GenericOptions().Options().empty());  // an unknown name is not stored
}

TEST_F(OptionParser, LoggedOnlyOptions) {
  for (const char* name : {"L", "benchmark", "y"}) task.SetOption(name, "");
  task.SetOption("timelimit", "10");
  task.SetOption("f", "pgmyuv");
  EXPECT_EQ(Logged(media::llInfo),
            (std::vector<std::string>{"Do nothing: option - L", "Do nothing: option - benchmark",
                                      "Do nothing: option - y",
                                      "pgmyuv format is deprecated, use image2"}));
  EXPECT_EQ(Logged(media::llWarning),
            std::vector<std::string>{"Warning: -timelimit not implemented on Linux"});
  EXPECT_EQ(task.State().formatName, "image2");
  EXPECT_TRUE(task.State().pgmyuvCompatibility);
}

TEST_F(OptionParser, StreamAndMetadataMaps) {
  const struct {
    const char* value;
    TStreamMap map;
  } cases[] = {
      {"0.1", {0, 1, 0, 1}},       // without a sync part the stream syncs to itself
      {"0:1:0:0", {0, 1, 0, 0}},
      {"0:1:", {0, 1, 0, 1}},      // a trailing separator starts no sync part
      {"0:1:2", {0, 1, 2, 0}},     // a sync part without its stream number reads it as 0
      {"1.2:0.3", {1, 2, 0, 3}},
      {"0x1.010", {1, 8, 1, 8}},   // C numbers: hexadecimal and octal
  };
  for (const auto& c : cases) task.SetOption("map", c.value);
  ASSERT_EQ(task.State().streamMaps.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const TStreamMap& m = task.State().streamMaps[i];
    const TStreamMap& e = cases[i].map;
    EXPECT_EQ(std::vector<int>({m.file, m.stream, m.syncFile, m.syncStream}),
              std::vector<int>({e.file, e.stream, e.syncFile, e.syncStream}))
        << cases[i].value;
  }
  task.SetOption("map_meta_data", "1:0");
  ASSERT_EQ(task.State().metaDataMaps.size(), 1u);
  EXPECT_EQ(task.State().metaDataMaps[0].outFile, 1);
  EXPECT_EQ(task.State().metaDataMaps[0].inFile, 0);
}

TEST_F(OptionParser, MapTablesRefuseEntriesBeyondTheirSize) {
  for (int i = 0; i < MAX_STREAM_MAPS; ++i) ASSERT_EQ(ErrorOf("map", "0.0"), "") << i;
  EXPECT_EQ(ErrorOf("map", "0.0"), "Too many stream maps: at most 400 are allowed");
  for (int i = 0; i < MAX_META_DATA_MAPS; ++i) ASSERT_EQ(ErrorOf("map_meta_data", "0:0"), "");
  EXPECT_EQ(ErrorOf("map_meta_data", "0:0"), "Too many metadata maps: at most 20 are allowed");
  EXPECT_EQ(task.State().streamMaps.size(), 400u);
  EXPECT_EQ(task.State().metaDataMaps.size(), 20u);
}

TEST_F(OptionParser, TimesAndDates) {
  task.SetOption("t", "1:30");
  task.SetOption("ss", "2.5");
  task.SetOption("itsoffset", "-1");
  task.SetOption("timestamp", "1970-01-02 00:00:01.6Z");
  const TOptionState& s = task.State();
  EXPECT_EQ(s.recordingTime, 90000000);
  EXPECT_EQ(task.ExpectedDuration(), 90000000);
  EXPECT_EQ(s.startTime, 2500000);
  EXPECT_EQ(s.inputTsOffset, -1000000);
  EXPECT_EQ(s.recTimestamp, 86402);  // whole seconds, rounded
  task.SetRecordingTime(AV_NOPTS_VALUE);
  task.SetStartTime(AV_NOPTS_VALUE);
  EXPECT_EQ(s.recordingTime, 90000000);
  EXPECT_EQ(s.startTime, 2500000);
}

TEST_F(OptionParser, CodecNamesCopyFlagsAndTags) {
  task.SetOption("vcodec", "copy");
  task.SetOption("vcodec", "libx264");  // a later name leaves the copy flag on
  task.SetOption("acodec", "mp2");
  task.SetOption("acodec", "");         // ignored
  task.SetOption("vtag", "avc1");
  task.SetOption("atag", "");
  const TOptionState& s = task.State();
  EXPECT_TRUE(s.videoStreamCopy);
  EXPECT_EQ(s.videoCodecName, "libx264");
  EXPECT_EQ(s.audioCodecName, "mp2");
  EXPECT_FALSE(s.audioStreamCopy);
  EXPECT_EQ(s.videoCodecTag, MKTAG('a', 'v', 'c', '1'));
  EXPECT_EQ(s.audioCodecTag, 0u);
  task.SetOption("scodec", "copy");
  EXPECT_TRUE(s.subtitleStreamCopy);
  EXPECT_EQ(s.subtitleCodecName, "");
}

TEST_F(OptionParser, BooleansFramesAndFormats) {
  task.SetOption("shortest", "");
  task.SetOption("deinterlace", "0");
  task.SetOption("r", "ntsc");
  task.SetOption("s", "vga");
  task.SetOption("pix_fmt", "yuv422p");
  task.SetOption("sample_fmt", "s16");
  task.SetOption("ar", "0");  // only positive rates and channel counts count
  task.SetOption("ac", "-1");
  task.SetOption("vol", "512");
  const TOptionState& s = task.State();
  EXPECT_TRUE(s.optShortest);
  EXPECT_FALSE(s.doDeinterlace);
  EXPECT_EQ(s.frameRate.num, 30000);
  EXPECT_EQ(s.frameRate.den, 1001);
  EXPECT_EQ(s.frameWidth, 640);
  EXPECT_EQ(s.frameHeight, 480);
  EXPECT_EQ(s.framePixFmt, AV_PIX_FMT_YUV422P);
  EXPECT_EQ(s.audioSampleFmt, AV_SAMPLE_FMT_S16);
  EXPECT_EQ(s.audioSampleRate, 44100);
  EXPECT_EQ(s.audioChannels, 2);
  EXPECT_EQ(s.audioVolume, 512);
}

TEST_F(OptionParser, BitstreamFiltersJoinTheirMediaTypesChain) {
  task.SetOption("absf", "aac_adtstoasc");
  task.SetOption("vbsf", "imx_dump_header");   // today's name: imxdump
  task.SetOption("vbsf", "noise=amount=2");
  task.SetOption("sbsf", "=mov2textsub");       // ignored
  const TOptionState& s = task.State();
  ASSERT_EQ(s.audioBitstreamFilters.size(), 1u);
  EXPECT_EQ(s.audioBitstreamFilters[0].name, "aac_adtstoasc");
  ASSERT_EQ(s.videoBitstreamFilters.size(), 2u);
  EXPECT_EQ(s.videoBitstreamFilters[0].name, "imxdump");
  EXPECT_EQ(s.videoBitstreamFilters[1].name, "noise");
  EXPECT_EQ(s.videoBitstreamFilters[1].args, "amount=2");
  EXPECT_TRUE(s.subtitleBitstreamFilters.empty());
}

TEST_F(OptionParser, StatisticsFileNameIsBesideTheProgram) {
  task.SetOption("vstats", "");
  const std::string name = task.State().vstatsFileName;
  const std::string folder = platform::ExecutableFolder() + "/";
  ASSERT_EQ(name.substr(0, folder.size()), folder);
  EXPECT_TRUE(std::regex_match(name.substr(folder.size()), std::regex("vstats_[0-9]{6}\\.log")))
      << name;
  task.SetOption("vstats_file", "/tmp/stats.log");
  EXPECT_EQ(task.State().vstatsFileName, "/tmp/stats.log");
}

TEST_F(OptionParser, BitRateBelow1000WarnsForTheMediaTypeSet) {
  const char* warning =
      "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s";
  const struct {
    const char* name;
    const char* value;
    bool warns;
  } steps[] = {
      {"b", "64", true},
      {"b", "64000", false},
      {"ab", "64", true},
      {"vb", "128000", false},  // the video rate is read back, not the low audio one
      {"ab", "96k", false},
      {"b", "lots", false},     // refused by the store: nothing to check
  };
  for (const auto& step : steps) {
    lines.clear();
    task.SetOption(step.name, step.value);
    EXPECT_EQ(Logged(media::llWarning),
              step.warns ? std::vector<std::string>{warning} : std::vector<std::string>{})
        << step.name << "=" << step.value;
  }
  EXPECT_EQ(StoredInt("b", AVMEDIA_TYPE_AUDIO), 96000);
  EXPECT_EQ(StoredInt("b", AVMEDIA_TYPE_VIDEO), 128000);
}

TEST_F(OptionParser, Aspect) {
  const struct {
    const char* value;
    double aspect;  // 0: refused
  } cases[] = {
      {"16:9", 16.0 / 9}, {"1.777", 1.777}, {"16:0", 0}, {"abc", 0},   {"4:x", 0},
      {"0", 0},           {"-4:3", 0},      {"x:3", 0},  {"2.35:1", 0}, {" 4:3 ", 4.0 / 3},
  };
  for (const auto& c : cases) {
    task.State().frameAspectRatio = 0;
    const std::string error = ErrorOf("aspect", c.value);
    if (c.aspect == 0) {
      EXPECT_EQ(error, "Incorrect aspect ratio specification.") << c.value;
    } else {
      EXPECT_EQ(error, "") << c.value;
      EXPECT_FLOAT_EQ(task.State().frameAspectRatio, c.aspect) << c.value;
    }
  }
  task.State().frameAspectRatio = 0;
  task.SetOption("aspect", "");  // ignored
  EXPECT_EQ(task.State().frameAspectRatio, 0);
  // Never the libraries' sample aspect option: not through a generic setter either.
  EXPECT_TRUE(task.SetGenericOption("aspect", 2));
  EXPECT_FLOAT_EQ(task.State().frameAspectRatio, 2);
  task.SetOption("vaspect", "1");
  EXPECT_TRUE(task.GenericOptions().Options().empty());
}

TEST_F(OptionParser, CropBandsAgainstTheFrameInForce) {
  task.SetOption("s", "640x480");
  const char* vertical =
      "Vertical crop dimensions are outside the range of the original image.\nRemember to crop "
      "first and scale second.";
  const char* horizontal =
      "Horizontal crop dimensions are outside the range of the original image.\nRemember to crop "
      "first and scale second.";
  const struct {
    const char* name;
    const char* value;
    const char* error;
    int width, height;  // after the step
  } steps[] = {
      {"croptop", "0", "", 640, 480},
      {"croptop", "-5", "", 640, 480},
      {"croptop", "480", vertical, 640, 480},
      {"croptop", "8", "", 640, 472},
      {"cropbottom", "472", vertical, 640, 472},  // checked against the reduced height
      {"cropbottom", "2", "", 640, 470},
      {"cropleft", "640", horizontal, 640, 470},
      {"cropright", "10", "", 630, 470},
      {"cropleft", "630", horizontal, 630, 470},
  };
  for (const auto& step : steps) {
    EXPECT_EQ(ErrorOf(step.name, step.value), step.error) << step.name << "=" << step.value;
    EXPECT_EQ(task.State().frameWidth, step.width) << step.name << "=" << step.value;
    EXPECT_EQ(task.State().frameHeight, step.height) << step.name << "=" << step.value;
  }
  EXPECT_EQ(task.State().frameTopBand, 8);
  EXPECT_EQ(task.State().frameBottomBand, 2);
  EXPECT_EQ(task.State().frameRightBand, 10);
  EXPECT_EQ(Logged(media::llWarning).size(), 3u);
  EXPECT_EQ(Logged(media::llWarning)[0], "CropXXX is deprecated in favor of the crop avfilter");
}

TEST_F(OptionParser, Matrices) {
  std::string full;
  for (int i = 1; i <= 70; ++i) full += (i > 1 ? "," : "") + std::to_string(i);  // 64 used
  task.SetOption("intra_matrix", full);
  ASSERT_EQ(task.State().intraMatrix.size(), 64u);
  EXPECT_EQ(task.State().intraMatrix[0], 1);
  EXPECT_EQ(task.State().intraMatrix[63], 64);

  const std::string ten = "16,17,18,19,20,21,22,23,24,25";
  EXPECT_EQ(ErrorOf("inter_matrix", ten), "Syntax error in matrix \"" + ten + "\" at coeff 9");

  std::string words = "x";
  for (int i = 1; i < 64; ++i) words += ",x";
  task.SetOption("inter_matrix", words);  // items that are not numbers count as 0
  EXPECT_EQ(task.State().interMatrix, std::vector<uint16_t>(64, 0));
}

TEST_F(OptionParser, FormatListsAreLoggedAndChangeNothing) {
  task.SetOption("pix_fmt", "yuv420p");
  task.SetOption("sample_fmt", "flt");
  lines.clear();
  task.SetOption("pix_fmt", "list");
  std::vector<std::string> pixelLines = Logged(media::llInfo);
  ASSERT_EQ(pixelLines.size(), 68u);
  EXPECT_EQ(pixelLines[0], "name nb_components nb_bits");  // the library's header line
  EXPECT_EQ(pixelLines[1].rfind("yuv420p ", 0), 0u) << pixelLines[1];
  EXPECT_NE(pixelLines[1].back(), ' ');
  lines.clear();
  task.SetOption("sample_fmt", "list");
  EXPECT_EQ(Logged(media::llInfo).size(), 6u);
  EXPECT_EQ(task.State().framePixFmt, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(task.State().audioSampleFmt, AV_SAMPLE_FMT_FLT);
}

// ---- Presets ---------------------------------------------------------------------------------

TEST_F(Presets, NameResolution) {
  EXPECT_EQ(BuiltinPresetNames().size(), 40u);
  task.SetOption("vcodec", "libx264");
  task.SetOption("vpre", "fast");  // no built-in "fast": the codec's "libx264-fast"
  EXPECT_EQ(Stored("preset"), "fast");
  task.SetOption("vpre", "LIBX264-MAIN");
  EXPECT_EQ(Stored("8x8dct"), "0");
  task.SetOption("vpre", "");  // ignored

  task.ResetState();
  task.SetOption("acodec", "aac");
  EXPECT_EQ(ErrorOf("vpre", "fast"), "Preset \"fast\" not found");  // no video codec named
  EXPECT_EQ(ErrorOf("fpre", "libx264-main"), "Preset \"libx264-main\" not found");  // files only
}

TEST_F(Presets, PresetFiles) {
  testsupport::TempDir dir;
  const auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream(dir.File(name), std::ios::binary) << text;
    return dir.File(name);
  };
  const std::string good = write("good.ffpreset", "\r\n\r\n  VCODEC=mpeg4 \r\n\n g = 30 \rbf=2\n\n");
  const std::string noValue = write("novalue.ffpreset", "g=30\nbf\n");
  const std::string noKey = write("nokey.ffpreset", "=1\n");
  const std::string unknown = write("unknown.ffpreset", "nosuchoption=1\n");
  const std::string badValue = write("badvalue.ffpreset", "flags2=-wpred-dct8x8\n");

  EXPECT_EQ(ErrorOf("fpre", good), "");
  EXPECT_EQ(task.State().videoCodecName, "mpeg4");
  EXPECT_EQ(StoredInt("g"), 30);
  EXPECT_EQ(StoredInt("bf"), 2);

  EXPECT_EQ(ErrorOf("fpre", noValue), noValue + ": Invalid syntax: \"bf\"");
  EXPECT_EQ(ErrorOf("fpre", noKey), noKey + ": Invalid syntax: \"=1\"");
  EXPECT_EQ(ErrorOf("fpre", unknown), unknown +
                                          ": Invalid option or argument: \"nosuchoption=1\", "
                                          "parsed as \"nosuchoption\" = \"1\"");
  EXPECT_EQ(ErrorOf("fpre", badValue),
            badValue + ": Invalid option or argument: \"flags2=-wpred-dct8x8\", parsed as "
                       "\"flags2\" = \"-wpred-dct8x8\"");
  // A short name that is not built in is looked for as a file, named after the codec's preset.
  task.SetOption("vcodec", "libx264");
  EXPECT_EQ(ErrorOf("vpre", unknown), "libx264-" + unknown +
                                          ": Invalid option or argument: \"nosuchoption=1\", "
                                          "parsed as \"nosuchoption\" = \"1\"");
}

// Every built-in preset with libx264 on a real output: the encoder opens with the preset's
// settings and encodes a picture into the file, no option is refused, and the stream's profile
// (read back by an independent reader) is the one the preset means: devices get Baseline or Main.
TEST_F(Presets, EveryBuiltinPresetOpensLibx264OnARealOutput) {
  testsupport::TempDir dir;
  const auto expectedProfile = [](const std::string& name) -> std::string {
    if (name == "libx264-baseline" || name == "libx264-ipod320" || name == "libx264-ipod640" ||
        name == "libx264-ipod")
      return "Constrained Baseline";
    if (name == "libx264-main" || name == "libx264-psp" || name == "libx264-ps3" ||
        name == "libx264-mp4")
      return "Main";
    if (name.find("lossless") != std::string::npos) return "High 4:4:4 Predictive";
    if (name.find("ultrafast") != std::string::npos) return "Constrained Baseline";
    return "High";
  };
  for (const std::string& name : BuiltinPresetNames()) {
    SCOPED_TRACE(name);
    Task presetTask;
    presetTask.ResetState();
    presetTask.State().verbose = -1;
    ASSERT_TRUE(presetTask.OpenInput(Fixture("av.mp4"))) << presetTask.LastErrMsg;
    lines.clear();
    presetTask.SetOption("vcodec", "libx264");
    presetTask.SetOption("vpre", name);
    presetTask.SetOption("vb", "768000");
    const std::string file = dir.File(name + ".mp4");
    ASSERT_GT(presetTask.AddOutput(file, false), 0) << presetTask.LastErrMsg;
    ASSERT_EQ(presetTask.OpenEncodersAndWriteFile(true), "");
    for (TLogLevel level : {media::llError, media::llWarning})
      for (const std::string& line : Logged(level))
        EXPECT_EQ(line.find("Invalid"), std::string::npos) << line;
    EXPECT_TRUE(Logged(media::llError).empty()) << Logged(media::llError).front();

    testsupport::FFprobe probe(file);
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    ASSERT_EQ(probe.CodecName(0), "h264");
    EXPECT_EQ(probe.Stream(0).value("profile", ""), expectedProfile(name));
    EXPECT_EQ(probe.Stream(0).value("pix_fmt", ""), "yuv420p");
    if (name == "libx264-ipod320") {
      EXPECT_EQ(probe.Stream(0).value("level", 0), 13);
    }
  }
}

// ---- Targets ---------------------------------------------------------------------------------

TEST_F(Targets, KindsAndNorms) {
  const struct {
    const char* target;
    const char* format;
    const char* vcodec;
    const char* acodec;
    int width, height;
    AVRational rate;
    int gop;
    int sampleRate;
    AVPixelFormat pixFmt;
  } cases[] = {
      {"pal-dvd", "dvd", "mpeg2video", "ac3", 720, 576, {25, 1}, 15, 48000, AV_PIX_FMT_YUV420P},
      {"ntsc-vcd", "vcd", "mpeg1video", "mp2", 352, 240, {30000, 1001}, 18, 44100,
       AV_PIX_FMT_YUV420P},
      {"film-svcd", "svcd", "mpeg2video", "mp2", 480, 480, {24000, 1001}, 18, 44100,
       AV_PIX_FMT_YUV420P},
      {"ntsc-dv", "dv", "", "", 720, 480, {30000, 1001}, -1, 48000, AV_PIX_FMT_YUV411P},
      {"pal-dv", "dv", "", "", 720, 576, {25, 1}, -1, 48000, AV_PIX_FMT_YUV420P},
      {" pal-dv50 ", "dv", "", "", 720, 576, {25, 1}, -1, 48000, AV_PIX_FMT_YUV422P},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    task.ResetState();
    task.SetOption("target", c.target);
    const TOptionState& s = task.State();
    EXPECT_EQ(s.formatName, c.format);
    EXPECT_EQ(s.videoCodecName, c.vcodec);
    EXPECT_EQ(s.audioCodecName, c.acodec);
    EXPECT_EQ(s.frameWidth, c.width);
    EXPECT_EQ(s.frameHeight, c.height);
    EXPECT_EQ(s.frameRate.num, c.rate.num);
    EXPECT_EQ(s.frameRate.den, c.rate.den);
    if (c.gop > 0) {
      EXPECT_EQ(StoredInt("g"), c.gop);
    }
    EXPECT_EQ(s.audioSampleRate, c.sampleRate);
    EXPECT_EQ(s.framePixFmt, c.pixFmt);
  }
  // The DVD's rates and the multiplex settings.
  task.ResetState();
  task.SetOption("target", "pal-dvd");
  EXPECT_EQ(StoredInt("b"), 6000000);
  EXPECT_EQ(StoredInt("b", AVMEDIA_TYPE_AUDIO), 448000);
  EXPECT_EQ(Stored("muxrate"), "10080000");
  EXPECT_EQ(Stored("packetsize"), "2048");
  task.ResetState();
  task.SetOption("target", "ntsc-svcd");
  EXPECT_EQ(Stored("scan_offset"), "1");
  EXPECT_TRUE(Logged(media::llWarning).empty());  // no bit-rate warning for "b"
}

TEST_F(Targets, AspectAndChannelDefaults) {
  task.SetOption("target", "pal-vcd");
  EXPECT_FLOAT_EQ(task.State().frameAspectRatio, 4.0f / 3);
  EXPECT_FLOAT_EQ(task.State().muxPreload, 0.44f);
  task.ResetState();
  task.SetOption("ac", "1");
  task.SetOption("target", "ntsc-dvd");
  EXPECT_FLOAT_EQ(task.State().frameAspectRatio, 16.0f / 9);
  EXPECT_EQ(task.State().audioChannels, 2);  // mono becomes stereo
  task.ResetState();
  task.SetOption("ac", "6");
  task.SetOption("aspect", "2.21");
  task.SetOption("target", "pal-svcd");
  EXPECT_FLOAT_EQ(task.State().frameAspectRatio, 2.21f);  // a given aspect stays
  EXPECT_EQ(task.State().audioChannels, 6);
  EXPECT_EQ(Logged(media::llInfo),
            (std::vector<std::string>{"Assuming 4:3 for aspect ratio",
                                      "Assuming 16:9 for aspect ratio"}));
}

TEST_F(Targets, AutomaticNorm) {
  // Nothing known about the frame rate yet.
  EXPECT_EQ(ErrorOf("target", "vcd"), "frame_rate is invalid.");

  const struct {
    const char* rate;
    const char* fallback;
    bool openInput;
    int height;       // 288 PAL, 240 NTSC or FILM
    AVRational targetRate;
    const char* logged;
  } cases[] = {
      {"25", "ntsc", false, 288, {25, 1}, "Assuming PAL for target."},
      {"24000/1001", "pal", false, 240, {30000, 1001}, "Assuming NTSC for target."},
      {"29.97", "pal", false, 240, {30000, 1001}, "Assuming NTSC for target."},
      {"15", "ntsc", false, 240, {30000, 1001}, "Assuming NTSC for target."},  // fallback
      {"15", "pal", false, 288, {25, 1}, "Assuming PAL for target."},
      {"15", "film", false, 240, {24000, 1001}, "Assuming NTSC for target."},
      {"15", "ntsc", true, 288, {25, 1}, "Assuming PAL for target."},  // the 25 fps input
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.rate) + " " + c.fallback + (c.openInput ? " with input" : ""));
    task.ResetState();
    task.State().verbose = 1;
    if (c.openInput) {
      ASSERT_TRUE(task.OpenInput(Fixture("av.mp4"))) << task.LastErrMsg;
    }
    task.SetOption("r", c.rate);
    lines.clear();
    task.SetTarget("vcd", "auto", c.fallback);
    EXPECT_EQ(task.State().frameHeight, c.height);
    EXPECT_EQ(task.State().frameRate.num, c.targetRate.num);
    EXPECT_EQ(task.State().frameRate.den, c.targetRate.den);
    EXPECT_EQ(Logged(media::llVerbose), std::vector<std::string>{c.logged});
  }
}

// Each target with each norm on a real output opens its encoders and writes its multiplex header
// (where the muxer checks its rate, packet size and preload), with no option refused.
TEST_F(Targets, EveryTargetWritesARealOutput) {
  testsupport::TempDir dir;
  for (const char* kind : {"vcd", "svcd", "dvd", "dv", "dv50"}) {
    for (const char* norm : {"pal-", "ntsc-", "film-", ""}) {
      const std::string target = std::string(norm) + kind;
      SCOPED_TRACE(target);
      Task targetTask;
      targetTask.ResetState();
      targetTask.State().verbose = -1;
      ASSERT_TRUE(targetTask.OpenInput(Fixture("av.mp4"))) << targetTask.LastErrMsg;
      lines.clear();
      targetTask.SetOption("target", target);
      ASSERT_GT(targetTask.AddOutput(dir.File(target + ".out"), false), 0)
          << targetTask.LastErrMsg;
      ASSERT_EQ(targetTask.OpenEncodersAndWriteFile(false), "");
      for (TLogLevel level : {media::llError, media::llWarning})
        for (const std::string& line : Logged(level)) ADD_FAILURE() << line;

      const AVCodecContext* video = targetTask.Encoder(AVMEDIA_TYPE_VIDEO);
      const AVCodecContext* audio = targetTask.Encoder(AVMEDIA_TYPE_AUDIO);
      ASSERT_NE(video, nullptr);
      ASSERT_NE(audio, nullptr);
      const bool pal = std::string(norm) == "pal-" || *norm == '\0';  // the input is 25 fps
      EXPECT_EQ(video->height, std::string(kind) == "vcd" ? (pal ? 288 : 240) : (pal ? 576 : 480));
      EXPECT_EQ(video->time_base.den * 1000 / video->time_base.num,
                pal ? 25000 : std::string(norm) == "ntsc-" ? 29970 : 23976);
      if (std::string(kind).rfind("dv", 0) != 0) {
        EXPECT_EQ(video->pix_fmt, AV_PIX_FMT_YUV420P);
        EXPECT_EQ(video->gop_size, pal ? 15 : 18);
      }
    }
  }
}
