#include "tests/support/testdirs.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vctest-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const { return path_ + "/" + name; }

std::string FixtureDir() { return VC_FIXTURE_DIR; }
std::string Fixture(const std::string& name) { return FixtureDir() + "/" + name; }
std::string BinaryDir() { return VC_BINARY_DIR; }

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadOnlyMountPoint() {
  std::ifstream in("/proc/self/mountinfo");
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string id, parent, device, root, mountPoint, options;
    fields >> id >> parent >> device >> root >> mountPoint >> options;
    const bool readOnly = options == "ro" || options.rfind("ro,", 0) == 0;
    if (readOnly && mountPoint.find('\\') == std::string::npos) return mountPoint;
  }
  return "";
}

}  // namespace testsupport
