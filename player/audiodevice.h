// TAudioDevice: the player's sound output, an SDL2 audio device bound through the loader. It
// starts SDL's audio part with the chosen driver, opens the default device for 16-bit samples in
// native byte order and calls the fill function on SDL's audio thread for every buffer. Open,
// Start and Close are called from one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "player/playertypes.h"

namespace player {

class TAudioDevice {
 public:
  // Called on SDL's audio thread with the buffer to fill completely (len bytes).
  using TFill = std::function<void(uint8_t* stream, int len)>;

  TAudioDevice() = default;
  ~TAudioDevice() { Close(); }
  TAudioDevice(const TAudioDevice&) = delete;
  TAudioDevice& operator=(const TAudioDevice&) = delete;

  // The driver SDL's audio part starts with next: adDefault leaves the choice to SDL (and to
  // SDL_AUDIODRIVER in the environment).
  static void SelectDriver(TAudioDriver driver);
  // The running driver's name; "" when SDL's audio part is not running.
  static std::string CurrentDriver();

  // Opens the device, paused, for sampleRate and channels with buffers of 1024 samples. False with
  // SDL's error text in error.
  bool Open(int sampleRate, int channels, TFill fill, std::string& error);
  // Starts the callbacks.
  void Start();
  // Stops the callbacks and closes the device (waits for a running callback to return).
  void Close();
  bool IsOpen() const { return device_ != 0; }
  // The buffer size SDL granted, in bytes.
  int BufferBytes() const { return bufferBytes_; }

 private:
  static void Callback(void* self, uint8_t* stream, int len);
  TFill fill_;
  uint32_t device_ = 0;
  int bufferBytes_ = 0;
  bool subsystem_ = false;
};

}  // namespace player
