// kvc convert the way a new user meets it: a settings folder nobody set up, one option at a time,
// every output read back by an independent reader. A converted file must hold the streams the
// profile asks for; anything else is a failure with its reason, never a success.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "profiles/catalogue.h"
#include "profiles/settings.h"
#include "tests/cli/kvcprocess.h"
#include "tests/support/ffprobe.h"
#include "tests/support/testdirs.h"

namespace {

namespace fs = std::filesystem;
using clitest::RunKvc;
using testsupport::FFprobe;
using testsupport::Fixture;

// A settings folder nobody set up and an output folder of its own.
struct TFreshPlace : clitest::TKvcPlace {
  // kvc convert --settings … --out … ARGS; the exit status, standard error in *errors.
  int Convert(const std::vector<std::string>& args, std::string* errors) const {
    std::string output;
    return RunKvc(Args(args), &output, errors);
  }
  // The one output of a run; "" (and a test failure) when there is not exactly one.
  std::string Output() const {
    const std::vector<std::string> files = Outputs();
    EXPECT_EQ(files.size(), 1u);
    return files.size() == 1 ? files[0] : "";
  }
};

// A video stream's display aspect as ffprobe reports it ("880:657"); 0 when absent. MPEG-1 stores
// the picture's shape as the nearest of a few fixed ratios, so a VCD's 4:3 reads as 880:657.
double DisplayAspect(const FFprobe& probe) {
  for (size_t i = 0; i < probe.StreamCount(); ++i) {
    if (probe.CodecType(i) != "video") continue;
    const std::string dar = probe.Stream(i).value("display_aspect_ratio", "");
    const size_t colon = dar.find(':');
    if (colon == std::string::npos) return 0;
    return std::stod(dar.substr(0, colon)) / std::stod(dar.substr(colon + 1));
  }
  return 0;
}

struct TEdit {
  std::vector<std::string> args;
  double duration;  // of the output, s
};

// Every per-file edit given alone, on the 2 s sample clip.
const TEdit kEdits[] = {
    {{"--zoom", "full"}, 2.0},     {{"--zoom", "lbox"}, 2.0},        {{"--zoom", "pan"}, 2.0},
    {{"--zoom", "center"}, 2.0},   {{"--trim", "0.5,1.5"}, 1.0},     {{"--crop", "20,20,0,0"}, 2.0},
    {{"--brightness", "300"}, 2.0}, {{"--text", "Hello"}, 2.0},
};

// Converts the sample clip with the profile and each edit alone, each time on a fresh settings
// folder, and checks what the output holds.
void ConvertEachEditAlone(int profile, size_t videoStreams, double displayAspect) {
  for (const TEdit& edit : kEdits) {
    SCOPED_TRACE(edit.args[0] + " " + edit.args[1]);
    TFreshPlace place;
    std::vector<std::string> args = {"--profile", std::to_string(profile)};
    args.insert(args.end(), edit.args.begin(), edit.args.end());
    args.push_back(Fixture("av.mp4"));
    std::string errors;
    ASSERT_EQ(place.Convert(args, &errors), 0) << errors;
    const FFprobe probe(place.Output());
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    EXPECT_EQ(probe.StreamCount("video"), videoStreams);
    EXPECT_EQ(probe.StreamCount("audio"), 1u);
    EXPECT_NEAR(probe.Duration(), edit.duration, 0.25);
    if (displayAspect > 0) {
      EXPECT_NEAR(DisplayAspect(probe), displayAspect, 0.01);
    }
  }
}

TEST(KvcNewUser, EachEditAloneKeepsTheVideoOfAVideoProfile) {
  ConvertEachEditAlone(2602, 1, 0);
}

TEST(KvcNewUser, EachEditAloneKeepsTheVideoAndAspectOfADiscProfile) {
  ConvertEachEditAlone(2400, 1, 4.0 / 3);  // VCD NTSC
}

TEST(KvcNewUser, EachEditAloneGivesAudioOnlyForAnAudioProfile) {
  ConvertEachEditAlone(2700, 0, 0);
}

TEST(KvcNewUser, DiscOutputsCarryTheAspectTheirPlayersAccept) {
  const struct {
    int profile;
    std::vector<std::string> args;
    const char* aspect;  // as an MPEG-2 or DV stream states it exactly
  } cases[] = {
      {2200, {}, "16:9"},  // DVD NTSC at its wide size, 720x480
      {2200, {"--set", "size=352x240"}, "4:3"},
      {2201, {}, "16:9"},  // DVD PAL, 720x576
      {2201, {"--set", "size=352x288", "--zoom", "lbox"}, "4:3"},
      {2300, {}, "4:3"},   // SVCD NTSC
      {2301, {"--zoom", "pan"}, "4:3"},
      {2400, {}, nullptr},  // VCD NTSC: MPEG-1, 4:3 as nearly as it can say
      {2401, {"--zoom", "center"}, nullptr},
      {2608, {}, "4:3"},   // DV NTSC: not a disc target, and already right
      {2609, {}, "4:3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.profile) + (c.args.empty() ? "" : " " + c.args[1]));
    TFreshPlace place;
    std::vector<std::string> args = {"--profile", std::to_string(c.profile), "--trim", "0,0.6"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(Fixture("av.mp4"));
    std::string errors;
    ASSERT_EQ(place.Convert(args, &errors), 0) << errors;
    const FFprobe probe(place.Output());
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    ASSERT_EQ(probe.StreamCount("video"), 1u);
    const double aspect = DisplayAspect(probe);
    if (c.aspect) {
      for (size_t i = 0; i < probe.StreamCount(); ++i) {
        if (probe.CodecType(i) == "video") {
          EXPECT_EQ(probe.Stream(i).value("display_aspect_ratio", ""), c.aspect);
        }
      }
    } else {
      EXPECT_NEAR(aspect, 4.0 / 3, 0.01);
    }
  }
}

TEST(KvcNewUser, ATrimPastTheEndFailsAndLeavesNoFile) {
  TFreshPlace place;
  std::string errors;
  EXPECT_EQ(place.Convert({"--profile", "2602", "--trim", "20,30", Fixture("av.mp4"),
                           Fixture("tone.wav")},
                          &errors),
            1);
  EXPECT_NE(errors.find("nothing to convert: the start 00:00:20.000 lies past the end of " +
                        Fixture("av.mp4")),
            std::string::npos)
      << errors;
  // The other file's trim lies past its end too; neither leaves a file behind.
  EXPECT_TRUE(place.Outputs().empty());
}

TEST(KvcNewUser, ASourceNameNearTheLimitConverts) {
  // 250 bytes with its extension, in two-byte letters: "_(new)" and the part file's ".part" do
  // not fit after it, so the name is shortened by whole letters.
  TFreshPlace place;
  std::string stem;
  while (stem.size() < 246) stem += "é";
  const std::string source = place.dir.File(stem + ".mp4");
  fs::copy_file(Fixture("av.mp4"), source);
  std::string errors;
  ASSERT_EQ(place.Convert({"--profile", "2602", "--trim", "0,0.5", source}, &errors), 0) << errors;
  const std::string output = fs::path(place.Output()).filename();
  EXPECT_LE(output.size(), 250u);
  EXPECT_EQ(output.substr(output.size() - 10), "_(new).mp4");
  EXPECT_EQ(output.substr(0, output.size() - 10), stem.substr(0, 240));
  EXPECT_TRUE(FFprobe(place.Output()).Ok());
}

TEST(KvcNewUser, AProfileSectionWrittenByHandGetsTheMissingDefaults) {
  TFreshPlace place;
  testsupport::WriteText(place.settings + "/" + profiles::kSettingsFileName,
                         "[formatInfo2602]\nparaVideoSize=176x144\n");
  std::string errors;
  ASSERT_EQ(place.Convert({"--profile", "2602", "--trim", "0,0.5", Fixture("av.mp4")}, &errors),
            0)
      << errors;
  const FFprobe probe(place.Output());
  ASSERT_EQ(probe.StreamCount("video"), 1u);
  EXPECT_EQ(probe.CodecName(0), "mpeg4");
  EXPECT_EQ(probe.Width(0), 176);
  EXPECT_EQ(probe.StreamCount("audio"), 1u);
}

TEST(KvcNewUser, ACoverPictureIsNoVideo) {
  // A video profile converts an album with its cover like any audio file; an audio profile as
  // before.
  for (const int profile : {2602, 2700}) {
    SCOPED_TRACE(profile);
    TFreshPlace place;
    std::string errors;
    ASSERT_EQ(place.Convert({"--profile", std::to_string(profile), Fixture("cover.mp3")}, &errors),
              0)
        << errors;
    const FFprobe probe(place.Output());
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    EXPECT_EQ(probe.StreamCount("video"), 0u);
    EXPECT_EQ(probe.StreamCount("audio"), 1u);
    EXPECT_NEAR(probe.Duration(), 2.0, 0.2);
  }
  std::string output, errors;
  ASSERT_EQ(RunKvc({"info", "--json", Fixture("cover.mp3")}, &output, &errors), 0) << errors;
  EXPECT_NE(output.find("\"cover_picture\":true"), std::string::npos) << output;
}

TEST(KvcNewUser, SetTakesTheSettingsFileNamesInAnyCase) {
  for (const char* name : {"size", "VideoSize", "videosize", "paraVideoSize", "SIZE"}) {
    SCOPED_TRACE(name);
    TFreshPlace place;
    std::string errors;
    ASSERT_EQ(place.Convert({"--profile", "2602", "--trim", "0,0.3", "--set",
                             std::string(name) + "=176x144", Fixture("av.mp4")},
                            &errors),
              0)
        << errors;
    EXPECT_EQ(FFprobe(place.Output()).Width(0), 176);
  }
}

TEST(KvcNewUser, ASavedProfileIsStoredWithItsCaption) {
  TFreshPlace place;
  std::string errors;
  ASSERT_EQ(place.Convert({"--profile", "2700", "--save", Fixture("tone.wav")}, &errors), 0)
      << errors;
  const profiles::TSettings stored(place.settings + "/" + profiles::kSettingsFileName);
  EXPECT_EQ(stored.FormatCode(), 2700);
  EXPECT_EQ(stored.FormatName(), profiles::ProfileCaption(2700));
}

}  // namespace
