// The job builder: turns the current output profile (its "Format" in the format file, its stored
// "para" values in the settings file), the facts of one probed source file and the row's own
// edits (crop, zoom, trim) into the engine's input and output option records of one task.
// Runs on the user-interface thread; the only thing it may show is the 320x240 frame size question.
#pragma once

#include <cstdint>
#include <string>

#include "engine/enginerecords.h"

namespace profiles {

// What the builder needs of one list row and its probed source. The batch fills it from the
// row's job record and from the probe of the task that has the source open.
struct TJobSource {
  // The probe found at least one video stream.
  bool HasVideo = false;
  // The first video stream's picture turned upright (the engine turns a rotated source before
  // anything else): the pixels the row's crop and the engine's crop bands count in.
  int Width = 0;
  int Height = 0;
  // The size that picture is seen at, its pixels stretched by their sample aspect; 0 = the same
  // as Width x Height (square pixels).
  int DisplayWidth = 0;
  int DisplayHeight = 0;
  // Bit rate of the first video stream, bits per second; 0 = unknown.
  int64_t VideoBitrate = 0;
  // The row's zoom: "full", "lbox", "pan" or "center"; any other text sets no geometry.
  std::string Zoom;
  // The row's crop bands in source pixels (even; 0 = none).
  int CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;
  // The row's trimmed length in microseconds; 0 = to the end of the source. The trim start is
  // the input's StartTime, which the batch sets itself.
  int64_t TrimDuration = 0;
};

// The question asked when the stored frame size cannot be read; Yes takes 320x240, No the
// source's size.
inline constexpr char kFrameSizeQuestion[] = "Error output Video Size.Use the default size 320x240?";
inline constexpr char kFrameSizeQuestionTitle[] = "Warning";

// Fills the records of one job for profile `code`. `output` and `input` must hold the engine's
// reset values (InitOutputOptions / InitInputOptions, or freshly constructed records) with the
// file names already set; only the members the profile decides are written.
// A profile that has never stored its values first gets its defaults (EnsureProfileValues), so it
// converts as the "Default" button would set it up. A stored "paraVolume" that is not an integer
// throws std::invalid_argument before anything is shown; a video profile (its format lists video
// encoders) with no stored video encoder throws std::runtime_error for a source with video,
// whose output would otherwise have no video. Disc targets keep the disc's display aspect (4:3,
// or 16:9 at the DVD's wide size) whatever the zoom.
// The zoom geometries fit the picture as it is seen (its display size); the crop bands they set
// are in the upright picture's pixels. A device output has square pixels: a zoom's filter chain
// ends with "setsar=1" (a disc's with its "setdar"). An "as source" frame size is the source's
// display size.
void BuildJobOptions(const std::string& settingsFile, const std::string& formatFile, int code,
                     const TJobSource& source, engine::TOutputOptions& output,
                     engine::TInputOptions& input);

// The same with the program's own settings file and format file (SettingsFilePath,
// FormatFilePath).
void BuildJobOptions(int code, const TJobSource& source, engine::TOutputOptions& output,
                     engine::TInputOptions& input);

}  // namespace profiles
