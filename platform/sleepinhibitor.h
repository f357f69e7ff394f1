// Keeping the computer awake while a batch runs: a hold on the system's sleep and idle actions,
// taken when the conversions start and let go when they end, fail or are stopped. It goes through
// the replaceable interface ISleepInhibitor so tests and other platforms can substitute their own;
// the default asks the login manager over the system bus.
#pragma once

#include <memory>
#include <string>

namespace platform {

class ISleepInhibitor {
 public:
  virtual ~ISleepInhibitor() = default;
  // Takes the hold, with a reason the system shows to whoever asks why it cannot sleep. True when
  // held (also when it was held already); false with the reason in `error` when no hold can be
  // had. Called on one thread at a time.
  virtual bool Acquire(const std::string& reason, std::string& error) = 0;
  // Lets go of the hold; nothing when none is held.
  virtual void Release() = 0;
};

// The login manager's inhibitor lock ("sleep:idle", mode "block"), asked for on the system bus;
// the hold is the descriptor the manager hands out, kept open until Release.
class TLogindSleepInhibitor : public ISleepInhibitor {
 public:
  ~TLogindSleepInhibitor() override;
  bool Acquire(const std::string& reason, std::string& error) override;
  void Release() override;

 private:
  int fd_ = -1;
};

// The process-wide implementation, a TLogindSleepInhibitor until SetSleepInhibitor replaces it.
ISleepInhibitor& SleepInhibitor();
// Installs inhibitor (nullptr restores the default) and returns the previous one. Call it at
// start-up or in tests, not while a batch runs.
std::unique_ptr<ISleepInhibitor> SetSleepInhibitor(std::unique_ptr<ISleepInhibitor> inhibitor);

}  // namespace platform
