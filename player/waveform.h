// The picture shown for files without video: the last played samples of each channel drawn as a
// white waveform on black, one band per channel with a white line between bands. Works on the
// sample ring the audio output fills (interleaved 16-bit samples). Pure functions.
#pragma once

#include <cstdint>

namespace player {

// Samples in the ring (interleaved, all channels).
constexpr int kSampleRingSize = 131072;

// Where the drawing starts: delay samples per channel before writeIndex (at least width, plus
// 2 x width), then, among the 1000 samples before that, the trigger point that steadies the
// picture (the largest fall over 9 channel steps where steps 4 and 5 change sign).
int WaveformStart(const int16_t* ring, int writeIndex, int delay, int channels, int width);

// Fills the BGR24 picture (stride bytes per row) black and draws the channels from start.
void DrawWaveform(const int16_t* ring, int start, int channels, uint8_t* bgr, int stride, int width,
                  int height);

}  // namespace player
