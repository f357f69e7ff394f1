// Picture work split over the machine's cores: ForEachRowBand cuts the rows of a picture into
// bands and runs a function on each band, one band in the calling thread and the others on a
// small process-wide pool of helper threads (one fewer than the hardware threads, at most three),
// and returns when every band is done. Bands are independent: the function must only touch its
// own rows. Calls from several threads at once share the pool; a call never waits for a band of
// another call to start before its own bands can run (the caller works through its own bands
// when no helper is free).
#pragma once

#include <functional>
#include <vector>

namespace media {

struct TRowBand {
  int first = 0, count = 0;
  bool operator==(const TRowBand&) const = default;
};

// The bands ForEachRowBand cuts rows 0 .. rows-1 into for these arguments, in order; the same
// for the same arguments throughout the process. None for no rows.
std::vector<TRowBand> RowBands(int rows, int minRows, int align);

// Runs fn(firstRow, rowCount) over rows 0 .. rows-1 in the bands RowBands gives: bands of at least minRows rows whose
// starts are multiples of `align` (a power of two, for chroma rows shared by two picture rows).
// Small pictures, or a machine with one core, run as one band in the calling thread.
void ForEachRowBand(int rows, int minRows, int align,
                    const std::function<void(int firstRow, int rowCount)>& fn);

}  // namespace media
