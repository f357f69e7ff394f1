// The player's shared vocabulary: play states, driver choices, the event record of the event ring
// and the display-event codes of the play thread's queue. Plain values, no behaviour.
#pragma once

#include <cstdint>

namespace player {

enum TPlayState : int { psPlay, psPause, psResume, psStep, psStop, psEnd };

// Sound back end. adDefault lets SDL pick (and honours SDL_AUDIODRIVER from the environment);
// adDirectSound asks for the desktop's sound server ("pulseaudio"), adWaveOut for the sound
// card directly ("alsa").
enum TAudioDriver : int { adDefault, adDirectSound, adWaveOut };
// Kept for the component's published settings; the picture goes through the display surface, so
// no video back end is started and the choice has no effect on drawing.
enum TVideoDriver : int { vdDefault, vdDirectDraw, vdGDI };

// Mixing volume, 0 (silent) ... 128 (unchanged).
using TAudioVolume = int;
constexpr TAudioVolume kMaxAudioVolume = 128;

// One slot of the event ring.
struct PlayerEvent {
  enum Kind : int32_t { Position = 1, State = 2, Quit = 3 };
  int32_t kind = 0;
  int32_t state = 0;
  int64_t time = 0;
};

// Codes of the play thread's display events.
enum TDisplayEvent : int {
  deQuitApp = 12,   // the application's quit
  deResize = 16,    // the surface got a new size (width, height given)
  deExpose = 17,    // the surface must be drawn again
  deAllocate = 24,  // prepare the picture slot the video thread writes next
  deRefresh = 25,   // show the next due picture
  deQuit = 26,      // close the playback
  deReopen = 27,    // reopen the surface and draw again
};

}  // namespace player
