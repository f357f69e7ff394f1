// The independent reader tests check outputs with: runs the ffprobe tool on a file
// (`ffprobe -v error -of json -show_format -show_streams [-count_frames]`) and keeps its JSON report.
// The file is passed as one argument (no shell), as a local file whatever its name looks like.
// Accessors read common fields; a field ffprobe did not report reads as "", -1 or NaN.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace testsupport {

// Runs a tool (argv[0] looked up in PATH, no shell) with standard input from /dev/null, collects
// its standard output and error (either may be null) and returns its exit status, -1 when it could
// not run or did not exit normally.
int RunTool(std::vector<std::string> args, std::string* output = nullptr,
            std::string* errors = nullptr);

class FFprobe {
 public:
  // Runs ffprobe on the file and waits for it. Never throws for a failing file: see Ok().
  // countFrames adds -count_frames (decodes every frame; fills nb_read_frames).
  explicit FFprobe(const std::string& file, bool countFrames = false);

  // ffprobe exited with status 0 and printed valid JSON.
  bool Ok() const { return exitStatus_ == 0 && parsed_; }
  // The exit status; -1 when it could not be started or ended by a signal.
  int ExitStatus() const { return exitStatus_; }
  // What ffprobe wrote to its error output, or why it could not be run.
  const std::string& Errors() const { return errors_; }
  // The whole report ({"streams": [...], "format": {...}}); null when not parsed.
  const nlohmann::json& Json() const { return json_; }

  size_t StreamCount() const;
  // Streams whose codec_type is the given one ("video", "audio", "subtitle", ...).
  size_t StreamCount(const std::string& codecType) const;
  // Stream i's object; throws std::out_of_range when there is no stream i.
  const nlohmann::json& Stream(size_t i) const;
  std::string CodecName(size_t i) const;
  std::string CodecType(size_t i) const;
  int Width(size_t i) const;
  int Height(size_t i) const;
  // Seconds; NaN when absent.
  double StreamDuration(size_t i) const;
  // The container's frame (packet) count, nb_frames; -1 when the container does not record it.
  int64_t NbFrames(size_t i) const;
  // Frames decoded by -count_frames, nb_read_frames; -1 without countFrames.
  int64_t NbReadFrames(size_t i) const;
  // A stream tag (e.g. "language"); "" when absent.
  std::string StreamTag(size_t i, const std::string& key) const;
  // The sample aspect ratio ("64:45"); "" when absent.
  std::string SampleAspect(size_t i) const;
  // Whether stream i carries a display matrix, and the clockwise turn it asks for (ffprobe
  // reports the matrix's rotation counter-clockwise): 0, 90, 180 or 270; 0 without one.
  bool HasDisplayMatrix(size_t i) const;
  int Rotation(size_t i) const;

  // The demuxer's name list, e.g. "mov,mp4,m4a,3gp,3g2,mj2" or "matroska,webm".
  std::string FormatName() const;
  // The file's duration in seconds; NaN when absent.
  double Duration() const;
  // A file-level tag (title, artist, ...); "" when absent.
  std::string Tag(const std::string& key) const;

 private:
  nlohmann::json json_;
  std::string errors_;
  int exitStatus_ = -1;
  bool parsed_ = false;
};

}  // namespace testsupport
