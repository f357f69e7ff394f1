#include "player/eventring.h"

namespace player {

void TPlayerEventRing::Post(const PlayerEvent& event) {
  std::lock_guard guard(lock_);
  const int last = (write_ + kSlots - 1) % kSlots;
  if (read_ == write_ || slots_[last].kind != event.kind) {
    write_ = (write_ + 1) % kSlots;
    if (write_ == read_) read_ = (read_ + 1) % kSlots;  // full: the oldest event is lost
  }
  slots_[(write_ + kSlots - 1) % kSlots] = event;
  signal_.Set();
}

bool TPlayerEventRing::Take(PlayerEvent& event) {
  std::lock_guard guard(lock_);
  if (read_ == write_) return false;
  event = slots_[read_];
  read_ = (read_ + 1) % kSlots;
  if (read_ == write_) signal_.Reset();
  return true;
}

void TPlayerEventRing::Clear() {
  std::lock_guard guard(lock_);
  read_ = write_;
  signal_.Reset();
}

}  // namespace player
