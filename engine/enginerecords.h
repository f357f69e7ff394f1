// The records that travel between the engine component and its users: the option records of one
// task's input and outputs (with their defaults and reset routines), the event records, and the
// engine's exception class. Plain data; see zuzezaviv.h for how they are used.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

extern "C" {
#include <libavutil/avutil.h>
}

#include "media/bitmap.h"
#include "media/pictureconverter.h"

namespace engine {

// The engine's failure inside a task; turned into LastErrMsg or a TTerminateInfo at the
// component's boundary.
class FFmpegException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Container metadata of an output.
struct TStreamInfo {
  // Date-time in days since 30 December 1899, local time: 0 = now, > 0 = that moment,
  // negative = not set.
  double Timestamp = -1.0;
  int Year = -1;   // applied when > 0
  int Track = -1;  // applied when > 0
  std::string Title, Author, Copyright, Comment, Album, Genre;  // applied when not empty
  bool operator==(const TStreamInfo&) const = default;
};

// One input of a task.
struct TInputOptions {
  std::string FileName;                 // filled with AddTask's file name when empty
  std::string FileFormat;               // forced demuxer ("f"); empty = probe
  int64_t StartTime = AV_NOPTS_VALUE;   // µs, "ss"
  int ProgramID = -1;                   // "programid", applied when >= 0
  std::string ExtOptions;               // further options, lines name=value
  bool operator==(const TInputOptions&) const = default;
};

// One output of a task. Each field reaches the engine option in its comment when the condition
// holds (see TZUzezaVIV::SetOutputFile).
struct TOutputOptions {
  std::string FileName;             // filled with SetOutputFile's file name when empty
  std::string FileFormat;           // "f" when not empty
  int PacketSize = -1;              // "packetsize" when > 0
  int MuxRate = -1;                 // "muxrate" when > 0
  float MuxDelay = -1.0f;           // "muxdelay" (s) when > 0
  float MuxPreload = -1.0f;         // "muxpreload" (s) when > 0
  std::string AudioCodec;           // "acodec" (output defaults)
  std::string AudioPreset;          // "apre" (output defaults)
  bool DisableAudio = false;        // "an" when true
  int AudioVolume = -1;             // "vol" when >= 0 (256 = unchanged)
  int AudioChannels = -1;           // "ac" when > 0
  int AudioSampleRate = -1;         // "ar" when > 0
  int AudioBitrate = -1;            // "ab" when > 0
  int AudioBitrateTolerance = -1;   // "abt" when > 0
  std::string AudioLanguage;        // "alang" always
  int AudioSync = 0;                // "async" always
  std::string AudioTag;             // "atag" when not empty
  std::string VideoCodec;           // "vcodec" (output defaults)
  std::string VideoPreset;          // "vpre" (output defaults)
  bool DisableVideo = false;        // "vn" when true
  std::string FrameRate;            // "r" when not empty
  std::string FrameSize;            // "s" (output defaults)
  std::string AspectRatio;          // "aspect" when not empty
  int CropTop = -1, CropBottom = -1, CropLeft = -1, CropRight = -1;  // "crop..." when > 0
  int GOPSize = -1;                 // "g" when > 0
  int VideoBitrate = -1;            // "vb" when > 0
  int VideoMaxRate = -1;            // "maxrate" when > 0
  int VideoMinRate = -1;            // "minrate" when > 0
  int VideoBitrateTolerance = -1;   // "bt" when > 0
  int VideoBufSize = -1;            // "bufsize" when > 0
  int VideoSync = -1;               // "vsync" always
  std::string VideoTag;             // "vtag" when not empty
  std::string VideoFilters;         // "vf" (output defaults)
  std::string VideoLanguage;        // "vlang" always
  std::string SubtitleCodec;        // "scodec" (output defaults)
  std::string SubtitlePreset;       // "spre" (output defaults)
  bool DisableSubtitle = false;     // "sn" when true
  std::string SubtitleLanguage;     // "slang" always
  bool InputSync = false;           // "isync" always
  bool CopyTimestamps = false;      // "copyts" when true
  int64_t StartTime = AV_NOPTS_VALUE;  // "ss" when set
  int64_t Duration = AV_NOPTS_VALUE;   // "t" when set
  TStreamInfo Info;                 // "timestamp", "metadata"
  int TargetType = 0;               // 1 "vcd", 2 "svcd", 3 "dvd"; other values: none
  int TargetNorm = 0;               // 0 "auto", 1 "pal", 2 "ntsc"; other values "auto"
  int TargetFallbackNorm = 1;       // 1 "pal", any other value "ntsc"
  bool CustomHook = false;          // OnCustomHook is called for this task's frames
  bool Join = false;                // all inputs of the task are joined into this output
  std::string ExtOptions;           // further options, lines name=value
  bool operator==(const TOutputOptions&) const = default;
};

// Reset a record to the defaults above.
void InitInputOptions(TInputOptions& options);
void InitOutputOptions(TOutputOptions& options);

// The per-frame hook's record; the handler may draw on Bitmap (its canvas is locked for the call).
struct THookInfo {
  int TaskIndex = 0;
  media::TBitmap* Bitmap = nullptr;  // the decoded frame, input width and height
  int FrameNumber = 0;               // decoded video frames of the task, counting from 1
  int64_t PTS = 0;                   // µs, presentation time in the input
  bool Update = true;                // out: false leaves the frame unchanged
  bool StopHook = false;             // out: true stops the hook for the rest of the task
};

// Work on the hook's bitmap as each frame is converted (see THookAreaInfo): Pass runs on the
// converted rows band by band, in several threads at once. With AfterPass, the hook itself reads
// and changes only that part after the pass, so every row outside its rows may be written back
// into the picture as soon as the pass has run on it.
struct THookRows {
  media::TBitmapRowsPass Pass;
  std::optional<media::TPictureArea> AfterPass;
};

// What the per-frame hook reaches, asked before the first frame of each picture size of a task.
// A handler that clears Whole and names Area promises that the hook reads and changes only that
// part of the bitmap: then only that part is converted for it and written back. A handler that
// sets Rows.Pass has it run on the bitmap's converted rows band by band as each frame of the size
// is converted, before the per-frame hook gets the bitmap: work that changes each row on its own
// is then done while the rows are fresh in the cache (THookRows).
struct THookAreaInfo {
  int TaskIndex = 0;
  int Width = 0, Height = 0;  // the decoded frame
  bool Whole = true;          // out
  media::TPictureArea Area;   // out, when Whole is false
  THookRows Rows;             // out, optional
};

struct TPreviewInfo {
  int TaskIndex = 0;
  const media::TBitmap* Bitmap = nullptr;  // the encoded picture size
  int FrameNumber = 0;
  int64_t PTS = 0;  // µs, output time of the frame
};

struct TProgressInfo {
  int TaskIndex = 0;
  int FileIndex = 0;          // input being read; -1 in the last report of a task
  int FrameNumber = -1;       // frames encoded for the first video output stream; -1 none
  int FPS = -1;               // encoded frames per second since the loop began; -1 no video
  float Quality = -1.0f;      // quantizer of the last encoded video frame; -1 none or copied
  float BitRate = 0.0f;       // kbit/s
  int64_t CurrentSize = 0;    // bytes written to the first output so far
  int64_t CurrentDuration = 0;  // µs of output reached
  int64_t TotalDuration = -1;   // µs expected; -1 unknown
};

struct TTerminateInfo {
  int TaskIndex = 0;  // -1 in the final notice after the last task
  bool Finished = false;  // ran to its end without a stop request; true in the final notice
  bool Failed = false;    // an error ended the task
  std::string ErrorMessage;
};

}  // namespace engine
