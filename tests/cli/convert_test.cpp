// kvc convert run as a process: a batch whose outputs an independent reader opens, JSON events
// line by line, two files at a time, failures, wrong command lines, settings kept only with
// --save, and Ctrl-C leaving a playable file.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "profiles/settings.h"
#include "tests/cli/kvcprocess.h"
#include "tests/support/ffprobe.h"
#include "tests/support/testdirs.h"

namespace {

namespace fs = std::filesystem;
using clitest::RunKvc;
using clitest::TKvcProcess;
using nlohmann::json;

using TPlace = clitest::TKvcPlace;

std::vector<json> Events(const std::vector<std::string>& lines) {
  std::vector<json> events;
  for (const std::string& line : lines) {
    json event = json::parse(line, nullptr, false);
    EXPECT_FALSE(event.is_discarded()) << "not JSON: " << line;
    if (!event.is_discarded()) events.push_back(event);
  }
  return events;
}

std::vector<json> OfKind(const std::vector<json>& events, const std::string& kind) {
  std::vector<json> found;
  for (const json& e : events)
    if (e.value("event", "") == kind) found.push_back(e);
  return found;
}

TEST(KvcConvert, ABatchOfThreeFilesConvertsWithJsonEvents) {
  TPlace place;
  const std::vector<std::string> sources = {testsupport::Fixture("av.mp4"),
                                            testsupport::Fixture("audio.mp3"),
                                            testsupport::Fixture("tone.wav")};
  std::vector<std::string> args = place.Args({"--json"});
  args.insert(args.end(), sources.begin(), sources.end());
  TKvcProcess kvc(args);
  ASSERT_EQ(kvc.Wait(), 0) << kvc.Errors();
  const std::vector<json> events = Events(kvc.Lines());

  const std::vector<json> done = OfKind(events, "done");
  ASSERT_EQ(done.size(), 3u);
  const char* names[] = {"av_(new).mp4", "audio_(new).mp4", "tone_(new).mp4"};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(sources[i]);
    EXPECT_EQ(done[i]["file"], sources[i]);
    EXPECT_EQ(done[i]["output"], place.out + "/" + names[i]);
    const testsupport::FFprobe probe(done[i]["output"]);
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    EXPECT_EQ(done[i]["size"], fs::file_size(place.out + "/" + names[i]));
  }
  EXPECT_EQ(testsupport::FFprobe(place.out + "/av_(new).mp4").StreamCount("video"), 1u);
  EXPECT_EQ(testsupport::FFprobe(place.out + "/tone_(new).mp4").StreamCount("audio"), 1u);
  for (const json& p : OfKind(events, "progress")) {
    EXPECT_TRUE(p["percent"].is_null() || (p["percent"] >= 0 && p["percent"] <= 100));
    EXPECT_TRUE(p.contains("eta") && p.contains("batch_eta") && p.contains("speed"));
  }
  const std::vector<json> batch = OfKind(events, "batch");
  ASSERT_EQ(batch.size(), 1u);
  EXPECT_EQ(batch[0]["converted"], 3);
  EXPECT_EQ(batch[0]["failed"], 0);
  EXPECT_EQ(events.back()["event"], "batch");

  // Without a terminal and without --json: one plain line per file, naming its output.
  std::string output, errors;
  ASSERT_EQ(RunKvc(place.Args({sources[2]}), &output, &errors), 0) << errors;
  const std::string expected = sources[2] + " -> " + place.out + "/tone_(new_1).mp4 (";
  EXPECT_EQ(output.substr(0, expected.size()), expected);
  EXPECT_EQ(output.substr(output.size() - 5), " kB)\n");
  EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1);
}

TEST(KvcConvert, TwoJobsConvertTwoFilesAtATime) {
  TPlace place;
  std::vector<std::string> args = place.Args({"--json", "--jobs", "2"});
  for (int i = 1; i <= 4; ++i)
    args.push_back(place.Copy("long.mp4", "clip" + std::to_string(i) + ".mp4"));
  TKvcProcess kvc(args);
  ASSERT_EQ(kvc.Wait(), 0) << kvc.Errors();
  const std::vector<json> events = Events(kvc.Lines());

  // Before the first file is done, the first two files report and the others do not.
  std::set<int> reporting;
  for (const json& e : events) {
    if (e["event"] == "done") break;
    if (e["event"] == "progress") reporting.insert(e["task"].get<int>());
  }
  EXPECT_EQ(reporting, (std::set<int>{0, 1}));

  const std::vector<json> done = OfKind(events, "done");
  ASSERT_EQ(done.size(), 4u);
  int64_t frames = -1;
  for (int i = 1; i <= 4; ++i) {
    const std::string output = place.out + "/clip" + std::to_string(i) + "_(new).mp4";
    SCOPED_TRACE(output);
    const testsupport::FFprobe probe(output);
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    EXPECT_NEAR(probe.Duration(), 20.0, 0.2);
    const int64_t count = probe.NbFrames(0);
    if (frames >= 0) {
      EXPECT_EQ(count, frames);
    }
    frames = count;
  }
}

TEST(KvcConvert, AFailingFileExitsOneAndTheOthersConvert) {
  TPlace place;
  const std::string notMedia = testsupport::Fixture("notmedia.avi");
  const std::string missing = place.dir.File("missing.mp4");
  std::string output, errors;
  EXPECT_EQ(RunKvc(place.Args({testsupport::Fixture("av.mp4"), notMedia, missing,
                               testsupport::Fixture("tone.wav")}),
                   &output, &errors),
            1);
  EXPECT_NE(errors.find("kvc: " + notMedia), std::string::npos) << errors;
  EXPECT_NE(errors.find("kvc: " + missing), std::string::npos) << errors;
  EXPECT_TRUE(testsupport::FFprobe(place.out + "/av_(new).mp4").Ok());
  EXPECT_TRUE(testsupport::FFprobe(place.out + "/tone_(new).mp4").Ok());
  EXPECT_EQ(std::distance(fs::directory_iterator(place.out), fs::directory_iterator()), 2);
  // The last lines list what was not converted, with the reasons.
  const std::string summary = "2 converted, 2 failed in ";
  const size_t at = errors.find(summary);
  ASSERT_NE(at, std::string::npos) << errors;
  const std::string tail = errors.substr(errors.find('\n', at) + 1);
  EXPECT_EQ(tail.rfind("Not converted:\n  " + notMedia + ": ", 0), 0u) << tail;
  EXPECT_NE(tail.find("\n  " + missing + ": "), std::string::npos) << tail;

  // The same list in the batch event.
  TKvcProcess kvc(place.Args({"--json", testsupport::Fixture("tone.wav"), notMedia}));
  ASSERT_EQ(kvc.Wait(), 1);
  const std::vector<json> batch = OfKind(Events(kvc.Lines()), "batch");
  ASSERT_EQ(batch.size(), 1u);
  ASSERT_EQ(batch[0]["failures"].size(), 1u);
  EXPECT_EQ(batch[0]["failures"][0]["file"], notMedia);
  EXPECT_FALSE(batch[0]["failures"][0]["reason"].get<std::string>().empty());
}

// The folders under /dev/shm or the temporary folder a running kvc holds open: its run-only
// settings folder.
std::vector<std::string> OpenTempFolders(pid_t pid) {
  std::vector<std::string> folders;
  std::error_code error;
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  for (const fs::directory_entry& fd : fs::directory_iterator(fds, error)) {
    const fs::path target = fs::read_symlink(fd.path(), error);
    if (!error && fs::is_directory(target, error) &&
        target.filename().string().rfind("kvc-", 0) == 0)
      folders.push_back(target.string());
  }
  return folders;
}

TEST(KvcConvert, AKilledConversionLeavesOnlyItsPartFileAndIsNeverOverwritten) {
  TPlace place;
  const std::string clip = testsupport::Fixture("long.mp4");
  TKvcProcess kvc(place.Args({"--json", clip}));
  std::string line;
  bool progressed = false;
  while (!progressed && kvc.ReadLine(line)) progressed = line.find("\"progress\"") != std::string::npos;
  ASSERT_TRUE(progressed);
  // Killed once its output holds a good part of a file, in the middle of the 20 s clip.
  const std::string part = place.out + "/long_(new).mp4.part";
  std::error_code error;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while ((fs::file_size(part, error) < 100'000 || error) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const std::vector<std::string> runFolders = OpenTempFolders(kvc.Pid());
  kvc.Signal(SIGKILL);
  EXPECT_EQ(kvc.Wait(), 128 + SIGKILL);
  EXPECT_EQ(std::distance(fs::directory_iterator(place.out), fs::directory_iterator()), 1);
  ASSERT_TRUE(fs::exists(part));
  ASSERT_GE(fs::file_size(part), 100'000u);
  const std::string partBytes = testsupport::ReadText(part);
  ASSERT_EQ(runFolders.size(), 1u);
  EXPECT_TRUE(fs::exists(runFolders[0]));

  // The next batch takes another name, writes a whole file, leaves the unfinished one byte for
  // byte as it was and removes the killed run's settings folder.
  std::string output, errors;
  ASSERT_EQ(RunKvc(place.Args({"--trim", "0,1", clip}), &output, &errors), 0) << errors;
  const testsupport::FFprobe probe(place.out + "/long_(new_1).mp4");
  ASSERT_TRUE(probe.Ok()) << probe.Errors();
  EXPECT_EQ(probe.StreamCount("video"), 1u);
  EXPECT_EQ(probe.StreamCount("audio"), 1u);
  EXPECT_NEAR(probe.Duration(), 1.0, 0.1);
  EXPECT_TRUE(testsupport::ReadText(part) == partBytes) << "the unfinished file was changed";
  EXPECT_FALSE(fs::exists(place.out + "/long_(new).mp4"));
  EXPECT_FALSE(fs::exists(runFolders[0]));
}

TEST(KvcConvert, TwoProgramsOnTheSameSourceWriteTwoOutputs) {
  TPlace place;
  const std::string clip = testsupport::Fixture("av.mp4");
  TKvcProcess first(place.Args({"--json", clip}));
  TKvcProcess second(place.Args({"--json", clip}));
  ASSERT_EQ(first.Wait(), 0) << first.Errors();
  ASSERT_EQ(second.Wait(), 0) << second.Errors();
  std::set<std::string> outputs;
  for (const TKvcProcess* kvc : {&first, &second})
    for (const json& done : OfKind(Events(kvc->Lines()), "done"))
      outputs.insert(done["output"].get<std::string>());
  EXPECT_EQ(outputs, (std::set<std::string>{place.out + "/av_(new).mp4",
                                            place.out + "/av_(new_1).mp4"}));
  for (const std::string& output : outputs) {
    const testsupport::FFprobe probe(output);
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    EXPECT_EQ(probe.StreamCount("video"), 1u);
    EXPECT_NEAR(probe.Duration(), 2.0, 0.1);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(place.out), fs::directory_iterator()), 2);
}

TEST(KvcConvert, WrongCommandLinesExitTwoNamingTheFault) {
  TPlace place;
  const std::string clip = testsupport::Fixture("av.mp4");
  struct TCase {
    std::vector<std::string> args;
    const char* named;  // what the message must name
  };
  const TCase cases[] = {
      {place.Args({"--bogus", clip}), "unknown option '--bogus'"},
      {place.Args({"--profile", "9999", clip}), "unknown profile 9999"},
      {place.Args({"--profile", "abc", clip}), "--profile abc"},
      {place.Args({"--set", "vbitrate=fast", clip}), "Video BitRate is not a valid value!"},
      {place.Args({"--set", "fps=7", clip}), "--set fps=7: not one of"},
      {place.Args({"--set", "speed=2", clip}), "--set speed: unknown parameter"},
      {place.Args({"--trim", "5,2", clip}), "the end is not after the start"},
      {place.Args({"--crop", "1,0,0,0", clip}), "bands must be even"},
      {place.Args({"--image", place.dir.File("none.bmp"), clip}), "Cannot load watermark image"},
      {place.Args({"--jobs"}), "option --jobs needs a value"},
      {place.Args({}), "no file given"},
      {{"transcode", clip}, "unknown command 'transcode'"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.named);
    std::string output, errors;
    EXPECT_EQ(RunKvc(c.args, &output, &errors), 2);
    // The line that matters and where help is, not the whole usage text burying it.
    const std::string help = c.args[0] == "convert" ? "Try 'kvc convert --help' for more information.\n"
                                                    : "Try 'kvc --help' for more information.\n";
    const size_t lineEnd = errors.find('\n');
    ASSERT_NE(lineEnd, std::string::npos) << errors;
    EXPECT_EQ(errors.rfind("kvc: ", 0), 0u) << errors;
    EXPECT_NE(errors.substr(0, lineEnd).find(c.named), std::string::npos) << errors;
    EXPECT_EQ(errors.substr(lineEnd + 1), help);
  }
  EXPECT_FALSE(fs::exists(place.out));
}

TEST(KvcConvert, SettingsChangeOnlyWithSave) {
  TPlace place;
  const std::string settingsFile = place.settings + "/" + profiles::kSettingsFileName;
  const std::string clip = testsupport::Fixture("av.mp4");
  // Profile 1 converts to 320x240 by default; a run with other values leaves the file as it was.
  std::string output, errors;
  ASSERT_EQ(RunKvc(place.Args({"--set", "size=160x120", "--trim", "0.5,0:01.5", clip}), &output,
                   &errors),
            0)
      << errors;
  testsupport::FFprobe first(place.out + "/av_(new).mp4");
  ASSERT_TRUE(first.Ok());
  EXPECT_EQ(first.Width(0), 160);
  EXPECT_NEAR(first.Duration(), 1.0, 0.15);
  EXPECT_FALSE(fs::exists(settingsFile));

  ASSERT_EQ(RunKvc(place.Args({"--save", "--set", "size=176x144", clip}), &output, &errors), 0)
      << errors;
  EXPECT_EQ(testsupport::FFprobe(place.out + "/av_(new_1).mp4").Width(0), 176);
  const profiles::TSettings stored(settingsFile);
  EXPECT_EQ(stored.ProfileString(1, "paraVideoSize", ""), "176x144");
  EXPECT_EQ(stored.OutPutDir(), place.out);
  // The saved values are the defaults of the next run.
  ASSERT_EQ(RunKvc({"convert", "--settings", place.settings, clip}, &output, &errors), 0) << errors;
  EXPECT_EQ(testsupport::FFprobe(place.out + "/av_(new_2).mp4").Width(0), 176);
}

TEST(KvcConvert, CtrlCStopsAndLeavesAPlayableFile) {
  TPlace place;
  TKvcProcess kvc(place.Args({"--json", testsupport::Fixture("long.mp4"),
                              testsupport::Fixture("av.mp4")}));
  std::string line;
  bool progressed = false;
  while (!progressed && kvc.ReadLine(line)) progressed = line.find("\"progress\"") != std::string::npos;
  ASSERT_TRUE(progressed);
  kvc.Signal(SIGINT);
  EXPECT_EQ(kvc.Wait(), 130) << kvc.Errors();
  const std::vector<json> events = Events(kvc.Lines());
  EXPECT_EQ(OfKind(events, "done").size(), 0u);
  EXPECT_EQ(OfKind(events, "stopped").size(), 2u);
  ASSERT_EQ(OfKind(events, "batch").size(), 1u);
  EXPECT_EQ(OfKind(events, "batch")[0]["interrupted"], true);
  const testsupport::FFprobe probe(place.out + "/long_(new).mp4");
  ASSERT_TRUE(probe.Ok()) << probe.Errors();
  EXPECT_EQ(probe.StreamCount("video"), 1u);
  EXPECT_LT(probe.Duration(), 19.0);
  EXPECT_FALSE(fs::exists(place.out + "/av_(new).mp4"));
}

}  // namespace
