#include "batch/filesrecord.h"

namespace batch {

effects::FrameEffectSettings EffectSettings(const TlvFilesRecord& record) {
  effects::FrameEffectSettings settings;
  settings.Brightness = record.Brightness;
  settings.Contrast = record.Contrast;
  settings.Saturation = record.Saturation;
  settings.Exposure = record.Exposure;
  settings.MarkText = record.MarkText;
  settings.MarkFont = record.MarkFont;
  settings.TextX = record.TextX;
  settings.TextY = record.TextY;
  settings.MarkImageFile = record.MarkImageFile;
  settings.ImageX = record.ImageX;
  settings.ImageY = record.ImageY;
  settings.ImageAlpha = record.ImageAlpha;
  settings.ImageStyle = record.ImageStyle;
  settings.ProcessText = record.ProcessText;
  settings.ProcessImage = record.ProcessImage;
  return settings;
}

bool HasEffects(const TlvFilesRecord& record) {
  return record.Brightness != 255 || record.Contrast != 0 || record.Saturation != 255 ||
         record.Exposure != 0 || !record.MarkText.empty() || !record.MarkImageFile.empty();
}

}  // namespace batch
