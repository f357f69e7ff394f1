#include "profiles/jobbuilder.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/inifile.h"
#include "platform/prompt.h"
#include "profiles/settings.h"
#include "tests/support/testdirs.h"

namespace {

using profiles::TJobSource;
using Para = std::map<std::string, std::string>;

// Profile codes of the test format file; only "Format" differs, except the fresh profile, which
// has the value lists and default positions the panel stores from.
constexpr int kPlain = 1;     // Format=null: no container, no disc
constexpr int kAvi = 2;       // Format=avi
constexpr int kPsp = 3;       // Format=PSP
constexpr int kNtscDvd = 4;   // Format=ntsc-dvd
constexpr int kPalDvd = 5;    // Format=PAL-DVD
constexpr int kPalVcd = 6;    // Format=pal-vcd
constexpr int kMpegTs = 7;    // Format=MPEGTS
constexpr int kFresh = 2101;  // a video profile never chosen on the panel

const char kFormat[] =
    "[formatInfo1]\nFormat=null\n"
    "[formatInfo2]\nFormat=avi\n"
    "[formatInfo3]\nFormat=PSP\n"
    "[formatInfo4]\nFormat=ntsc-dvd\n"
    "[formatInfo5]\nFormat=PAL-DVD\n"
    "[formatInfo6]\nFormat=pal-vcd\n"
    "[formatInfo7]\nFormat=MPEGTS\n"
    "[formatInfo2101]\n"
    "Format=mp4\n"
    "VideoSize=320x240,640x480,as source\n"
    "VideoEncoder=mpeg-4,h264\n"
    "VideoBitRate=512,768,as source\n"
    "FrameRate=25,29.97\n"
    "SampleRate=22050,44100\n"
    "AudioEncoder=mp3,aac\n"
    "Channel=mono 1 channel,stereo 2 channels\n"
    "AudioBitRate=96,128\n"
    "Volume=50%,100%\n"
    "iVideoSize=1\n"
    "iVideoBitRate=1\n"
    "iFrameRate=0\n"
    "iVideoEncoder=0\n"
    "iAudioBitRate=1\n"
    "iSampleRate=1\n"
    "iChannel=1\n"
    "iVolume=1\n"
    "iAudioEncoder=1\n";

// A video profile whose audio and rates leave every member unset, so that the geometry shows alone.
const Para kQuietVideo = {{"paraVideoEncoder", "mpeg4"},    {"paraVideoBitRate", "0"},
                          {"paraFrameRate", "as source"},   {"paraVideoSize", "320x240"},
                          {"paraAudioEncoder", ""},         {"paraChannel", "as source"},
                          {"paraSampleRate", "as source"},  {"paraAudioBitRate", "as source"},
                          {"paraVolume", "256"}};

TJobSource Source(int w, int h, const std::string& zoom = "full") {
  TJobSource s;
  s.HasVideo = true;
  s.Width = w;
  s.Height = h;
  s.VideoBitrate = 4'000'000;
  s.Zoom = zoom;
  return s;
}

Para With(Para base, const Para& changes) {
  for (const auto& [key, value] : changes) {
    if (value == "<missing>")
      base.erase(key);
    else
      base[key] = value;
  }
  return base;
}

struct TJob {
  engine::TOutputOptions out;
  engine::TInputOptions in;
};

// The members that differ from the engine's reset values, in a fixed order (crop bands only when
// one is above 0), so a table can state a whole record.
std::string Describe(const engine::TOutputOptions& o) {
  std::vector<std::string> parts;
  const auto text = [&](const char* name, const std::string& value) {
    if (!value.empty()) parts.push_back(std::string(name) + "=" + value);
  };
  const auto number = [&](const char* name, int64_t value, int64_t reset) {
    if (value != reset) parts.push_back(std::string(name) + "=" + std::to_string(value));
  };
  const auto flag = [&](const char* name, bool value) {
    if (value) parts.push_back(name);
  };
  number("target", o.TargetType, 0);
  number("norm", o.TargetNorm, 0);
  text("f", o.FileFormat);
  text("vcodec", o.VideoCodec);
  text("vpre", o.VideoPreset);
  flag("vn", o.DisableVideo);
  number("vb", o.VideoBitrate, -1);
  text("r", o.FrameRate);
  text("s", o.FrameSize);
  text("aspect", o.AspectRatio);
  if (o.CropTop > 0 || o.CropBottom > 0 || o.CropLeft > 0 || o.CropRight > 0)
    parts.push_back("crop=" + std::to_string(o.CropTop) + "," + std::to_string(o.CropBottom) +
                    "," + std::to_string(o.CropLeft) + "," + std::to_string(o.CropRight));
  text("vf", o.VideoFilters);
  text("acodec", o.AudioCodec);
  flag("an", o.DisableAudio);
  number("ac", o.AudioChannels, -1);
  number("ar", o.AudioSampleRate, -1);
  number("ab", o.AudioBitrate, -1);
  number("vol", o.AudioVolume, -1);
  flag("sn", o.DisableSubtitle);
  std::string all;
  for (const std::string& part : parts) all += (all.empty() ? "" : " ") + part;
  return all;
}

class JobBuilderTest : public ::testing::Test {
 protected:
  JobBuilderTest() { testsupport::WriteText(formatPath_, kFormat); }

  // Stores the values (a position key too, so they count as the profile's stored values) and
  // builds the job.
  TJob Build(const Para& para, const TJobSource& source, int code = kPlain) {
    std::string text = "[" + profiles::FormatInfoSection(code) + "]\niVideoSize=0\n";
    for (const auto& [key, value] : para) text += key + "=" + value + "\n";
    testsupport::WriteText(settingsPath_, text);
    return BuildStored(source, code);
  }
  TJob BuildStored(const TJobSource& source, int code) {
    TJob job;
    job.out.FileName = "out.mp4";
    profiles::BuildJobOptions(settingsPath_, formatPath_, code, source, job.out, job.in);
    return job;
  }

  testsupport::TempDir dir_;
  const std::string settingsPath_ = dir_.File("keltovideoconverter.ini");
  const std::string formatPath_ = dir_.File("keltovideoformat.ini");
  platform::TScriptedPrompt prompt_;
  platform::TPromptScope promptScope_{prompt_};
};

// ---- Zoom geometries ----

struct TGeometryCase {
  const char* name;
  const char* size;  // "paraVideoSize"
  int srcW, srcH;
  const char* zoom;
  int cropTop, cropBottom, cropLeft, cropRight;  // the row's crop
  const char* expected;
  int displayW = 0, displayH = 0;  // the size the source is seen at; 0: its pixels are square
};

TEST_F(JobBuilderTest, ZoomGeometries) {
  const TGeometryCase cases[] = {
      {"full stretches", "320x240", 1920, 1080, "full", 0, 0, 0, 0,
       "vcodec=mpeg4 s=320x240 aspect=320:240 an"},
      {"full passes the row crop to the engine", "320x240", 1920, 1080, "full", 10, 20, 30, 40,
       "vcodec=mpeg4 s=320x240 aspect=320:240 crop=10,20,30,40 an"},
      {"lbox wide source", "320x240", 1920, 1080, "lbox", 0, 0, 0, 0,
       "vcodec=mpeg4 s=320x180 aspect=320:180 vf=pad=320:240:0:30,setsar=1 an"},
      {"lbox tall source", "320x240", 480, 640, "lbox", 0, 0, 0, 0,
       "vcodec=mpeg4 s=180x240 aspect=180:240 vf=pad=320:240:70:0,setsar=1 an"},
      {"lbox source of the target size", "320x240", 320, 240, "lbox", 0, 0, 0, 0,
       "vcodec=mpeg4 s=320x240 aspect=320:240 vf=pad=320:240:0:0,setsar=1 an"},
      {"lbox with a row crop fits the cropped picture and leaves the size to the chain", "320x240",
       1920, 1080, "lbox", 20, 20, 0, 0,
       "vcodec=mpeg4 aspect=320:172 "
       "vf=crop=x=0:y=20:w=1920:h=1040,scale=320:172,pad=320:240:0:34,setsar=1 an"},
      {"pan wide source cuts the sides", "320x240", 1920, 1080, "pan", 0, 0, 0, 0,
       "vcodec=mpeg4 s=320x240 aspect=320:240 crop=0,0,240,240 an"},
      {"pan 4:3 source cuts nothing", "320x240", 640, 480, "pan", 0, 0, 0, 0,
       "vcodec=mpeg4 s=320x240 aspect=320:240 an"},
      {"pan source made 4:3 by the row crop keeps only the row crop", "320x240", 1920, 1080,
       "pan", 0, 0, 240, 240, "vcodec=mpeg4 s=320x240 aspect=320:240 crop=0,0,240,240 an"},
      {"pan row crop and centring add up", "320x240", 1920, 1080, "pan", 0, 0, 100, 20,
       "vcodec=mpeg4 s=320x240 aspect=320:240 crop=0,0,280,200 an"},
      {"pan tall source cuts top and bottom", "320x240", 720, 1280, "pan", 0, 0, 0, 0,
       "vcodec=mpeg4 s=320x240 aspect=320:240 crop=370,370,0,0 an"},
      {"pan into a wide target", "640x360", 640, 480, "pan", 0, 0, 0, 0,
       "vcodec=mpeg4 s=640x360 aspect=640:360 crop=60,60,0,0 an"},
      {"center larger source scales down, then pads", "320x240", 1920, 1080, "center", 0, 0, 0,
       0, "vcodec=mpeg4 s=320x180 aspect=320:240 vf=pad=320:240:0:30:black,setsar=1 an"},
      {"center smaller source of the same shape", "320x240", 160, 120, "center", 0, 0, 0, 0,
       "vcodec=mpeg4 s=320x240 aspect=320:240 vf=pad=320:240:0:0:black,setsar=1 an"},
      {"center narrow source", "320x240", 100, 200, "center", 0, 0, 0, 0,
       "vcodec=mpeg4 s=120x240 aspect=320:240 vf=pad=320:240:100:0:black,setsar=1 an"},
      {"unknown zoom sets no geometry", "320x240", 1920, 1080, "stretch", 0, 0, 0, 0,
       "vcodec=mpeg4 an"},
      // A phone's portrait clip (stored 640x360, turned 90 degrees) reaches the builder upright.
      {"lbox turned phone clip is pillar-boxed", "320x240", 360, 640, "lbox", 0, 0, 0, 0,
       "vcodec=mpeg4 s=136x240 aspect=136:240 vf=pad=320:240:92:0,setsar=1 an"},
      {"pan turned phone clip cuts top and bottom", "320x240", 360, 640, "pan", 0, 0, 0, 0,
       "vcodec=mpeg4 s=320x240 aspect=320:240 crop=184,184,0,0 an"},
      {"as source size of a turned phone clip is upright", "as source", 360, 640, "full", 0, 0, 0,
       0, "vcodec=mpeg4 s=360x640 aspect=360:640 an"},
      // A 16:9 PAL DVD picture: 720x576 pixels seen 1024x576.
      {"lbox anamorphic source fits its seen shape in square pixels", "320x240", 720, 576, "lbox",
       0, 0, 0, 0, "vcodec=mpeg4 s=320x180 aspect=320:180 vf=pad=320:240:0:30,setsar=1 an", 1024,
       576},
      {"lbox anamorphic source with a row crop in its own pixels", "320x240", 720, 576, "lbox", 0,
       0, 40, 40,
       "vcodec=mpeg4 aspect=320:204 "
       "vf=crop=x=40:y=0:w=640:h=576,scale=320:204,pad=320:240:0:18,setsar=1 an",
       1024, 576},
      {"pan anamorphic source cuts its own pixels", "320x240", 720, 576, "pan", 0, 0, 0, 0,
       "vcodec=mpeg4 s=320x240 aspect=320:240 crop=0,0,90,90 an", 1024, 576},
      {"center anamorphic source", "320x240", 720, 576, "center", 0, 0, 0, 0,
       "vcodec=mpeg4 s=320x180 aspect=320:240 vf=pad=320:240:0:30:black,setsar=1 an", 1024, 576},
      {"full anamorphic source is a plain stretch", "320x240", 720, 576, "full", 0, 0, 0, 0,
       "vcodec=mpeg4 s=320x240 aspect=320:240 an", 1024, 576},
      {"as source size of an anamorphic source is its seen size", "as source", 720, 576, "full",
       0, 0, 0, 0, "vcodec=mpeg4 s=1024x576 aspect=1024:576 an", 1024, 576},
      // An HDV picture: 1440x1080 pixels seen 1920x1080.
      {"lbox HDV source", "320x240", 1440, 1080, "lbox", 0, 0, 0, 0,
       "vcodec=mpeg4 s=320x180 aspect=320:180 vf=pad=320:240:0:30,setsar=1 an", 1920, 1080},
      {"pan HDV source", "320x240", 1440, 1080, "pan", 0, 0, 0, 0,
       "vcodec=mpeg4 s=320x240 aspect=320:240 crop=0,0,180,180 an", 1920, 1080},
      // The PAL picture turned 90 degrees: upright 576x720 pixels seen 576x1024.
      {"lbox turned anamorphic source", "320x240", 576, 720, "lbox", 0, 0, 0, 0,
       "vcodec=mpeg4 s=136x240 aspect=136:240 vf=pad=320:240:92:0,setsar=1 an", 576, 1024},
      {"pan turned anamorphic source", "320x240", 576, 720, "pan", 0, 0, 0, 0,
       "vcodec=mpeg4 s=320x240 aspect=320:240 crop=208,208,0,0 an", 576, 1024},
  };
  for (const TGeometryCase& c : cases) {
    SCOPED_TRACE(c.name);
    TJobSource source = Source(c.srcW, c.srcH, c.zoom);
    source.CropTop = c.cropTop;
    source.CropBottom = c.cropBottom;
    source.CropLeft = c.cropLeft;
    source.CropRight = c.cropRight;
    source.DisplayWidth = c.displayW;
    source.DisplayHeight = c.displayH;
    const TJob job = Build(With(kQuietVideo, {{"paraVideoSize", c.size}}), source);
    EXPECT_EQ(Describe(job.out), c.expected);
    // The bands are set (0 at least) whenever the source has video.
    EXPECT_GE(job.out.CropTop, 0);
    EXPECT_GE(job.out.CropLeft, 0);
  }
  EXPECT_TRUE(prompt_.Shown().empty());
}

TEST_F(JobBuilderTest, ZoomFilterIsAppendedToAnExistingChain) {
  TJob job;
  job.out.VideoFilters = "hflip";
  testsupport::WriteText(settingsPath_, "[formatInfo1]\niVideoSize=0\n");
  for (const auto& [key, value] : kQuietVideo)
    platform::TIniFile(settingsPath_).WriteString("formatInfo1", key, value);
  profiles::BuildJobOptions(settingsPath_, formatPath_, kPlain, Source(1920, 1080, "lbox"),
                            job.out, job.in);
  EXPECT_EQ(job.out.VideoFilters, "hflip,pad=320:240:0:30,setsar=1");
}

// ---- Frame size ----

struct TSizeCase {
  const char* name;
  Para para;
  int answers;  // -1 no question expected, 0 answer No, 1 answer Yes
  const char* expectedSize;
};

TEST_F(JobBuilderTest, FrameSizeRules) {
  const TSizeCase cases[] = {
      {"width only, Yes", {{"paraVideoSize", "640x"}}, 1, "320x240"},
      {"width only, No", {{"paraVideoSize", "640x"}}, 0, "640x360"},
      {"height only, Yes", {{"paraVideoSize", "x480"}}, 1, "320x240"},
      {"height only, No", {{"paraVideoSize", "x480"}}, 0, "640x360"},
      {"missing, Yes", {{"paraVideoSize", "<missing>"}}, 1, "320x240"},
      {"missing, No", {{"paraVideoSize", "<missing>"}}, 0, "640x360"},
      {"no x at all, No", {{"paraVideoSize", "640"}}, 0, "640x360"},
      {"unreadable width takes the source's", {{"paraVideoSize", "abcx240"}}, -1, "640x240"},
      {"as source", {{"paraVideoSize", "as source"}}, -1, "640x360"},
      {"h263 wide size", {{"paraVideoEncoder", "h263"}, {"paraVideoSize", "400x300"}}, -1,
       "704x576"},
      {"h263 middle size", {{"paraVideoEncoder", "h263"}, {"paraVideoSize", "200x150"}}, -1,
       "352x288"},
      {"h263 standard size", {{"paraVideoEncoder", "h263"}, {"paraVideoSize", "352x288"}}, -1,
       "352x288"},
      {"h263 small size", {{"paraVideoEncoder", "h263"}, {"paraVideoSize", "160x100"}}, -1,
       "160x100"},
      {"other encoders keep any size", {{"paraVideoSize", "400x300"}}, -1, "400x300"},
  };
  for (const TSizeCase& c : cases) {
    SCOPED_TRACE(c.name);
    prompt_.Clear();
    if (c.answers >= 0) prompt_.Answer(c.answers == 1);
    const TJob job = Build(With(kQuietVideo, c.para), Source(640, 360));
    EXPECT_EQ(job.out.FrameSize, c.expectedSize);
    const auto shown = prompt_.Shown();
    if (c.answers < 0) {
      EXPECT_TRUE(shown.empty());
    } else {
      ASSERT_EQ(shown.size(), 1u);
      EXPECT_EQ(shown[0].kind, "question");
      EXPECT_EQ(shown[0].text, "Error output Video Size.Use the default size 320x240?");
      EXPECT_EQ(shown[0].title, "Warning");
      EXPECT_EQ(shown[0].icon, platform::TPromptIcon::Question);
    }
  }
}

// ---- Encoders, rates, containers, disc targets ----

struct TRecordCase {
  const char* name;
  int code;
  Para para;
  const char* expected;
};

TEST_F(JobBuilderTest, VideoMembers) {
  const TRecordCase cases[] = {
      {"bit rate as source copies the stream's", kPlain, {{"paraVideoBitRate", "as source"}},
       "vcodec=mpeg4 vb=4000000 s=320x240 aspect=320:240 an"},
      {"unreadable bit rate copies the stream's", kPlain, {{"paraVideoBitRate", "fast"}},
       "vcodec=mpeg4 vb=4000000 s=320x240 aspect=320:240 an"},
      {"bit rate in kbit/s", kPlain, {{"paraVideoBitRate", "768"}},
       "vcodec=mpeg4 vb=768000 s=320x240 aspect=320:240 an"},
      {"frame rate text as written", kPlain, {{"paraFrameRate", "29.97"}},
       "vcodec=mpeg4 r=29.97 s=320x240 aspect=320:240 an"},
      {"frame rate 0 is not set", kPlain, {{"paraFrameRate", "0"}},
       "vcodec=mpeg4 s=320x240 aspect=320:240 an"},
      {"an encoder the engine does not name is left to the container", kPlain,
       {{"paraVideoEncoder", "flv"}}, "s=320x240 aspect=320:240 an"},
      {"h264 preset by Format, any case", kPsp, {{"paraVideoEncoder", "libx264"}},
       "f=PSP vcodec=libx264 vpre=libx264-psp s=320x240 aspect=320:240 an"},
      {"h264 preset for other formats", kAvi, {{"paraVideoEncoder", "libx264"}},
       "f=avi vcodec=libx264 vpre=libx264-mp4 s=320x240 aspect=320:240 an"},
      {"container named as written", kMpegTs, {}, "f=MPEGTS vcodec=mpeg4 s=320x240 aspect=320:240 an"},
      {"mpeg2video is a DVD job of automatic norm", kPlain, {{"paraVideoEncoder", "mpeg2video"}},
       "target=3 vcodec=mpeg2video s=320x240 aspect=320:240 an"},
      {"mpeg2video keeps the disc's norm and aspect", kPalVcd,
       {{"paraVideoEncoder", "mpeg2video"}},
       "target=3 norm=1 vcodec=mpeg2video s=320x240 aspect=4:3 an"},
      // A disc player takes only the disc's own aspects, whatever the zoom does to the picture.
      {"the disc's wide aspect stays over the zoom's", kNtscDvd, {{"paraVideoSize", "720x480"}},
       "target=3 norm=2 vcodec=mpeg4 s=720x480 aspect=16:9 an"},

  };
  for (const TRecordCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Describe(Build(With(kQuietVideo, c.para), Source(1920, 1080), c.code).out),
              c.expected);
  }
}

TEST_F(JobBuilderTest, DiscAspectStandsWithoutGeometry) {
  const TRecordCase cases[] = {
      {"ntsc dvd wide", kNtscDvd, {{"paraVideoSize", "720x480"}}, "16:9"},
      {"ntsc dvd other size", kNtscDvd, {{"paraVideoSize", "720x576"}}, "4:3"},
      {"pal dvd wide, Format in capitals", kPalDvd, {{"paraVideoSize", "720x576"}}, "16:9"},
      {"pal vcd", kPalVcd, {{"paraVideoSize", "720x576"}}, "4:3"},
  };
  for (const TRecordCase& c : cases) {
    SCOPED_TRACE(c.name);
    const engine::TOutputOptions out =
        Build(With(kQuietVideo, c.para), Source(1920, 1080, "none"), c.code).out;
    EXPECT_EQ(out.AspectRatio, c.expected);
    EXPECT_NE(out.TargetType, 0);
  }
}

TEST_F(JobBuilderTest, H264SettingsReachLibx264JobsOnly) {
  const Para extras = {{"paraMaxBitrate", "768000"}, {"paraBufferSize", "2000000"},
                       {"paraLevel", "30"},          {"paraQscale", "20"},
                       {"paraGop", "250"},           {"paraCoder", "0"},
                       {"paraBitExact", "TRUE"}};
  Para para = With(kQuietVideo, extras);
  para["paraVideoEncoder"] = "libx264";
  const engine::TOutputOptions h264 = Build(para, Source(1920, 1080)).out;
  EXPECT_EQ(h264.VideoMaxRate, 768000);
  EXPECT_EQ(h264.VideoBufSize, 2000000);
  EXPECT_EQ(h264.GOPSize, 250);
  EXPECT_EQ(h264.ExtOptions, "level=30\nqp=20\ncoder=0\nflags=+bitexact");

  para["paraVideoEncoder"] = "mpeg4";
  const engine::TOutputOptions mpeg4 = Build(para, Source(1920, 1080)).out;
  EXPECT_EQ(mpeg4.VideoMaxRate, -1);
  EXPECT_EQ(mpeg4.GOPSize, -1);
  EXPECT_EQ(mpeg4.ExtOptions, "");
}

TEST_F(JobBuilderTest, TrimmedRowEndsWithItsRange) {
  TJobSource source = Source(1920, 1080);
  EXPECT_EQ(Build(kQuietVideo, source).out.Duration, AV_NOPTS_VALUE);
  source.TrimDuration = 5'000'000;
  EXPECT_EQ(Build(kQuietVideo, source).out.Duration, 5'000'000);
  source.HasVideo = false;
  EXPECT_EQ(Build({{"paraAudioEncoder", "mp2"}}, source).out.Duration, 5'000'000);
}

// ---- Audio ----

TEST_F(JobBuilderTest, AudioMembers) {
  const TJobSource video = Source(1920, 1080, "none");
  TJobSource audioFile;  // no video stream
  audioFile.Zoom = "lbox";
  const struct {
    const char* name;
    Para para;
    TJobSource source;
    const char* expected;
    const char* inputOptions;
  } cases[] = {
      {"audio-only profile", {{"paraAudioEncoder", "libmp3lame"}, {"paraChannel", "1"},
        {"paraSampleRate", "22050"}, {"paraAudioBitRate", "96.5"}, {"paraVolume", "384"}},
       video, "vn acodec=libmp3lame ac=1 ar=22050 ab=96500 vol=384 sn", "vn=1"},
      {"audio-only defaults", {}, video, "vn acodec=libfaac ac=2 ar=44100 ab=128000 vol=3 sn",
       "vn=1"},
      {"audio-only passes libamr_nb on", {{"paraAudioEncoder", "libamr_nb"}, {"paraChannel", "0"},
        {"paraSampleRate", "as source"}, {"paraAudioBitRate", "as source"}, {"paraVolume", "256"}},
       video, "vn acodec=libamr_nb sn", "vn=1"},
      {"video profile renames libamr_nb",
       {{"paraVideoEncoder", "mpeg4"}, {"paraVideoBitRate", "0"}, {"paraFrameRate", "as source"},
        {"paraVideoSize", "176x144"}, {"paraAudioEncoder", "libamr_nb"}, {"paraChannel", "1"},
        {"paraSampleRate", "8000"}, {"paraAudioBitRate", "12.2"}, {"paraVolume", "256"}},
       video, "vcodec=mpeg4 acodec=libopencore_amrnb ac=1 ar=8000 ab=12200", ""},
      {"video profile without an audio encoder has no audio",
       {{"paraVideoEncoder", "mpeg4"}, {"paraVideoSize", "176x144"}, {"paraChannel", "0"}}, video,
       "vcodec=mpeg4 vb=512000 r=29.97 an ac=0 ar=44100 ab=128000 vol=3", ""},
      {"video profile on a file without video",
       {{"paraVideoEncoder", "mpeg4"}, {"paraAudioEncoder", "ac3"}, {"paraVideoSize", "640x"}},
       audioFile, "vcodec=mpeg4 vn acodec=ac3 ac=2 ar=44100 ab=128000 vol=3", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TJob job = Build(c.para, c.source);
    EXPECT_EQ(Describe(job.out), c.expected);
    EXPECT_EQ(job.in.ExtOptions, c.inputOptions);
  }
  EXPECT_TRUE(prompt_.Shown().empty()) << "a file without video needs no frame size";
}

TEST_F(JobBuilderTest, VolumeThatIsNoIntegerStopsTheJob) {
  EXPECT_THROW(Build({{"paraVolume", "loud"}}, Source(320, 240)), std::invalid_argument);
  EXPECT_THROW(Build(With(kQuietVideo, {{"paraVolume", "1.5"}}), Source(320, 240)),
               std::invalid_argument);
}

TEST_F(JobBuilderTest, DiscTargetsKeepTheDiscAspectWhateverTheZoom) {
  const struct {
    int code;
    const char* size;
    const char* aspect;
  } discs[] = {{kNtscDvd, "720x480", "16:9"}, {kNtscDvd, "352x240", "4:3"},
               {kPalDvd, "720x576", "16:9"}, {kPalVcd, "352x288", "4:3"}};
  for (const auto& disc : discs) {
    for (const char* zoom : {"full", "lbox", "pan", "center"}) {
      SCOPED_TRACE(std::to_string(disc.code) + " " + disc.size + " " + zoom);
      const TJob job = Build(With(kQuietVideo, {{"paraVideoSize", disc.size}}),
                             Source(1920, 1080, zoom), disc.code);
      EXPECT_EQ(job.out.AspectRatio, disc.aspect);
    }
  }
  // The geometry itself is the zoom's: the letterbox still pads the wide source.
  EXPECT_EQ(Build(With(kQuietVideo, {{"paraVideoSize", "352x240"}}), Source(1920, 1080, "lbox"),
                  kNtscDvd)
                .out.VideoFilters,
            "pad=352:240:0:20,setdar=4/3");
  // An anamorphic source's chain ends with the disc's aspect too, not with square pixels.
  TJobSource pal = Source(720, 576, "lbox");
  pal.DisplayWidth = 1024;
  pal.DisplayHeight = 576;
  EXPECT_EQ(Build(With(kQuietVideo, {{"paraVideoSize", "720x576"}}), pal, kPalDvd)
                .out.VideoFilters,
            "pad=720:576:0:86,setdar=16/9");
}

TEST_F(JobBuilderTest, VideoProfileWithoutItsEncoderRefusesASourceWithVideo) {
  // The fresh profile lists video encoders; an empty stored encoder must not turn its job into
  // an audio-only one for a source that has a picture.
  const Para noEncoder = With(kQuietVideo, {{"paraVideoEncoder", ""}});
  try {
    Build(noEncoder, Source(640, 480), kFresh);
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(),
                 "Profile 2101 has no video encoder stored (\"paraVideoEncoder\" is empty), so its "
                 "output would have no video.");
  }
  // A source without video has nothing to lose.
  TJobSource audio = Source(0, 0);
  audio.HasVideo = false;
  EXPECT_TRUE(Build(noEncoder, audio, kFresh).out.DisableVideo);
}

// ---- A profile never chosen on the panel ----

TEST_F(JobBuilderTest, FreshSettingsFileBuildsTheProfileDefaults) {
  const TJob job = BuildStored(Source(1920, 1080), kFresh);  // no settings file at all
  EXPECT_EQ(job.out.VideoCodec, "mpeg4");
  EXPECT_EQ(job.out.FrameSize, "640x480");
  EXPECT_EQ(job.out.VideoBitrate, 768000);
  EXPECT_EQ(job.out.FrameRate, "25");
  EXPECT_EQ(job.out.AudioCodec, "libfaac");
  EXPECT_EQ(job.out.AudioChannels, 2);
  EXPECT_EQ(job.out.AudioBitrate, 128000);
  // 100% is stored as 256: the volume stays as it is.
  EXPECT_EQ(job.out.AudioVolume, -1);
  EXPECT_EQ(platform::TIniFile(settingsPath_).ReadString("formatInfo2101", "paraVolume", ""),
            "256");
  EXPECT_FALSE(job.out.DisableVideo);
  EXPECT_EQ(job.in.ExtOptions, "");
  EXPECT_TRUE(prompt_.Shown().empty());
}

}  // namespace
