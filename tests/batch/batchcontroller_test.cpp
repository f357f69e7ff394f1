// The batch controller over the real engine: which rows become tasks, what the rows and the
// progress window show, output names over several batches, the post-actions, the hook request,
// the worker priority, stopping, and rows that cannot be converted.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/mainthread.h"
#include "profiles/settings.h"
#include "media/fflogger.h"
#include "tests/batch/batchtesting.h"
#include "tests/support/ffprobe.h"
#include "tests/support/filesizelimit.h"

namespace {

namespace fs = std::filesystem;
using batchtest::TBatchRig;

// An engine that notes, on the worker thread, how its tasks run.
class TObservedEngine : public engine::TCustomZUzezaVIV {
 public:
  std::atomic<int> hookCalls{0};
  std::atomic<int> workerNice{-100};
  std::atomic<int> workerPolicy{-1};

 protected:
  void DoCustomHook(engine::TCustomFFmpeg* task, media::TBitmap& bitmap, int frameNumber,
                    int64_t pts, bool& update, bool& stopHook) override {
    ++hookCalls;
    TCustomZUzezaVIV::DoCustomHook(task, bitmap, frameNumber, pts, update, stopHook);
  }
  void DoProgress(engine::TCustomFFmpeg* task, int fileIndex, int frameNumber, int fps,
                  float quality, float bitRate, int64_t size, int64_t time,
                  int64_t total) override {
    workerNice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    workerPolicy = sched_getscheduler(0);
    TCustomZUzezaVIV::DoProgress(task, fileIndex, frameNumber, fps, quality, bitRate, size, time,
                                 total);
  }
};

TObservedEngine& Observed(TBatchRig& rig) { return static_cast<TObservedEngine&>(*rig.engine); }

TEST(BatchController, CheckedRowsBecomeTasksAndThePostActionsFollowTheLastFile) {
  TBatchRig rig;
  rig.view.shutDown = true;
  ASSERT_EQ(rig.list->AddFiles({testsupport::Fixture("av.mp4"), testsupport::Fixture("audio.mp3"),
                                testsupport::Fixture("tone.wav")}),
            3);
  rig.list->Select(1);
  rig.list->UncheckSelected();
  ASSERT_TRUE(rig.RunBatch());

  EXPECT_EQ(rig.controller->TaskMap(), (std::vector<int>{0, 2}));
  EXPECT_EQ(rig.list->Row(0).Progress, "100%");
  EXPECT_EQ(rig.list->Row(1).Progress, "");
  EXPECT_EQ(rig.list->Row(2).Progress, "100%");
  // Task 1's reports are shown for row 3, numbered as the second of two.
  bool sawSecondTask = false;
  for (const batch::TProgressValues& v : rig.view.progress) {
    if (v.Info.TaskIndex != 1) continue;
    sawSecondTask = true;
    EXPECT_EQ(v.Row, 2);
    EXPECT_EQ(v.Progress, "[2/2]");
    EXPECT_EQ(v.File, testsupport::Fixture("tone.wav"));
    EXPECT_EQ(v.Length, "1 Second");
    EXPECT_GE(v.Percent, 0);
    EXPECT_LE(v.Percent, 100);
  }
  EXPECT_TRUE(sawSecondTask);
  // The post-actions run once, after the last file, before the batch ends.
  EXPECT_EQ(rig.view.Sequence(),
            "buttons(off) show ended(0 finished) ended(2 finished) buttons(on) close");
  ASSERT_EQ(rig.desktopCalls.size(), 2u);
  EXPECT_EQ(rig.desktopCalls[0].what, "open");
  EXPECT_EQ(rig.desktopCalls[0].path, rig.outDir);
  EXPECT_EQ(rig.desktopCalls[1].what, "shutdown");
  EXPECT_EQ(rig.engine->TaskCount(), 0);
  EXPECT_FALSE(rig.controller->PreviewBitmap().Empty());

  EXPECT_EQ(rig.Outputs(), (std::vector<std::string>{"av_(new).mp4", "tone_(new).mp4"}));
  const testsupport::FFprobe video(rig.outDir + "/av_(new).mp4");
  ASSERT_TRUE(video.Ok()) << video.Errors();
  EXPECT_EQ(video.StreamCount("video"), 1u);
  EXPECT_EQ(video.StreamCount("audio"), 1u);
  const testsupport::FFprobe audio(rig.outDir + "/tone_(new).mp4");
  ASSERT_TRUE(audio.Ok()) << audio.Errors();
  EXPECT_EQ(audio.StreamCount("video"), 0u);
  EXPECT_EQ(audio.StreamCount("audio"), 1u);
}

TEST(BatchController, TrimmedRowsReportTheirTrimmedLength) {
  struct TCase {
    const char* name;
    int64_t start, duration;  // µs
  };
  const TCase cases[] = {{"start only", 1'000'000, 0}, {"start and end", 500'000, 1'000'000}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TBatchRig rig;
    ASSERT_EQ(rig.list->AddFiles({testsupport::Fixture("av.mp4")}), 1);
    rig.list->Row(0).Record->TrimStart = c.start;
    rig.list->Row(0).Record->TrimDuration = c.duration;
    ASSERT_TRUE(rig.RunBatch());
    ASSERT_FALSE(rig.view.progress.empty());
    const batch::TProgressValues& last = rig.view.progress.back();
    EXPECT_EQ(last.Info.TotalDuration, 1'000'000);
    EXPECT_EQ(last.Length, "1 Second");
    EXPECT_EQ(last.Percent, 100);
    ASSERT_EQ(rig.controller->TaskMap().size(), 1u);
    const testsupport::FFprobe probe(rig.controller->TaskOutput(0));
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    EXPECT_NEAR(probe.Duration(), 1.0, 0.15);
  }
}

TEST(BatchController, UnknownLengthShowsNoPercentage) {
  TBatchRig rig;
  // A raw H.264 stream carries no duration.
  const std::string raw = rig.dir.File("raw.h264");
  ASSERT_EQ(testsupport::RunTool({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                                  "testsrc=size=160x120:rate=25:duration=2", "-c:v", "libx264",
                                  "-f", "h264", raw}),
            0);
  ASSERT_EQ(rig.list->AddFiles({raw}), 1);
  EXPECT_EQ(rig.list->Row(0).Length, "0");
  rig.engine->SetProgressInterval(100);
  std::vector<std::string> rowTexts;
  rig.view.onProgress = [&](const batch::TProgressValues&) {
    rowTexts.push_back(rig.list->Row(0).Progress);
  };
  ASSERT_TRUE(rig.RunBatch());
  ASSERT_FALSE(rig.view.progress.empty());
  for (const batch::TProgressValues& v : rig.view.progress) {
    EXPECT_EQ(v.Info.TotalDuration, -1);
    EXPECT_EQ(v.Percent, -1);
    EXPECT_EQ(v.Length, "");
  }
  for (const std::string& text : rowTexts) EXPECT_EQ(text, "");
  EXPECT_EQ(rig.list->Row(0).Progress, "100%");
}

TEST(BatchController, NoCheckedRowOnlyWarns) {
  TBatchRig rig;
  ASSERT_EQ(rig.list->AddFiles({testsupport::Fixture("av.mp4")}), 1);
  rig.list->UncheckAll();
  EXPECT_FALSE(rig.controller->Start());
  EXPECT_EQ(rig.prompt.Texts(),
            std::vector<std::string>{"Please select a file by clicking the check box!"});
  EXPECT_EQ(rig.prompt.Shown()[0].title, "Warning");
  EXPECT_FALSE(rig.controller->Running());
  EXPECT_TRUE(rig.view.events.empty());
  EXPECT_TRUE(rig.Outputs().empty());
}

TEST(BatchController, OutputNamesNeverRepeat) {
  TBatchRig rig;
  ASSERT_EQ(rig.list->AddFiles({testsupport::Fixture("tone.wav")}), 1);
  for (int batchRun = 0; batchRun < 3; ++batchRun) ASSERT_TRUE(rig.RunBatch());
  EXPECT_EQ(rig.Outputs(), (std::vector<std::string>{"tone_(new).mp4", "tone_(new_1).mp4",
                                                     "tone_(new_2).mp4"}));

  // Two rows with one file name from different folders, in the same batch.
  ASSERT_EQ(rig.list->AddFiles({rig.CopyFixture("tone.wav", "second/tone.wav")}), 1);
  ASSERT_TRUE(rig.RunBatch());
  EXPECT_EQ(rig.Outputs(),
            (std::vector<std::string>{"tone_(new).mp4", "tone_(new_1).mp4", "tone_(new_2).mp4",
                                      "tone_(new_3).mp4", "tone_(new_4).mp4"}));
  for (const std::string& name : rig.Outputs()) {
    const testsupport::FFprobe probe(rig.outDir + "/" + name);
    EXPECT_TRUE(probe.Ok()) << name << ": " << probe.Errors();
  }
}

TEST(BatchController, OnlyRowsWithEffectsOrAWatermarkAreHooked) {
  struct TCase {
    const char* name;
    void (*edit)(batch::TlvFilesRecord&);
    bool hooked;
  };
  const TCase cases[] = {
      {"neutral values", [](batch::TlvFilesRecord&) {}, false},
      {"exposure only", [](batch::TlvFilesRecord& r) { r.Exposure = 20; }, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TBatchRig rig(batchtest::DefaultPara(), std::make_unique<TObservedEngine>());
    ASSERT_EQ(rig.list->AddFiles({testsupport::Fixture("av.mp4")}), 1);
    c.edit(*rig.list->Row(0).Record);
    ASSERT_TRUE(rig.RunBatch());
    EXPECT_EQ(rig.view.outcomes[0], batch::TRowOutcome::Finished);
    if (c.hooked)
      EXPECT_EQ(Observed(rig).hookCalls, 50);  // every frame of the 2 s clip
    else
      EXPECT_EQ(Observed(rig).hookCalls, 0);
  }
}

TEST(BatchController, StoredPriorityAppliesToTheWorkers) {
  const int base = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  struct TCase {
    int stored;
    int nice;  // the worker's nice value relative to this thread's
    int policy;
  };
  const TCase cases[] = {
      {2, 5, SCHED_OTHER},  // lower
      {7, 0, SCHED_OTHER},  // not a priority: unchanged
      {0, 0, SCHED_IDLE},   // idle
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE("priority=" + std::to_string(c.stored));
    TBatchRig rig(batchtest::DefaultPara(), std::make_unique<TObservedEngine>());
    profiles::TSettings(rig.settingsFile).SetPriority(c.stored);
    ASSERT_EQ(rig.list->AddFiles({testsupport::Fixture("av.mp4")}), 1);
    ASSERT_TRUE(rig.RunBatch());
    EXPECT_EQ(Observed(rig).workerNice, std::min(base + c.nice, 19));
    EXPECT_EQ(Observed(rig).workerPolicy, c.policy);
  }
}

TEST(BatchController, StoppingOrClosingEndsTheBatchWithoutPostActions) {
  // The progress window's Cancel stops the batch; closing the main window stops it too and then
  // detaches the controller from the engine.
  for (const bool closing : {false, true}) {
    SCOPED_TRACE(closing ? "main window closed" : "cancelled");
    TBatchRig rig;
    ASSERT_EQ(
        rig.list->AddFiles({testsupport::Fixture("long.mp4"), testsupport::Fixture("tone.wav")}),
        2);
    // Hold the first file at its first report, a tenth of a second into the 20 s file.
    rig.engine->SetProgressInterval(100);
    bool reported = false;
    rig.view.onProgress = [&](const batch::TProgressValues&) {
      if (!reported) rig.controller->Pause();
      reported = true;
    };
    ASSERT_TRUE(rig.controller->Start());
    ASSERT_TRUE(platform::WaitServing([&] { return reported; }, std::chrono::seconds(60)));
    if (closing) {
      rig.controller->Close();
      EXPECT_FALSE(rig.engine->OnTerminate || rig.engine->OnProgress ||
                   rig.engine->OnCustomHook || rig.engine->OnPreviewBitmap);
      EXPECT_TRUE(rig.controller->TaskMap().empty());
    } else {
      rig.controller->Stop();
    }
    ASSERT_TRUE(platform::WaitServing([&] { return !rig.controller->Running(); },
                                      std::chrono::seconds(60)));

    EXPECT_EQ(rig.view.Sequence(),
              "buttons(off) show ended(0 stopped) ended(1 stopped) buttons(on) close");
    EXPECT_TRUE(rig.desktopCalls.empty());
    // The computer may sleep again once the batch has ended.
    EXPECT_EQ(rig.inhibitorCalls,
              (std::vector<std::string>{"acquire Converting video files", "release"}));
    EXPECT_NE(rig.list->Row(0).Progress, "100%");
    // The file stopped in the middle is finalised and playable; the second was never begun.
    EXPECT_EQ(rig.Outputs(), std::vector<std::string>{"long_(new).mp4"});
    const testsupport::FFprobe probe(rig.outDir + "/long_(new).mp4");
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    EXPECT_EQ(probe.StreamCount("video"), 1u);
    EXPECT_LT(probe.Duration(), 15.0);
  }
}

TEST(BatchController, RowsThatCannotBeConvertedAreMarkedAndTheOthersConvert) {
  struct TCase {
    const char* name;
    // Spoils the first row's source after it was added; false when this account cannot.
    bool (*spoil)(const std::string& source);
  };
  const TCase cases[] = {
      {"source deleted", [](const std::string& s) { return fs::remove(s); }},
      {"source overwritten with text",
       [](const std::string& s) {
         testsupport::WriteText(s, "no longer a video\n");
         return true;
       }},
      {"source no longer readable",
       [](const std::string& s) { return chmod(s.c_str(), 0) == 0 && geteuid() != 0; }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TBatchRig rig;
    const std::string spoiled = rig.CopyFixture("av.mp4", "in/first.mp4");
    ASSERT_EQ(rig.list->AddFiles({spoiled, testsupport::Fixture("tone.wav")}), 2);
    // An account that reads every file (root) cannot make the permission case.
    if (!c.spoil(spoiled)) continue;
    ASSERT_TRUE(rig.RunBatch());
    EXPECT_EQ(rig.view.outcomes[0], batch::TRowOutcome::Skipped);
    EXPECT_FALSE(rig.view.messages[0].empty());
    EXPECT_EQ(rig.list->Row(0).Progress, "Failed");
    EXPECT_EQ(rig.controller->TaskMap(), std::vector<int>{1});
    EXPECT_EQ(rig.view.outcomes[1], batch::TRowOutcome::Finished);
    EXPECT_EQ(rig.list->Row(1).Progress, "100%");
    // The remaining file is the batch's last: the post-actions still run.
    EXPECT_EQ(rig.desktopCalls.size(), 1u);
    EXPECT_EQ(rig.Outputs(), std::vector<std::string>{"tone_(new).mp4"});
  }
}

TEST(BatchController, ARowThatWouldConvertNothingFailsAndTheNextConverts) {
  // The first row's trim starts after its 2 s source ends: its output would hold nothing.
  TBatchRig rig;
  ASSERT_EQ(rig.list->AddFiles({testsupport::Fixture("av.mp4"), testsupport::Fixture("tone.wav")}),
            2);
  rig.list->Row(0).Record->TrimStart = 20'000'000;
  ASSERT_TRUE(rig.RunBatch());
  EXPECT_EQ(rig.view.outcomes[0], batch::TRowOutcome::Failed);
  EXPECT_EQ(rig.view.messages[0].rfind("nothing to convert: the start 00:00:20.000 lies past", 0),
            0u)
      << rig.view.messages[0];
  EXPECT_EQ(rig.list->Row(0).Progress, "Failed");
  EXPECT_EQ(rig.view.outcomes[1], batch::TRowOutcome::Finished);
  EXPECT_EQ(rig.Outputs(), std::vector<std::string>{"tone_(new).mp4"});

  // A video profile whose encoder was emptied by hand refuses a source with video at Start
  // instead of writing its sound alone.
  batchtest::Para noEncoder = batchtest::DefaultPara();
  noEncoder["paraVideoEncoder"] = "";
  TBatchRig emptied(noEncoder);
  testsupport::WriteText(emptied.formatFile,
                         "[formatInfo1]\nFormat=mp4\nFileExt=mp4\nVideoEncoder=mpeg-4\n");
  ASSERT_EQ(emptied.list->AddFiles({testsupport::Fixture("av.mp4")}), 1);
  ASSERT_TRUE(emptied.RunBatch());
  EXPECT_EQ(emptied.view.outcomes[0], batch::TRowOutcome::Skipped);
  EXPECT_NE(emptied.view.messages[0].find("its output would have no video"), std::string::npos)
      << emptied.view.messages[0];
  EXPECT_TRUE(emptied.Outputs().empty());
}

TEST(BatchController, OutputsGetTheirNamesOnlyWhenCompleteWhileTheComputerStaysAwake) {
  TBatchRig rig;
  ASSERT_EQ(rig.list->AddFiles({testsupport::Fixture("av.mp4"), testsupport::Fixture("tone.wav")}),
            2);
  // While a file converts, only its part file is there.
  int reports = 0, partOnly = 0;
  rig.view.onProgress = [&](const batch::TProgressValues& values) {
    const std::vector<int>& map = rig.controller->TaskMap();
    for (size_t k = 0; k < map.size(); ++k) {
      if (map[k] != values.Row) continue;
      const std::string output = rig.controller->TaskOutput(k);
      ++reports;
      partOnly += fs::exists(output + ".part") && !fs::exists(output);
    }
  };
  ASSERT_TRUE(rig.RunBatch());
  EXPECT_GT(reports, 0);
  EXPECT_EQ(partOnly, reports);
  EXPECT_EQ(rig.Outputs(), (std::vector<std::string>{"av_(new).mp4", "tone_(new).mp4"}));
  EXPECT_EQ(rig.list->Row(0).DestinationFile(), "av_(new).mp4");
  EXPECT_TRUE(rig.controller->Failures().empty());
  EXPECT_EQ(rig.inhibitorCalls,
            (std::vector<std::string>{"acquire Converting video files", "release"}));

  // Where no hold can be had, the log says so once, and batches still run.
  rig.inhibitor->refuse = true;
  std::vector<std::string> told;
  media::GetLogger().OnLog = [&](media::TFFBaseComponent*, uint32_t, media::TLogLevel,
                                 const std::string& text) {
    if (text.find("sleep") != std::string::npos) told.push_back(text);
  };
  for (int batch = 0; batch < 2; ++batch) ASSERT_TRUE(rig.RunBatch());
  media::GetLogger().OnLog = nullptr;
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0],
            "The computer may go to sleep during conversions: no login manager here");
  EXPECT_EQ(rig.Outputs().size(), 6u);
}

TEST(BatchController, AnOutputThatFallsShortFailsItsRowAndIsKept) {
  // The first source's header promises 10 s, its data ends near 5.6 s; the second has a sound
  // track without sound. Both convert what they hold, and neither is a success.
  TBatchRig rig;
  ASSERT_EQ(rig.list->AddFiles({testsupport::Fixture("faststart_cut.mp4"),
                                testsupport::Fixture("silent_track.mkv"),
                                testsupport::Fixture("av.mp4")}),
            3);
  ASSERT_TRUE(rig.RunBatch());
  const std::string cut = rig.outDir + "/faststart_cut_(new).mp4";
  const std::string silent = rig.outDir + "/silent_track_(new).mp4";
  EXPECT_EQ(rig.view.outcomes[0], batch::TRowOutcome::Failed);
  EXPECT_EQ(rig.view.messages[0], "output check: video lasts 5.6 s of 10.0 s; the output is kept as " + cut);
  EXPECT_EQ(rig.view.outcomes[1], batch::TRowOutcome::Failed);
  EXPECT_EQ(rig.view.messages[1],
            "output check: audio stream missing; the output is kept as " + silent);
  EXPECT_EQ(rig.list->Row(0).Progress, "Failed");
  EXPECT_EQ(rig.view.outcomes[2], batch::TRowOutcome::Finished);
  EXPECT_TRUE(testsupport::FFprobe(cut).Ok());
  EXPECT_TRUE(testsupport::FFprobe(silent).Ok());
  ASSERT_EQ(rig.controller->Failures().size(), 2u);
  EXPECT_EQ(rig.controller->Failures()[1].Row, 1);
  EXPECT_EQ(rig.controller->Failures()[1].File, testsupport::Fixture("silent_track.mkv"));
  EXPECT_EQ(rig.controller->Failures()[1].Reason, rig.view.messages[1]);
  // The last file converted: the post-actions run as after any batch.
  EXPECT_EQ(rig.desktopCalls.size(), 1u);
}

TEST(BatchController, AWriteThatFailsLeavesNoFileBehind) {
  // A file size limit cuts the first output short in the middle of its conversion.
  TBatchRig rig;
  ASSERT_EQ(rig.list->AddFiles({testsupport::Fixture("long.mp4"), testsupport::Fixture("tone.wav")}),
            2);
  testsupport::FileSizeLimit limit(300'000);
  ASSERT_TRUE(limit.Set());
  ASSERT_TRUE(rig.RunBatch());
  EXPECT_EQ(rig.view.outcomes[0], batch::TRowOutcome::Failed);
  EXPECT_NE(rig.view.messages[0].find("File too large"), std::string::npos)
      << rig.view.messages[0];
  EXPECT_EQ(rig.view.outcomes[1], batch::TRowOutcome::Finished);
  EXPECT_EQ(rig.Outputs(), std::vector<std::string>{"tone_(new).mp4"});
}

TEST(BatchController, ASourceThatShrinksOrVanishesWhileReadEndsItsRowAndTheNextConverts) {
  // The first row's source is spoiled while the engine is held at its first progress report,
  // early in the 20 s clip, so the part cut off has not been read yet.
  struct TCase {
    const char* name;
    const char* container;  // the 20 s clip as it is (mp4, its index read first) or as a stream
    void (*spoil)(const std::string& source);
    uintmax_t left;  // the source's bytes afterwards, in 1/1000 of its size
    bool fails;      // the row fails (the data was lost), or converts from the file it has open
  };
  const TCase cases[] = {
      {"cut to half", "mp4",
       [](const std::string& s) { ASSERT_EQ(truncate(s.c_str(), fs::file_size(s) / 2), 0); },
       500, true},
      {"stream cut to half", "ts",
       [](const std::string& s) { ASSERT_EQ(truncate(s.c_str(), fs::file_size(s) / 2), 0); },
       500, true},
      {"emptied", "mp4", [](const std::string& s) { ASSERT_EQ(truncate(s.c_str(), 0), 0); }, 0,
       true},
      // A removed or replaced file stays readable through the descriptor the engine holds.
      {"deleted", "mp4", [](const std::string& s) { ASSERT_TRUE(fs::remove(s)); }, 0, false},
      {"replaced", "mp4",
       [](const std::string& s) {
         testsupport::WriteText(s + ".new", "no longer a video\n");
         fs::rename(s + ".new", s);
       },
       0, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TBatchRig rig;
    std::string source = rig.CopyFixture("long.mp4", "in/long.mp4");
    if (c.container != std::string("mp4")) {
      const std::string remuxed = rig.dir.File(std::string("in/long.") + c.container);
      // The picture size travels in the stream itself, as a stream has no header to hold it.
      ASSERT_EQ(testsupport::RunTool({"ffmpeg", "-v", "error", "-i", source, "-c", "copy",
                                      "-bsf:v", "dump_extra", remuxed}),
                0);
      fs::remove(source);
      source = remuxed;
    }
    const uintmax_t size = fs::file_size(source);
    ASSERT_EQ(rig.list->AddFiles({source, testsupport::Fixture("av.mp4")}), 2);
    rig.engine->SetProgressInterval(100);  // the first report comes early in the clip
    int64_t spoiledAt = -1;
    rig.view.onProgress = [&](const batch::TProgressValues& values) {
      if (values.Row != 0 || spoiledAt >= 0) return;
      rig.controller->Pause();
      spoiledAt = values.Info.CurrentDuration;
      c.spoil(source);
      rig.controller->Resume();
    };
    ASSERT_TRUE(rig.RunBatch());
    ASSERT_GE(spoiledAt, 0) << batchtest::OutcomeName(rig.view.outcomes[0]) << ": "
                            << rig.view.messages[0];
    ASSERT_LT(spoiledAt, 8'000'000) << "the engine read past the cut before it was made";
    const std::string first = rig.outDir + "/long_(new).mp4";
    const testsupport::FFprobe probe(first);
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    if (c.fails) {
      // What was converted is kept, and the row says why it falls short.
      EXPECT_EQ(rig.view.outcomes[0], batch::TRowOutcome::Failed);
      EXPECT_EQ(rig.list->Row(0).Progress, "Failed");
      const std::string& message = rig.view.messages[0];
      // A stream tells no length of its own to check the output against: the cut is the cause.
      EXPECT_EQ(message.rfind("the source shrank from " + std::to_string(size) + " to " +
                                  std::to_string(size * c.left / 1000) +
                                  " bytes during the conversion; " +
                                  (c.container == std::string("mp4")
                                       ? "output check: video lasts "
                                       : "the output is kept as "),
                              0),
                0u)
          << message;
      EXPECT_TRUE(message.ends_with("; the output is kept as " + first)) << message;
      EXPECT_LT(probe.Duration(), 15.0);
    } else {
      EXPECT_EQ(rig.view.outcomes[0], batch::TRowOutcome::Finished) << rig.view.messages[0];
      EXPECT_NEAR(probe.Duration(), 20.0, 0.2);
    }
    // The next file converts whole.
    EXPECT_EQ(rig.view.outcomes[1], batch::TRowOutcome::Finished) << rig.view.messages[1];
    const testsupport::FFprobe next(rig.outDir + "/av_(new).mp4");
    ASSERT_TRUE(next.Ok()) << next.Errors();
    EXPECT_EQ(next.StreamCount("video"), 1u);
    EXPECT_EQ(next.StreamCount("audio"), 1u);
    EXPECT_NEAR(next.Duration(), 2.0, 0.1);
  }
}

TEST(BatchController, ABatchOfHundredsOfFilesRunsUnderALowOpenFileLimit) {
  // 200 short clips with at most 64 files open at once: the list and the batch hold only the
  // files of what they are working on.
  constexpr int kFiles = 200;
  TBatchRig rig;
  std::vector<std::string> sources;
  for (int i = 0; i < kFiles; ++i)
    sources.push_back(rig.CopyFixture("stripes.mkv", "in/clip" + std::to_string(i) + ".mkv"));
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  const int added = rig.list->AddFiles(sources);
  const bool ran = added == kFiles && rig.RunBatch(2);
  setrlimit(RLIMIT_NOFILE, &saved);
  ASSERT_EQ(added, kFiles);
  ASSERT_TRUE(ran);
  EXPECT_TRUE(rig.controller->Failures().empty())
      << rig.controller->Failures().front().File << ": " << rig.controller->Failures().front().Reason;
  EXPECT_EQ(rig.Outputs().size(), static_cast<size_t>(kFiles));
  EXPECT_TRUE(testsupport::FFprobe(rig.outDir + "/clip199_(new).mp4").Ok());
}

TEST(BatchController, AnOutputFolderThatCannotBeWrittenFailsEachRowClearly) {
  TBatchRig rig;
  ASSERT_EQ(rig.list->AddFiles({testsupport::Fixture("av.mp4"), testsupport::Fixture("tone.wav")}),
            2);
  // A folder nobody may create files in: read-only for an ordinary account; for one that may
  // write everywhere, a kernel folder that takes no files.
  std::string folder = rig.outDir;
  if (geteuid() == 0) {
    folder = "/proc/self/fdinfo";
  } else {
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
  }
  profiles::TSettings(rig.settingsFile).SetOutPutDir(folder);
  ASSERT_TRUE(rig.RunBatch());
  for (int row = 0; row < 2; ++row) {
    SCOPED_TRACE(row);
    // The engine refuses the output when the task is set up; the message names the file.
    EXPECT_EQ(rig.view.outcomes[row], batch::TRowOutcome::Skipped);
    EXPECT_NE(rig.view.messages[row].find(folder + "/" + (row ? "tone" : "av") + "_(new).mp4"),
              std::string::npos)
        << rig.view.messages[row];
    EXPECT_EQ(rig.list->Row(row).Progress, "Failed");
  }
  EXPECT_TRUE(rig.desktopCalls.empty());
  EXPECT_FALSE(rig.view.buttonsEnabled == false);
  if (geteuid() != 0) {
    EXPECT_TRUE(rig.Outputs().empty());
    fs::permissions(folder, fs::perms::owner_all);
  }
}

}  // namespace

TEST(BatchController, ASourceReplacedAfterItWasAddedIsConvertedAsItIsNow) {
  // The facts probed when the row was added describe a video; the file at that path is then
  // replaced by a sound file. Start must see the sound file, not the video it remembers.
  TBatchRig rig;
  const std::string source = rig.CopyFixture("av.mp4", "in/clip.mp4");
  ASSERT_EQ(rig.list->AddFiles({source}), 1);
  const std::string replacement = rig.CopyFixture("tone.wav", "in/replacement.tmp");
  fs::rename(replacement, source);
  ASSERT_TRUE(rig.RunBatch());
  EXPECT_EQ(rig.view.outcomes[0], batch::TRowOutcome::Finished) << rig.view.messages[0];
  ASSERT_EQ(rig.Outputs(), std::vector<std::string>{"clip_(new).mp4"});
  testsupport::FFprobe probe(rig.outDir + "/clip_(new).mp4");
  ASSERT_TRUE(probe.Ok()) << probe.Errors();
  EXPECT_EQ(probe.StreamCount("video"), 0u);
  EXPECT_EQ(probe.StreamCount("audio"), 1u);
}
