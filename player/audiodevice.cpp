#include "player/audiodevice.h"

#include <algorithm>

#include "media/ffapi.h"

namespace player {

void TAudioDevice::SelectDriver(TAudioDriver driver) {
  switch (driver) {
    case adDirectSound:
      ff::SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "pulseaudio", SDL_HINT_OVERRIDE);
      break;
    case adWaveOut:
      ff::SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "alsa", SDL_HINT_OVERRIDE);
      break;
    default:
      ff::SDL_ResetHint(SDL_HINT_AUDIODRIVER);
      break;
  }
}

std::string TAudioDevice::CurrentDriver() {
  const char* name = ff::SDL_GetCurrentAudioDriver();
  return name ? name : "";
}

bool TAudioDevice::Open(int sampleRate, int channels, TFill fill, std::string& error) {
  Close();
  if (ff::SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    error = ff::SDL_GetError();
    return false;
  }
  subsystem_ = true;
  fill_ = std::move(fill);
  SDL_AudioSpec want{};
  SDL_AudioSpec have{};
  want.freq = sampleRate;
  want.format = AUDIO_S16SYS;
  want.channels = static_cast<uint8_t>(channels);
  want.silence = 0;
  want.samples = 1024;
  want.callback = &TAudioDevice::Callback;
  want.userdata = this;
  device_ = ff::SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (device_ == 0) {
    error = ff::SDL_GetError();
    Close();
    return false;
  }
  bufferBytes_ = static_cast<int>(have.size);
  return true;
}

void TAudioDevice::Start() {
  if (device_) ff::SDL_PauseAudioDevice(device_, 0);
}

void TAudioDevice::Close() {
  if (device_) {
    ff::SDL_CloseAudioDevice(device_);
    device_ = 0;
  }
  if (subsystem_) {
    ff::SDL_QuitSubSystem(SDL_INIT_AUDIO);
    subsystem_ = false;
  }
  fill_ = nullptr;
  bufferBytes_ = 0;
}

void TAudioDevice::Callback(void* self, uint8_t* stream, int len) {
  auto* device = static_cast<TAudioDevice*>(self);
  if (device->fill_)
    device->fill_(stream, len);
  else
    std::fill(stream, stream + len, uint8_t(0));
}

}  // namespace player
