#include "engine/customffmpeg.h"

#include <cstdarg>
#include <cstdio>

#include "engine/transcoder.h"
#include "media/ffloader.h"

namespace engine {

TCustomFFmpeg::TCustomFFmpeg() : genericOptions_(std::make_unique<media::TOptionStore>()) {}

void TCustomFFmpeg::ResetState() {
  ReleaseAll();
  state_ = std::make_unique<TOptionState>();
  genericOptions_ = std::make_unique<media::TOptionStore>(state_->swsFlags);
  expectedDuration_ = -1;
  joining_ = false;
}

void TCustomFFmpeg::ReleaseState() {
  if (!state_) return;
  releasedVerbose_ = state_->verbose;
  genericOptions_.reset();
  state_.reset();
}

void TCustomFFmpeg::Log(media::TLogLevel level, const std::string& text) {
  media::GetLogger().LogMessage(this, level, text);
}

void TCustomFFmpeg::LogFormat(media::TLogLevel level, const char* format, ...) {
  char buffer[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  Log(level, buffer);
}

}  // namespace engine
