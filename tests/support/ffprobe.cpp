#include "tests/support/ffprobe.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace testsupport {
namespace {

using nlohmann::json;

// A value ffprobe prints either as a number or as a decimal text ("2.000000", "50").
double NumberOf(const json& object, const char* key) {
  if (!object.is_object()) return NAN;
  auto it = object.find(key);
  if (it == object.end()) return NAN;
  if (it->is_number()) return it->get<double>();
  if (it->is_string()) {
    const std::string& text = it->get_ref<const std::string&>();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (!text.empty() && end && *end == '\0' && errno == 0) return value;
  }
  return NAN;
}

int64_t CountOf(const json& object, const char* key) {
  const double value = NumberOf(object, key);
  return std::isnan(value) ? -1 : static_cast<int64_t>(value);
}

std::string TextOf(const json& object, const char* key) {
  if (!object.is_object()) return "";
  auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : "";
}

std::string TagOf(const json& object, const std::string& key) {
  if (!object.is_object()) return "";
  auto tags = object.find("tags");
  if (tags == object.end() || !tags->is_object()) return "";
  return TextOf(*tags, key.c_str());
}

// The stream's display matrix entry of its side data; null without one.
const json* DisplayMatrixOf(const json& stream) {
  if (!stream.contains("side_data_list")) return nullptr;
  for (const json& side : stream["side_data_list"])
    if (TextOf(side, "side_data_type") == "Display Matrix") return &side;
  return nullptr;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

int RunTool(std::vector<std::string> args, std::string* output, std::string* errors) {
  std::string ignored;
  if (!output) output = &ignored;
  if (!errors) errors = &ignored;
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    *errors = std::string("pipe: ") + std::strerror(errno);
    CloseFd(out[0]);
    CloseFd(out[1]);
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  CloseFd(out[1]);
  CloseFd(err[1]);
  if (spawned != 0) {
    *errors = "cannot run " + args[0] + ": " + std::strerror(spawned);
    CloseFd(out[0]);
    CloseFd(err[0]);
    return -1;
  }

  // Read both outputs together so that neither pipe can fill up and stall the child.
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {output, errors};
  int openPipes = 2;
  char buffer[65536];
  while (openPipes > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;  // poll ignores negative descriptors
        --openPipes;
      }
    }
  }
  for (pollfd& p : fds) CloseFd(p.fd);

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

FFprobe::FFprobe(const std::string& file, bool countFrames) {
  // "file:" makes ffprobe take the name as a local path even when it looks like a URL
  // ("http:x.avi") or an option ("-x.avi").
  std::vector<std::string> args = {"ffprobe", "-v", "error", "-of", "json", "-show_format",
                                   "-show_streams"};
  if (countFrames) args.push_back("-count_frames");
  args.push_back("-i");
  args.push_back("file:" + file);
  std::string output;
  exitStatus_ = RunTool(std::move(args), &output, &errors_);
  json_ = json::parse(output, nullptr, /*allow_exceptions=*/false);
  parsed_ = !json_.is_discarded();
  if (!parsed_) json_ = nullptr;
}

size_t FFprobe::StreamCount() const {
  auto it = json_.is_object() ? json_.find("streams") : json_.end();
  return it != json_.end() && it->is_array() ? it->size() : 0;
}

size_t FFprobe::StreamCount(const std::string& codecType) const {
  size_t count = 0;
  for (size_t i = 0; i < StreamCount(); ++i) count += CodecType(i) == codecType;
  return count;
}

const nlohmann::json& FFprobe::Stream(size_t i) const {
  if (i >= StreamCount()) throw std::out_of_range("ffprobe reported no stream " + std::to_string(i));
  return json_["streams"][i];
}

std::string FFprobe::CodecName(size_t i) const { return TextOf(Stream(i), "codec_name"); }
std::string FFprobe::CodecType(size_t i) const { return TextOf(Stream(i), "codec_type"); }
int FFprobe::Width(size_t i) const { return static_cast<int>(CountOf(Stream(i), "width")); }
int FFprobe::Height(size_t i) const { return static_cast<int>(CountOf(Stream(i), "height")); }
double FFprobe::StreamDuration(size_t i) const { return NumberOf(Stream(i), "duration"); }
int64_t FFprobe::NbFrames(size_t i) const { return CountOf(Stream(i), "nb_frames"); }
int64_t FFprobe::NbReadFrames(size_t i) const { return CountOf(Stream(i), "nb_read_frames"); }
std::string FFprobe::StreamTag(size_t i, const std::string& key) const {
  return TagOf(Stream(i), key);
}

std::string FFprobe::SampleAspect(size_t i) const {
  return TextOf(Stream(i), "sample_aspect_ratio");
}

bool FFprobe::HasDisplayMatrix(size_t i) const { return DisplayMatrixOf(Stream(i)) != nullptr; }

int FFprobe::Rotation(size_t i) const {
  const json* matrix = DisplayMatrixOf(Stream(i));
  if (!matrix || !matrix->contains("rotation")) return 0;
  const long quarters = std::lround(-NumberOf(*matrix, "rotation") / 90);
  return static_cast<int>((quarters % 4 + 4) % 4) * 90;
}

std::string FFprobe::FormatName() const {
  return json_.is_object() && json_.contains("format") ? TextOf(json_["format"], "format_name")
                                                        : "";
}

double FFprobe::Duration() const {
  return json_.is_object() && json_.contains("format") ? NumberOf(json_["format"], "duration")
                                                        : NAN;
}

std::string FFprobe::Tag(const std::string& key) const {
  return json_.is_object() && json_.contains("format") ? TagOf(json_["format"], key) : "";
}

}  // namespace testsupport
