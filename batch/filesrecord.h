// TlvFilesRecord: the job record each row of the file list owns, with the row's own edits (trim
// range, crop, zoom, picture effects and watermarks) and the values of a newly added row. The
// editing dialogs write it; the batch reads it when it builds a row's job and its frame effects.
#pragma once

#include <cstdint>
#include <string>

#include "effects/frameeffects.h"
#include "effects/textcanvas.h"

namespace batch {

struct TlvFilesRecord {
  int32_t SelIndex = 0;       // position of the file in the selection that added it
  std::string SourceFile;     // full source path
  std::string DestFile;       // full output path computed when the row was added
  int32_t DurationSec = 0;    // source duration in whole seconds
  int64_t TrimStart = 0;      // µs
  int64_t TrimDuration = 0;   // µs; 0 = to the end
  std::string Zoom = "lbox";  // "full", "lbox", "pan" or "center"
  int32_t CropTop = 0;        // crop bands in source pixels, even
  int32_t CropLeft = 0;
  int32_t CropBottom = 0;
  int32_t CropRight = 0;
  int32_t CropTopInput = 0;   // the bands as entered in the crop dialog (preview pixels)
  int32_t CropLeftInput = 0;
  int32_t CropBottomInput = 0;
  int32_t CropRightInput = 0;
  std::string MarkText;       // watermark text; empty = none
  effects::TextFont MarkFont;  // "MS Sans Serif", 8 points, black
  int32_t TextX = 0;          // top-left corner of the text in frame pixels
  int32_t TextY = 0;
  int32_t TextHorizPos = 0;   // slider positions of the text in the effects dialog
  int32_t TextVertPos = 0;
  std::string MarkImageFile;  // watermark bitmap; empty = none
  int32_t ImageX = 0;         // top-left corner of the image in frame pixels
  int32_t ImageY = 0;
  int32_t ImageHorizPos = 0;  // slider positions of the image in the effects dialog
  int32_t ImageVertPos = 0;
  int32_t ImageAlpha = 168;   // weight of the image in style 1, 0…255
  int32_t ImageStyle = 1;     // 1 weighted blend, 2 multiply
  int32_t Brightness = 255;   // 255 = unchanged
  int32_t Contrast = 0;       // 0 = unchanged
  int32_t Saturation = 255;   // 255 = unchanged
  int32_t Exposure = 0;       // 0 = unchanged
  bool ProcessText = false;   // the text is drawn before the colour steps
  bool ProcessImage = false;  // the image is blended before the colour steps
};

// The record's effect and watermark fields as the frame effects take them.
effects::FrameEffectSettings EffectSettings(const TlvFilesRecord& record);

// True when converting the row needs the per-frame hook: a colour value other than 255, 0, 255,
// an exposure other than 0, a watermark text or a watermark image.
bool HasEffects(const TlvFilesRecord& record);

}  // namespace batch
