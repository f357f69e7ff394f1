// TPlayerEventRing: the ring of 10 player events between the playback threads and the event
// thread. Consecutive events of one kind collapse into the latest while unread; when the ring is
// full the oldest event is lost. Posting never blocks on a handler. Any thread may use it.
#pragma once

#include <array>
#include <chrono>
#include <mutex>

#include "platform/event.h"
#include "player/playertypes.h"

namespace player {

class TPlayerEventRing {
 public:
  static constexpr int kSlots = 10;

  // Writes the event (collapsing into the most recent unread one of the same kind) and sets the
  // signal.
  void Post(const PlayerEvent& event);
  // Takes the oldest unread event; false when there is none. Resets the signal when the ring
  // became empty.
  bool Take(PlayerEvent& event);
  // Waits until an event is unread or the timeout passed (negative: no limit).
  bool WaitSignal(std::chrono::milliseconds timeout = std::chrono::milliseconds(-1)) const {
    return signal_.Wait(timeout);
  }
  // Forgets every unread event.
  void Clear();

 private:
  std::mutex lock_;  // protects slots_, read_, write_
  std::array<PlayerEvent, kSlots> slots_{};
  int read_ = 0;
  int write_ = 0;
  platform::TEvent signal_{false};
};

}  // namespace player
