#include "engine/zuzezaviv.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/customffmpeg.h"
#include "engine/recordoptions.h"
#include "platform/event.h"
#include "platform/mainthread.h"
#include "tests/support/ffprobe.h"
#include "tests/support/testdirs.h"

using namespace engine;
using namespace std::chrono_literals;
using testsupport::Fixture;

namespace {

// Long enough for any run here to end; only reached when something hangs.
constexpr auto kPatience = 60s;

std::vector<std::string> Texts(const std::vector<TOptionStep>& steps) {
  std::vector<std::string> texts;
  for (const TOptionStep& step : steps) texts.push_back(step.Name + "=" + step.Value);
  return texts;
}

// Worker threads of this process, found by their name.
int WorkerCount() {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    std::string name;
    std::getline(std::ifstream(entry.path() / "comm"), name);
    count += name == TCustomFFmpeg::kWorkerThreadName;
  }
  return count;
}

// What the component's events delivered, from whichever thread delivered it.
struct Events {
  mutable std::mutex lock;
  std::condition_variable changed;
  std::vector<TTerminateInfo> terminates;
  std::vector<TProgressInfo> progress;
  std::vector<std::thread::id> terminateThreads;

  void Attach(TZUzezaVIV& c) {
    c.OnTerminate = [this](media::TFFBaseComponent*, const TTerminateInfo& info) {
      std::lock_guard l(lock);
      terminates.push_back(info);
      terminateThreads.push_back(std::this_thread::get_id());
      changed.notify_all();
    };
    c.OnProgress = [this](media::TFFBaseComponent*, TProgressInfo* info) {
      std::lock_guard l(lock);
      progress.push_back(*info);
      changed.notify_all();
    };
  }
  bool FinalSeen() const {
    std::lock_guard l(lock);
    return !terminates.empty() && terminates.back().TaskIndex == -1;
  }
  // Waits (without serving the hand-off) for the final notice.
  bool WaitFinal() {
    std::unique_lock l(lock);
    return changed.wait_for(l, kPatience,
                            [&] { return !terminates.empty() && terminates.back().TaskIndex == -1; });
  }
  std::vector<TTerminateInfo> Terminates() const {
    std::lock_guard l(lock);
    return terminates;
  }
};

::testing::AssertionResult Is(const TTerminateInfo& info, int index, bool finished, bool failed,
                              const std::string& message = "") {
  if (info.TaskIndex == index && info.Finished == finished && info.Failed == failed &&
      info.ErrorMessage == message)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "notice {" << info.TaskIndex << ", finished " << info.Finished << ", failed "
         << info.Failed << ", \"" << info.ErrorMessage << "\"} expected {" << index << ", finished "
         << finished << ", failed " << failed << ", \"" << message << "\"}";
}

// Set once a worker has queued a call for the user-interface thread (and is waiting for it).
struct HandOffSeen {
  HandOffSeen() { platform::SetWakeMainThread([this] { queued.Set(); }); }
  ~HandOffSeen() { platform::SetWakeMainThread(nullptr); }
  platform::TEvent queued;
};

class Component : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(c.LoadAVLib("")) << c.LastErrMsg; }
  // A task reading input into its own output file (the output format's default streams).
  int AddJob(const std::string& input = Fixture("av.mp4"), const TOutputOptions* options = nullptr) {
    const int index = c.AddTask(input);
    EXPECT_GE(index, 0) << c.LastErrMsg;
    EXPECT_TRUE(c.SetOutputFile(index, dir.File("out" + std::to_string(index) + ".mp4"), options))
        << c.LastErrMsg;
    return index;
  }
  testsupport::TempDir dir;
  Events events;
  TZUzezaVIV c;
};

}  // namespace

// ---- Records to options ----------------------------------------------------------------------

TEST(RecordOptions, ExtOptionsSplitting) {
  const struct {
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"vcodec=libx264<CRLF>B=64000", {"vcodec=libx264", "b=64000"}},
      {"  a=1\r\nb=2\rc=3\nd \t", {"a=1", "b=2", "c=3", "d="}},
      // Values keep their spaces and later "="; an empty line stays a line.
      {"X= spaced value <CRLF><CRLF>y=a=b", {"x= spaced value ", "=", "y=a=b"}},
      {"a=1<CRLF>", {"a=1"}},
      {"", {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> lines;
    for (const TOptionLine& line : SplitExtOptions(c.text)) lines.push_back(line.Name + "=" + line.Value);
    EXPECT_EQ(lines, c.lines) << c.text;
  }
}

TEST(RecordOptions, InputModeSkipsOutputOnlyLines) {
  TInputOptions o;
  o.ExtOptions = "vcodec=h264\nnewvideo=\nvpre=fast\nvf=hflip\nvfilters=vflip\nprobesize=5000000";
  o.FileFormat = "mp4";
  o.StartTime = 1500000;
  o.ProgramID = 0;
  EXPECT_EQ(Texts(InputOptionSteps(o)),
            (std::vector<std::string>{"vcodec=h264", "probesize=5000000", "f=mp4", "ss=1500000",
                                      "programid=0"}));
  EXPECT_EQ(Texts(InputOptionSteps(TInputOptions())), std::vector<std::string>{});
}

TEST(RecordOptions, OutputSequence) {
  // Target first; then codecs and presets (record fields, else ExtOptions lines); ExtOptions in
  // output mode without the per-stream lines; typed fields, which override ExtOptions; frame size
  // and filters last.
  TOutputOptions o;
  o.TargetType = 3;
  o.TargetNorm = 1;
  o.AudioCodec = "ac3";
  o.VideoPreset = "libx264-main";
  o.VideoBitrate = 900000;
  o.ExtOptions = "acodec=mp2\nvcodec=libx264\nb=800000\ns=320x240\nvfilters=hflip\nscodec=";
  EXPECT_EQ(Texts(OutputOptionSteps(o).BeforeAdd),
            (std::vector<std::string>{"target=dvd,pal,pal", "acodec=ac3", "vcodec=libx264",
                                      "vpre=libx264-main", "b=800000", "alang=", "async=0",
                                      "vb=900000", "vsync=-1", "vlang=", "slang=", "isync=0",
                                      "s=320x240", "vf=hflip"}));
  EXPECT_TRUE(OutputOptionSteps(o).NewStreams.empty());
}

TEST(RecordOptions, NewStreamLinesTakeTheirKindsSettings) {
  const struct {
    std::string videoCodec;
    std::string ext;
    std::string mainCodec;
    std::vector<std::string> newStreams;
  } cases[] = {
      // The first vcodec line is both the output's default and the first new stream's codec.
      {"", "vcodec=libx264\nnewvideo=\nvcodec=mpeg4", "vcodec=libx264",
       {"vcodec=libx264", "newvideo="}},
      {"", "vcodec=libx264\nnewvideo=\nvcodec=mpeg4\nnewvideo=",
       "vcodec=libx264",
       {"vcodec=libx264", "newvideo=", "vcodec=mpeg4", "newvideo="}},
      // A record field is the default; lines still go to the new streams in order.
      {"mpeg2video", "newvideo=\nvcodec=mpeg4\ns=640x480\nvpre=x", "vcodec=mpeg2video",
       {"vcodec=mpeg4", "vpre=x", "s=640x480", "newvideo="}},
      // Without lines the default is used again.
      {"mpeg2video", "newvideo=", "vcodec=mpeg2video", {"vcodec=mpeg2video", "newvideo="}},
      {"", "acodec=mp2\nnewaudio=\nnewsubtitle=", "",
       {"acodec=mp2", "newaudio=", "newsubtitle="}},
  };
  for (const auto& c : cases) {
    TOutputOptions o;
    o.VideoCodec = c.videoCodec;
    o.ExtOptions = c.ext;
    const TOutputOptionSteps steps = OutputOptionSteps(o);
    std::vector<std::string> codecs;
    for (const std::string& text : Texts(steps.BeforeAdd))
      if (text.rfind("vcodec=", 0) == 0) codecs.push_back(text);
    EXPECT_EQ(codecs, c.mainCodec.empty() ? std::vector<std::string>{}
                                          : std::vector<std::string>{c.mainCodec})
        << c.ext;
    EXPECT_EQ(Texts(steps.NewStreams), c.newStreams) << c.ext;
  }
}

// ---- Properties ------------------------------------------------------------------------------

TEST(ComponentProperties, ProgressIntervalHasAFloorOf100ms) {
  TZUzezaVIV c;
  EXPECT_EQ(c.ProgressInterval(), 500);
  for (const auto& [set, read] : {std::pair{50, 100}, {100, 100}, {101, 101}}) {
    c.SetProgressInterval(set);
    EXPECT_EQ(c.ProgressInterval(), read) << set;
  }
  EXPECT_EQ(c.Version(), "3.3");
}

TEST(ComponentProperties, AddTaskBeforeTheLibrariesAreLoadedFails) {
  TZUzezaVIV c;
  EXPECT_EQ(c.AddTask(Fixture("av.mp4")), -1);
  EXPECT_NE(c.LastErrMsg.find("LoadAVLib"), std::string::npos) << c.LastErrMsg;
  EXPECT_EQ(c.TaskCount(), 0);
}

// ---- Set-up ----------------------------------------------------------------------------------

TEST_F(Component, BadInputsFailAndLeaveTheComponentUsable) {
  const std::string empty = dir.File("empty.mp4"), locked = dir.File("locked.mp4");
  std::ofstream(empty).close();
  std::filesystem::copy_file(Fixture("av.mp4"), locked);
  ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);  // others may reach the files
  const struct {
    std::string file;
    std::string reason;
  } cases[] = {
      {Fixture("truncated.mp4"), "Invalid data found when processing input"},
      {Fixture("notmedia.avi"), "Invalid data found when processing input"},
      {empty, "Invalid data found when processing input"},
      {dir.File("missing.mp4"), "No such file or directory"},
      {dir.Path(), "Is a directory"},
      {locked, "Permission denied"},
  };
  for (const auto& tc : cases) {
    std::string message;
    if (tc.file == locked && ::geteuid() == 0) {
      // The owner of every right reads anything: ask as an unprivileged user, in a child.
      int out[2];
      ASSERT_EQ(::pipe(out), 0);
      const pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        ::close(out[0]);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        TZUzezaVIV other;
        const std::string text = other.AddTask(locked) == -1 ? other.LastErrMsg : "opened";
        const ssize_t written = ::write(out[1], text.data(), text.size());
        ::_exit(written == static_cast<ssize_t>(text.size()) ? 0 : 3);
      }
      ::close(out[1]);
      char buffer[512];
      for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) message.append(buffer, n);
      ::close(out[0]);
      int status = 0;
      ::waitpid(child, &status, 0);
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    } else {
      EXPECT_EQ(c.AddTask(tc.file), -1) << tc.file;
      message = c.LastErrMsg;
    }
    EXPECT_EQ(message, tc.file + ": " + tc.reason);
    EXPECT_EQ(c.TaskCount(), 0);
  }
  EXPECT_EQ(c.AddTask(Fixture("av.mp4")), 0) << c.LastErrMsg;
  EXPECT_EQ(c.InputProbe(0, 0)->StreamCount(), 2);
}

TEST_F(Component, RecordsReachTheTask) {
  // A failing option of a record fails the call with the option's text; the task goes on
  // accepting outputs.
  TInputOptions in;
  in.FileFormat = "nosuchformat";
  EXPECT_EQ(c.AddTask(Fixture("av.mp4"), &in), -1);
  EXPECT_EQ(c.LastErrMsg, "Unknown input format: \"nosuchformat\"");

  const int task = c.AddTask(Fixture("av.mp4"));
  ASSERT_EQ(task, 0) << c.LastErrMsg;
  const struct {
    std::function<void(TOutputOptions&)> fill;
    std::string message;
  } cases[] = {
      {[](TOutputOptions& o) { o.ExtOptions = "aspect=16:0"; }, "Incorrect aspect ratio specification."},
      {[](TOutputOptions& o) { o.ExtOptions = "a=1<CRLF>padtop=8"; }, "Please use vfilters=pad"},
      {[](TOutputOptions& o) { o.FrameRate = "fast"; }, "Incorrect frame rate"},
      {[](TOutputOptions& o) { o.FrameSize = "huge"; }, "Incorrect frame size"},
      // The ExtOptions line is the output's default codec. (The refused name stays in the
      // task's option state, so the next output names its codec.)
      {[](TOutputOptions& o) { o.ExtOptions = "vcodec=nosuchcodec"; },
       "new_video_stream fail: Unknown encoder 'nosuchcodec'"},
  };
  for (const auto& tc : cases) {
    TOutputOptions o;
    tc.fill(o);
    EXPECT_FALSE(c.SetOutputFile(task, dir.File("bad.mp4"), &o));
    EXPECT_EQ(c.LastErrMsg, tc.message);
  }
  TOutputOptions good;
  good.VideoCodec = "mpeg4";
  good.ExtOptions = "b=800000<CRLF>newaudio=";
  EXPECT_TRUE(c.SetOutputFile(task, dir.File("good.mp4"), &good)) << c.LastErrMsg;
  EXPECT_FALSE(c.SetOutputFile(7, dir.File("none.mp4")));
}

TEST_F(Component, AnInputOpenedWithoutVideoIsNotDecodedToProbeIt) {
  // With "vn" the source's pictures are left out from the start: the probe finds the video
  // stream but never decodes it, so its picture format stays unknown; the audio converts whole.
  TInputOptions withoutVideo;
  withoutVideo.ExtOptions = "vn=1";
  ASSERT_EQ(c.AddTask(Fixture("av.mp4"), &withoutVideo), 0) << c.LastErrMsg;
  ASSERT_EQ(c.AddTask(Fixture("av.mp4")), 1) << c.LastErrMsg;
  media::TVideoStreamInfo skipped, probed;
  c.InputProbe(0, 0)->GetVideoStreamInfo(-1, skipped);
  c.InputProbe(1, 0)->GetVideoStreamInfo(-1, probed);
  EXPECT_EQ(skipped.PixelFormat, AV_PIX_FMT_NONE);
  EXPECT_EQ(probed.PixelFormat, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(skipped.Width, probed.Width);

  TOutputOptions mp3;
  InitOutputOptions(mp3);
  mp3.DisableVideo = true;
  ASSERT_TRUE(c.SetOutputFile(0, dir.File("out.mp3"), &mp3)) << c.LastErrMsg;
  c.RemoveTask(1);
  c.StartTask(0);
  const testsupport::FFprobe probe(dir.File("out.mp3"));
  ASSERT_TRUE(probe.Ok()) << probe.Errors();
  EXPECT_EQ(probe.StreamCount("video"), 0u);
  EXPECT_EQ(probe.StreamCount("audio"), 1u);
  EXPECT_NEAR(probe.Duration(), testsupport::FFprobe(Fixture("av.mp4")).Duration(), 0.1);
}

TEST_F(Component, TwentyOutputsPerTask) {
  const int task = c.AddTask(Fixture("av.mp4"));
  ASSERT_EQ(task, 0) << c.LastErrMsg;
  for (int i = 0; i < 20; ++i)
    ASSERT_TRUE(c.SetOutputFile(task, dir.File("out" + std::to_string(i) + ".mp4"))) << c.LastErrMsg;
  EXPECT_FALSE(c.SetOutputFile(task, dir.File("out20.mp4")));
  EXPECT_EQ(c.LastErrMsg, "max output files 20 reached");
}

// ---- Runs ------------------------------------------------------------------------------------

TEST_F(Component, SequentialRunEndsInsideStartTask) {
  for (int i = 0; i < 3; ++i) AddJob();
  events.Attach(c);
  c.StartTask(0);
  const std::vector<TTerminateInfo> t = events.Terminates();
  ASSERT_EQ(t.size(), 4u);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(Is(t[i], i, true, false));
  EXPECT_TRUE(Is(t[3], -1, true, false));
  for (std::thread::id id : events.terminateThreads) EXPECT_EQ(id, std::this_thread::get_id());
  // Every task read its whole input: its last report reaches the end of the 2 s clip.
  std::vector<int> lastReports;
  for (const TProgressInfo& p : events.progress) {
    if (p.FileIndex != -1) continue;
    lastReports.push_back(p.TaskIndex);
    EXPECT_GT(p.CurrentDuration, 1800000);
    EXPECT_NEAR(p.TotalDuration, 2000000, 100000);
    EXPECT_EQ(p.FrameNumber, 50);  // every frame of the clip was encoded
    EXPECT_GT(p.CurrentSize, 0);
  }
  EXPECT_EQ(lastReports, (std::vector<int>{0, 1, 2}));
}

TEST_F(Component, SequentialRunGoesOnPastAThrowingTerminateHandler) {
  for (int i = 0; i < 2; ++i) AddJob();
  events.Attach(c);
  const TTerminateEvent record = c.OnTerminate;
  c.OnTerminate = [&](media::TFFBaseComponent* sender, const TTerminateInfo& info) {
    record(sender, info);
    if (info.TaskIndex == 0) throw std::runtime_error("handler failed");
  };
  c.StartTask(0);
  const std::vector<TTerminateInfo> t = events.Terminates();
  ASSERT_EQ(t.size(), 3u);
  EXPECT_TRUE(Is(t[1], 1, true, false));
  EXPECT_TRUE(Is(t[2], -1, true, false));
}

TEST_F(Component, ThreadedRunDropsTerminateHandlerExceptions) {
  for (int i = 0; i < 2; ++i) AddJob();
  events.Attach(c);
  const TTerminateEvent record = c.OnTerminate;
  c.OnTerminate = [&](media::TFFBaseComponent* sender, const TTerminateInfo& info) {
    record(sender, info);
    throw std::runtime_error("handler failed");
  };
  c.StartTask(1);
  ASSERT_TRUE(events.WaitFinal());
  const std::vector<TTerminateInfo> t = events.Terminates();
  ASSERT_EQ(t.size(), 3u);
  EXPECT_TRUE(Is(t[0], 0, true, false));
  EXPECT_TRUE(Is(t[1], 1, true, false));
  EXPECT_NE(events.terminateThreads[0], std::this_thread::get_id());
  c.ClearTasks();
  EXPECT_EQ(c.TaskCount(), 0);
}

TEST_F(Component, TwoOfFiveRunAtOnce) {
  // Workers wait in their progress hand-off until this (user-interface) thread serves them, so
  // while it does not, every started task stays alive: exactly two workers must exist.
  platform::SetMainThread();
  HandOffSeen handOff;
  // Codecs without threads of their own: their threads would carry the worker's name.
  TOutputOptions singleThreaded;
  InitOutputOptions(singleThreaded);
  singleThreaded.ExtOptions = "threads=1";
  for (int i = 0; i < 5; ++i) AddJob(Fixture("av.mp4"), &singleThreaded);
  events.Attach(c);
  c.StartTask(2);
  ASSERT_TRUE(handOff.queued.Wait(kPatience));
  EXPECT_EQ(WorkerCount(), 2);
  ASSERT_TRUE(platform::WaitServing([&] { return events.FinalSeen(); }, kPatience));
  const std::vector<TTerminateInfo> t = events.Terminates();
  ASSERT_EQ(t.size(), 6u);
  std::vector<bool> seen(5, false);
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(t[i].TaskIndex >= 0 && t[i].TaskIndex < 5 && !seen[t[i].TaskIndex]) << t[i].TaskIndex;
    seen[t[i].TaskIndex] = true;
    EXPECT_TRUE(Is(t[i], t[i].TaskIndex, true, false));
  }
  EXPECT_TRUE(Is(t[5], -1, true, false));
}

TEST_F(Component, StopWithWaitFromTheUserInterfaceThreadWhileAWorkerWaitsInAHandOff) {
  platform::SetMainThread();
  HandOffSeen handOff;
  for (int i = 0; i < 3; ++i) AddJob();
  events.Attach(c);
  c.StartTask(1);
  ASSERT_TRUE(handOff.queued.Wait(kPatience));  // task 0 waits for this thread to run its report
  try {
    c.ClearTasks();
    ADD_FAILURE() << "ClearTasks during a run";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Cannot ClearTasks while working.");
  }
  EXPECT_TRUE(events.progress.empty());
  c.StopTask(true);  // must serve that report to let task 0 end
  EXPECT_FALSE(events.progress.empty());
  ASSERT_TRUE(events.WaitFinal());
  const std::vector<TTerminateInfo> t = events.Terminates();
  ASSERT_EQ(t.size(), 4u);
  EXPECT_TRUE(Is(t[0], 0, false, false));
  EXPECT_TRUE(Is(t[1], 1, false, false));
  EXPECT_TRUE(Is(t[2], 2, false, false));
  EXPECT_TRUE(Is(t[3], -1, true, false));
  c.ClearTasks();
}

TEST_F(Component, PausedWorkerHoldsUntilResumedOrStopped) {
  // The report handler runs on the worker and holds it; the task is paused before it is let go,
  // so the worker stops at its next safe point, before its run can end.
  for (const bool resume : {true, false}) {
    SCOPED_TRACE(resume ? "resume" : "stop");
    TZUzezaVIV comp;
    comp.SetTriggerEventInMainThread(false);
    ASSERT_EQ(comp.AddTask(Fixture("av.mp4")), 0) << comp.LastErrMsg;
    ASSERT_TRUE(comp.SetOutputFile(0, dir.File(resume ? "r.mp4" : "s.mp4"))) << comp.LastErrMsg;
    Events ev;
    ev.Attach(comp);
    platform::TEvent entered, release;
    comp.OnProgress = [&](media::TFFBaseComponent*, TProgressInfo*) {
      if (entered.IsSet()) return;
      entered.Set();
      release.Wait(kPatience);
    };
    comp.StartTask(1);
    ASSERT_TRUE(entered.Wait(kPatience));
    comp.PauseTask();
    release.Set();
    if (resume)
      comp.ResumeTask();
    else
      comp.StopTask(true);
    ASSERT_TRUE(ev.WaitFinal());
    const std::vector<TTerminateInfo> t = ev.Terminates();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_TRUE(Is(t[0], 0, resume, false));
  }
}

TEST_F(Component, StartWithoutOutputFails) {
  for (const int maxRunning : {0, 1}) {
    SCOPED_TRACE(maxRunning);
    TZUzezaVIV comp;
    Events ev;
    ev.Attach(comp);
    ASSERT_EQ(comp.AddTask(Fixture("av.mp4")), 0) << comp.LastErrMsg;
    comp.StartTask(maxRunning);
    ASSERT_TRUE(ev.WaitFinal());
    const std::vector<TTerminateInfo> t = ev.Terminates();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_TRUE(Is(t[0], 0, false, true, "At least one output file must be specified"));
    EXPECT_TRUE(Is(t[1], -1, true, false));
  }
}

TEST_F(Component, EmptyListEndsAtOnce) {
  for (const int maxRunning : {0, 1}) {
    SCOPED_TRACE(maxRunning);
    TZUzezaVIV comp;
    Events ev;
    ev.Attach(comp);
    comp.StartTask(maxRunning);
    if (maxRunning <= 0) {
      EXPECT_TRUE(ev.FinalSeen());  // before StartTask returned
    }
    ASSERT_TRUE(ev.WaitFinal());
    ASSERT_EQ(ev.Terminates().size(), 1u);
    EXPECT_THROW(comp.AddTask(Fixture("av.mp4")), std::runtime_error);
    comp.ClearTasks();
    EXPECT_EQ(comp.AddTask(Fixture("av.mp4")), 0) << comp.LastErrMsg;
  }
}

TEST_F(Component, OperationsAreRefusedAfterARunUntilClearTasks) {
  AddJob();
  c.StartTask(0);
  const std::pair<std::string, std::function<void()>> operations[] = {
      {"AddTask", [&] { c.AddTask(Fixture("av.mp4")); }},
      {"SetOutputFile", [&] { c.SetOutputFile(0, dir.File("again.mp4")); }},
      {"RemoveTask", [&] { c.RemoveTask(0); }},
      {"StartTask", [&] { c.StartTask(0); }},
  };
  for (const auto& [name, call] : operations) {
    try {
      call();
      ADD_FAILURE() << name << " was not refused";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(e.what(), "Cannot " + name + " while working.");
    }
  }
  EXPECT_EQ(c.TaskCount(), 1);
  c.ClearTasks();
  EXPECT_EQ(c.TaskCount(), 0);
  EXPECT_EQ(c.AddTask(Fixture("av.mp4")), 0) << c.LastErrMsg;
}

TEST_F(Component, RemoveTaskMovesLaterTasksDown) {
  AddJob(Fixture("av.mp4"));
  AddJob(Fixture("tone.wav"));
  AddJob(Fixture("audio.mp3"));
  c.RemoveTask(0);
  ASSERT_EQ(c.TaskCount(), 2);
  EXPECT_EQ(c.InputProbe(0, 0)->FileName(), Fixture("tone.wav"));
  EXPECT_EQ(c.InputProbe(0, 1), nullptr);
  EXPECT_EQ(c.InputProbe(2, 0), nullptr);
  events.Attach(c);
  c.StartTask(0);
  // Each task's last report names it by its new index: the 1 s tone is task 0.
  std::vector<std::pair<int, int64_t>> last;
  for (const TProgressInfo& p : events.progress)
    if (p.FileIndex == -1) last.emplace_back(p.TaskIndex, p.TotalDuration / 100000);
  EXPECT_EQ(last, (std::vector<std::pair<int, int64_t>>{{0, 10}, {1, 20}}));
  const std::vector<TTerminateInfo> t = events.Terminates();
  ASSERT_EQ(t.size(), 3u);
  EXPECT_TRUE(Is(t[0], 0, true, false));
  EXPECT_TRUE(Is(t[1], 1, true, false));
}

// ---- Long lists ------------------------------------------------------------------------------

namespace {

int OpenDescriptors() {
  return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                        std::filesystem::directory_iterator()));
}

}  // namespace

TEST_F(Component, WaitingTasksHoldNoFilesAndStillAnswerAndRun) {
  // Forty tasks, each a source of its own: what the list holds open does not grow with it.
  constexpr int kTasks = 40;
  const int before = OpenDescriptors();
  std::vector<std::string> sources;
  for (int i = 0; i < kTasks; ++i) {
    sources.push_back(dir.File("in" + std::to_string(i) + ".mkv"));
    std::filesystem::copy_file(Fixture("stripes.mkv"), sources.back());
    const int index = c.AddTask(sources.back());
    ASSERT_EQ(index, i) << c.LastErrMsg;
    ASSERT_TRUE(c.SetOutputFile(index, dir.File("out" + std::to_string(i) + ".mkv"), nullptr))
        << c.LastErrMsg;
  }
  EXPECT_LT(OpenDescriptors() - before, 20);

  // A waiting task's probe tells the same facts as an open one's.
  media::TAVProbe* first = c.InputProbe(0, 0);
  media::TAVProbe* waiting = c.InputProbe(20, 0);
  ASSERT_TRUE(first && waiting);
  media::TFileStreamInfo a, b;
  first->GetFileStreamInfo(a);
  waiting->GetFileStreamInfo(b);
  EXPECT_EQ(b.Duration, a.Duration);
  EXPECT_EQ(waiting->FileName(), sources[20]);
  EXPECT_EQ(waiting->VideoStreamCount(), 1);

  // A source gone while its task waited fails that task as it would have failed to open; the
  // others run, two at a time.
  std::filesystem::remove(sources[30]);
  events.Attach(c);
  c.StartTask(2);
  ASSERT_TRUE(events.WaitFinal());
  const std::vector<TTerminateInfo> t = events.Terminates();
  ASSERT_EQ(t.size(), static_cast<size_t>(kTasks + 1));
  for (const TTerminateInfo& info : t) {
    if (info.TaskIndex == 30) {
      EXPECT_TRUE(Is(info, 30, false, true, sources[30] + ": No such file or directory"));
    } else {
      EXPECT_TRUE(info.Finished) << info.TaskIndex << " " << info.ErrorMessage;
    }
  }
  EXPECT_GT(std::filesystem::file_size(dir.File("out39.mkv")), 0u);
  EXPECT_FALSE(std::filesystem::exists(dir.File("out30.mkv")));
  c.ClearTasks();
  EXPECT_LE(OpenDescriptors(), before + 2);
}

TEST_F(Component, WaitingTasksRunWithTheirOwnRecords) {
  // Eight tasks whose records are equal but for their names, and for the picture size and the
  // start in every other one: each waiting task is set up again with its own.
  constexpr int kTasks = 8;
  for (int i = 0; i < kTasks; ++i) {
    TInputOptions input;
    if (i % 2) input.StartTime = 1'000'000;
    TOutputOptions output;
    InitOutputOptions(output);
    output.VideoCodec = "mpeg4";
    output.FrameSize = i % 2 ? "96x64" : "64x48";
    ASSERT_EQ(c.AddTask(Fixture("av.mp4"), &input), i) << c.LastErrMsg;
    ASSERT_TRUE(c.SetOutputFile(i, dir.File("out" + std::to_string(i) + ".mp4"), &output))
        << c.LastErrMsg;
  }
  c.StartTask(0);
  for (int i = 0; i < kTasks; ++i) {
    SCOPED_TRACE(i);
    const testsupport::FFprobe probe(dir.File("out" + std::to_string(i) + ".mp4"));
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    ASSERT_EQ(probe.StreamCount("video"), 1u);
    const size_t video = probe.CodecType(0) == "video" ? 0 : 1;
    EXPECT_EQ(probe.Width(video), i % 2 ? 96 : 64);
    EXPECT_NEAR(probe.Duration(), i % 2 ? 1.0 : 2.0, 0.15);
  }
}

TEST_F(Component, WaitingTasksKeepTheirHookAndPreviewSettings) {
  // Tasks past the few kept open wait as their set-ups alone: made again to run, every one that
  // asked for the custom hook gets it (and only those), with the preview setting of the moment.
  constexpr int kTasks = 8;
  for (int i = 0; i < kTasks; ++i) {
    TOutputOptions output;
    InitOutputOptions(output);
    output.CustomHook = i % 2 == 1;
    ASSERT_EQ(AddJob(Fixture("av.mp4"), &output), i);
  }
  c.SetPreviewBitmap(true);
  std::mutex lock;
  std::map<int, int> hooked, previews;
  c.SetTriggerEventInMainThread(false);
  c.OnCustomHook = [&](media::TFFBaseComponent*, THookInfo* info) {
    std::lock_guard l(lock);
    ++hooked[info->TaskIndex];
  };
  c.OnPreviewBitmap = [&](media::TFFBaseComponent*, const TPreviewInfo& info) {
    std::lock_guard l(lock);
    ++previews[info.TaskIndex];
  };
  c.StartTask(0);
  for (int i = 0; i < kTasks; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(hooked.count(i), i % 2 == 1 ? 1u : 0u);
    EXPECT_EQ(previews.count(i), 1u);
    EXPECT_GT(std::filesystem::file_size(dir.File("out" + std::to_string(i) + ".mp4")), 0u);
  }
}

TEST_F(Component, StoppingALongListEndsEveryTaskOnce) {
  // Stopped while the first task runs: every waiting task, most of them kept as set-ups alone,
  // gets its one notice (not finished, not failed), the final notice comes last, and no output
  // that was never written stays behind.
  constexpr int kTasks = 12;
  for (int i = 0; i < kTasks; ++i) ASSERT_EQ(AddJob(), i);
  events.Attach(c);
  // The first task is held in its first progress report until the stop has been asked.
  platform::TEvent running, release;
  c.SetTriggerEventInMainThread(false);
  c.OnProgress = [&](media::TFFBaseComponent*, TProgressInfo*) {
    running.Set();
    release.Wait(kPatience);
  };
  c.StartTask(1);
  ASSERT_TRUE(running.Wait(kPatience));
  c.StopTask(false);
  release.Set();
  ASSERT_TRUE(events.WaitFinal());
  const std::vector<TTerminateInfo> t = events.Terminates();
  ASSERT_EQ(t.size(), static_cast<size_t>(kTasks + 1));
  std::set<int> ended;
  for (size_t i = 0; i + 1 < t.size(); ++i) {
    ended.insert(t[i].TaskIndex);
    if (t[i].TaskIndex > 0) {
      EXPECT_TRUE(Is(t[i], t[i].TaskIndex, false, false));
    }
  }
  EXPECT_EQ(ended.size(), static_cast<size_t>(kTasks));
  EXPECT_EQ(t.back().TaskIndex, -1);
  c.ClearTasks();
  for (int i = 1; i < kTasks; ++i)
    EXPECT_FALSE(std::filesystem::exists(dir.File("out" + std::to_string(i) + ".mp4"))) << i;
}

TEST_F(Component, AStopWaitedForLetsEveryEndedTaskGo) {
  // Stopping a long list with the wait makes its waiting tasks one at a time, for their notices,
  // and lets each go once its notice is out: none is left made (nor reopens its source for a
  // probe) after the final notice.
  constexpr int kTasks = 24;
  for (int i = 0; i < kTasks; ++i) ASSERT_EQ(AddJob(), i);
  events.Attach(c);
  c.StartTask(1);
  c.StopTask(true);
  ASSERT_TRUE(events.WaitFinal());
  EXPECT_EQ(events.Terminates().size(), static_cast<size_t>(kTasks + 1));
  EXPECT_EQ(c.TaskCount(), kTasks);
  for (int i = 0; i < kTasks; ++i) EXPECT_EQ(c.InputProbe(i, 0), nullptr) << i;
}

TEST_F(Component, AWaitingTaskClearedUnrunLeavesNoEmptyOutput) {
  for (int i = 0; i < 8; ++i) AddJob(Fixture("av.mp4"));
  EXPECT_TRUE(std::filesystem::exists(dir.File("out7.mp4")));
  c.ClearTasks();
  for (int i = 0; i < 8; ++i)
    EXPECT_FALSE(std::filesystem::exists(dir.File("out" + std::to_string(i) + ".mp4"))) << i;
}
