// A manual-reset event: once set it stays set, releasing every waiter, until Reset.
// Built on std::condition_variable; all methods may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

class TEvent {
 public:
  explicit TEvent(bool initiallySet = false) : set_(initiallySet) {}
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  // Sets the event and wakes every thread waiting on it.
  void Set();
  // Clears the event; later waits block until the next Set.
  void Reset();
  bool IsSet() const;
  // Blocks until the event is set or timeout has passed (a negative timeout waits without limit).
  // Returns true when the event is set; a zero timeout just tests it.
  bool Wait(std::chrono::milliseconds timeout = std::chrono::milliseconds(-1)) const;

 private:
  mutable std::mutex mutex_;  // protects set_
  mutable std::condition_variable changed_;
  bool set_;
};

}  // namespace platform
