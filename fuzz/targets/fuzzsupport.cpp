#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fuzz/targets/fuzztargets.h"
#include "media/ffloader.h"
#include "media/fflogger.h"

namespace fuzz {

const std::vector<TTarget>& Targets() {
  static const std::vector<TTarget> targets = {
      {"inistore", IniStore}, {"options", Options},       {"probe", Probe},
      {"transcode", Transcode}, {"jobbuilder", JobBuilder},
  };
  return targets;
}

namespace {
std::string& WorkDirPath() {
  static std::string path;
  return path;
}
void RemoveWorkDir() {
  std::error_code ignored;
  if (!WorkDirPath().empty()) std::filesystem::remove_all(WorkDirPath(), ignored);
}
}  // namespace

const std::string& WorkDir() {
  std::string& path = WorkDirPath();
  if (path.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vcfuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) Fail("cannot create a work folder under " + pattern);
    path = pattern;
    std::atexit(RemoveWorkDir);
  }
  return path;
}

void Fail(const std::string& what) {
  std::fprintf(stderr, "FUZZ FINDING: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

std::vector<std::string> SplitInput(const uint8_t* data, size_t size, size_t parts) {
  std::vector<std::string> out;
  const std::string text(reinterpret_cast<const char*>(data), size);
  size_t begin = 0;
  while (out.size() + 1 < parts) {
    const size_t zero = text.find('\0', begin);
    if (zero == std::string::npos) break;
    out.push_back(text.substr(begin, zero - begin));
    begin = zero + 1;
  }
  out.push_back(text.substr(begin));
  return out;
}

std::string WriteWorkFile(const std::string& name, const std::string& bytes) {
  const std::string path = WorkDir() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) Fail("cannot write " + path);
  return path;
}

void LoadMediaLibraries() {
  static const bool loaded = [] {
    if (!media::FFLoader().Load(media::EngineLibraries))
      Fail("media libraries: " + media::FFLoader().LastErrMsg());
    return true;
  }();
  (void)loaded;
  media::TFFLogger& logger = media::GetLogger();
  logger.TriggerEventInMainThread = false;
  logger.OnLog = nullptr;
  logger.SetLogLevel(media::llQuiet);
}

}  // namespace fuzz
