// TPreviewer: the small window in which a running conversion shows its encoded frames. This is
// the interface the engine feeds; the window itself belongs to the user interface. All window
// work happens on the user-interface thread; destroying the previewer closes the window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "media/bitmap.h"

namespace media {

class TPreviewer {
 public:
  virtual ~TPreviewer() = default;
  // Shows the frame (the window takes the graphic's size on first use) with the frame time as its
  // caption. Returns false, without showing anything, once the user has closed the window; the
  // caller then stops feeding it.
  virtual bool ShowPreviewFrame(const TBitmap& graphic, int64_t frameNumber, int64_t timeUs) = 0;
};

// Makes the previewer window a conversion shows its frames in. The user interface registers it
// at start-up; without one (no desktop) conversions show no preview window. Called, and the
// previewer used and destroyed, on the user-interface thread only.
using TPreviewerFactory = std::function<std::unique_ptr<TPreviewer>()>;
void SetPreviewerFactory(TPreviewerFactory factory);
// A new previewer from the registered factory; null when none is registered.
std::unique_ptr<TPreviewer> CreatePreviewer();

}  // namespace media
