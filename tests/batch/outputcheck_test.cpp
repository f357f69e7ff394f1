// The check of written outputs: what a job expects of a source (its streams, the part of each
// inside the trimmed range) and what a file that falls short is told.
#include <gtest/gtest.h>

#include <string>

#include "batch/outputcheck.h"
#include "batch/sourcefacts.h"
#include "media/avprobe.h"
#include "media/ffloader.h"
#include "tests/support/testdirs.h"

namespace {

using batch::TOutputExpectation;
using testsupport::Fixture;

constexpr int64_t kSecond = 1'000'000;

class OutputCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(media::FFLoader().Load(media::EngineLibraries)) << media::FFLoader().LastErrMsg();
  }
};

TEST_F(OutputCheck, ExpectationFollowsTheSourceStreamsAndTheTrim) {
  const struct {
    const char* name;
    const char* file;
    bool videoWritten, audioWritten;
    int64_t trimStart, trimDuration;
    bool video, audio;
    int64_t videoLength, audioLength;  // µs; -1 unknown
  } cases[] = {
      {"whole file", "av.mp4", true, true, -1, 0, true, true, 2 * kSecond, 2 * kSecond},
      {"trimmed", "av.mp4", true, true, 500'000, kSecond, true, true, kSecond, kSecond},
      {"trim running past the end", "av.mp4", true, true, 1'500'000, 5 * kSecond, true, true,
       500'000, 500'000},
      {"an audio-only job", "av.mp4", false, true, -1, 0, false, true, -1, 2 * kSecond},
      {"no video to write", "tone.wav", true, true, -1, 0, false, true, -1, kSecond},
      // Matroska tells no stream lengths: a stream runs from its start to the end of the file.
      {"late sound", "late_audio.mkv", true, true, -1, 0, true, true, 3 * kSecond, kSecond},
      {"late sound, trimmed into it", "late_audio.mkv", true, true, 2'500'000, 0, true, true,
       500'000, 500'000},
      {"late sound, trimmed before it", "late_audio.mkv", true, true, 0, kSecond, true, true,
       kSecond, 0},
      // Times that may jump: the length is not known.
      {"transport stream", "jump.ts", true, true, -1, 0, true, true, -1, -1},
      // The header's promise, not what the data holds.
      {"cut after its header", "faststart_cut.mp4", true, true, -1, 0, true, true, 10 * kSecond,
       10 * kSecond},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    media::TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Fixture(c.file))) << probe.LastErrMsg();
    const TOutputExpectation e =
        batch::ExpectedOutput(batch::FactsOf(probe, {}), c.videoWritten, c.audioWritten, c.trimStart, c.trimDuration);
    EXPECT_EQ(e.Video, c.video);
    EXPECT_EQ(e.Audio, c.audio);
    // Stream lengths come from the containers' time bases: within a few milliseconds.
    if (c.videoLength < 0) {
      EXPECT_EQ(e.VideoLength, -1);
    } else {
      EXPECT_NEAR(e.VideoLength, c.videoLength, 30'000);
    }
    if (c.audioLength < 0) {
      EXPECT_EQ(e.AudioLength, -1);
    } else {
      EXPECT_NEAR(e.AudioLength, c.audioLength, 30'000);
    }
  }
}

TEST_F(OutputCheck, NamesWhatIsMissingOrShort) {
  const auto expect = [](bool video, bool audio, int64_t length) {
    return TOutputExpectation{video, audio, video ? length : -1, audio ? length : -1};
  };
  const struct {
    const char* name;
    const char* file;
    TOutputExpectation expected;
    bool readabilityOnly;
    const char* problem;  // the start of the check's words; "" when none
    bool hasStreams;
  } cases[] = {
      {"as asked", "av.mp4", expect(true, true, 2 * kSecond), false, "", true},
      {"within frame rounding", "av.mp4", expect(true, true, 2'050'000), false, "", true},
      {"unknown lengths check the streams only", "av.mp4", expect(true, true, -1), false, "",
       true},
      {"short by more than 1 s", "av.mp4", expect(true, true, 3'200'000), false,
       "output check: video lasts 2.0 s of 3.2 s", true},
      {"short by more than 2 %", "av.mp4", expect(false, true, 2'300'000), false,
       "output check: audio lasts 2.0 s of 2.3 s", true},
      {"sound missing", "stripes.mkv", expect(true, true, 200'000), false,
       "output check: audio stream missing", true},
      {"picture missing", "tone.wav", expect(true, true, kSecond), false,
       "output check: video stream missing", true},
      {"a stopped output is only opened", "tone.wav", expect(true, true, 9 * kSecond), true, "",
       true},
      {"a cover picture is no video", "cover.mp3", expect(true, false, 2 * kSecond), false,
       "output check: video stream missing", true},
      {"not a media file", "notmedia.avi", expect(true, true, kSecond), true,
       "output check: the file cannot be read (", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const batch::TOutputCheck check =
        batch::CheckOutput(Fixture(c.file), c.expected, c.readabilityOnly);
    EXPECT_EQ(check.Problem.substr(0, std::string(c.problem).size()), c.problem) << check.Problem;
    if (*c.problem == '\0') {
      EXPECT_EQ(check.Problem, "");
    }
    EXPECT_EQ(check.HasStreams, c.hasStreams);
    EXPECT_EQ(check.Readable, std::string(c.file) != "notmedia.avi");
  }
}

}  // namespace
