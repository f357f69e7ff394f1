// Every reproducer a fuzz run found (tests/fuzz/repro/<target>/) goes through the target's entry
// point again: a fault that comes back aborts the test. Each target also takes a few well-formed
// inputs, so that a target whose checks break on ordinary input fails here rather than in a run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz/targets/fuzztargets.h"
#include "tests/support/testdirs.h"

namespace {

void Replay(const std::string& target, const std::string& bytes) {
  for (const fuzz::TTarget& t : fuzz::Targets()) {
    if (t.name == target) {
      t.entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      return;
    }
  }
  FAIL() << "no fuzz target " << target;
}

class FuzzReplay : public testing::TestWithParam<const char*> {};

TEST_P(FuzzReplay, Reproducers) {
  const std::string target = GetParam();
  ASSERT_TRUE(std::filesystem::is_directory(VC_FUZZ_REPRO_DIR));
  // A target with no reproducer has no folder.
  const std::filesystem::path folder = std::filesystem::path(VC_FUZZ_REPRO_DIR) / target;
  if (!std::filesystem::is_directory(folder)) return;
  setenv("VC_FUZZ_CLIP", testsupport::Fixture("av.mp4").c_str(), 1);
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (!entry.is_regular_file() || entry.path().filename() == "README") continue;
    SCOPED_TRACE(entry.path().string());
    Replay(target, testsupport::ReadText(entry.path().string()));
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay,
                         testing::Values("inistore", "options", "probe", "transcode",
                                         "jobbuilder"));

std::string WithByte(char first, const std::string& file) { return std::string(1, first) + file; }

// Well-formed inputs of each target: a real settings file with a change, real option lines, a
// sample clip probed and converted both ways, a real profile built and run.
TEST(FuzzReplay, OrdinaryInputs) {
  setenv("VC_FUZZ_CLIP", testsupport::Fixture("av.mp4").c_str(), 1);
  const std::string format = testsupport::ReadText(VC_FORMAT_FILE);
  ASSERT_FALSE(format.empty());
  Replay("inistore", format);
  Replay("inistore", std::string("\xef\xbb\xbf[settings]\r\nvolume=1\r\n\0settings\0volume\0 7 ",
                                 41));
  Replay("options", "vcodec libx264\nvpre fast\ns 320x240\ntarget pal-dvd\nmap 0:1\nss 1.5\n");
  for (const char* clip : {"av.mp4", "audio.mp3", "multi.mkv", "service.ts"}) {
    SCOPED_TRACE(clip);
    const std::string bytes = testsupport::ReadText(testsupport::Fixture(clip));
    ASSERT_FALSE(bytes.empty());
    Replay("probe", bytes);
    Replay("transcode", WithByte('\0', bytes));
    Replay("transcode", WithByte('\1', bytes));
  }
  const size_t begin = format.find("[formatInfo2602]");
  ASSERT_NE(begin, std::string::npos);
  const size_t body = format.find('\n', begin) + 1;
  const std::string section = format.substr(body, format.find("\n[", body) - body);
  Replay("jobbuilder", section + std::string(1, '\0') + "paraVideoSize=320x240\nparaZoom=lbox\n" +
                           std::string(1, '\0') + "\x01\x04\x04");
}

}  // namespace
