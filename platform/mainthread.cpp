#include "platform/mainthread.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace platform {
namespace {

struct Call {
  const std::function<void()>* fn;
  std::exception_ptr error;
  bool done = false;
};

struct HandOff {
  std::mutex mutex;  // protects queue, every Call's done/error, wake and pump
  std::condition_variable queued;
  std::condition_variable finished;
  std::deque<Call*> queue;
  std::function<void()> wake;
  std::function<void()> pump;
};

HandOff& State() {
  static HandOff state;
  return state;
}

std::atomic<std::thread::id> mainThread{};

}  // namespace

void SetMainThread() { mainThread.store(std::this_thread::get_id()); }

bool IsMainThread() {
  const std::thread::id id = mainThread.load();
  return id == std::thread::id() || id == std::this_thread::get_id();
}

void MainThreadCall(const std::function<void()>& fn) {
  if (IsMainThread()) {
    fn();
    return;
  }
  HandOff& s = State();
  Call call{&fn, nullptr};
  std::function<void()> wake;
  {
    std::lock_guard lock(s.mutex);
    s.queue.push_back(&call);
    wake = s.wake;
  }
  s.queued.notify_all();
  if (wake) wake();
  std::unique_lock lock(s.mutex);
  s.finished.wait(lock, [&] { return call.done; });
  if (call.error) std::rethrow_exception(call.error);
}

bool CheckSynchronize(std::chrono::milliseconds timeout) {
  HandOff& s = State();
  std::unique_lock lock(s.mutex);
  if (s.queue.empty() && timeout.count() > 0)
    s.queued.wait_for(lock, timeout, [&] { return !s.queue.empty(); });
  bool ran = false;
  while (!s.queue.empty()) {
    Call* call = s.queue.front();
    s.queue.pop_front();
    lock.unlock();
    try {
      (*call->fn)();
    } catch (...) {
      call->error = std::current_exception();
    }
    lock.lock();
    call->done = true;
    ran = true;
    s.finished.notify_all();
  }
  return ran;
}

void SetWakeMainThread(std::function<void()> wake) {
  std::lock_guard lock(State().mutex);
  State().wake = std::move(wake);
}

void SetProcessMessagesHook(std::function<void()> hook) {
  std::lock_guard lock(State().mutex);
  State().pump = std::move(hook);
}

void ProcessMessages() {
  std::function<void()> pump;
  {
    std::lock_guard lock(State().mutex);
    pump = State().pump;
  }
  if (pump) pump();
}

bool WaitServing(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  constexpr std::chrono::milliseconds slice(10);
  const auto start = std::chrono::steady_clock::now();
  while (!done()) {
    if (timeout.count() >= 0 && std::chrono::steady_clock::now() - start >= timeout) return done();
    CheckSynchronize(slice);
    ProcessMessages();
  }
  return true;
}

}  // namespace platform
