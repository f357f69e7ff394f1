// Hand-off of work from component threads to the user-interface thread.
// MainThreadCall runs a function on the UI thread and waits for it (exceptions travel back);
// the UI thread serves queued calls in CheckSynchronize. Without a GUI, the thread that called
// SetMainThread plays the UI thread; when none was set, MainThreadCall runs the function directly.
#pragma once

#include <chrono>
#include <functional>

namespace platform {

// Marks the calling thread as the user-interface thread.
void SetMainThread();
// True on the user-interface thread, and on any thread while none has been set.
bool IsMainThread();

// On the UI thread (or with no UI thread set): runs fn now. Elsewhere: queues fn, wakes the UI
// thread and blocks until it has run fn; an exception thrown by fn is rethrown here.
void MainThreadCall(const std::function<void()>& fn);

// UI thread only: runs every queued call; waits up to timeout for the first one when the queue
// is empty. Returns true when at least one call ran.
bool CheckSynchronize(std::chrono::milliseconds timeout = std::chrono::milliseconds(0));

// Called (on a worker thread) whenever a call is queued, so a GUI event loop can post itself a
// wake-up event and then drain with CheckSynchronize. Set once at start-up.
void SetWakeMainThread(std::function<void()> wake);

// Dispatches pending window messages of the UI thread. The GUI installs its event pump here;
// without one this does nothing.
void SetProcessMessagesHook(std::function<void()> hook);
void ProcessMessages();

// UI-thread wait helper: loops in short slices serving the hand-off and window messages until
// done() is true or timeout passes (a negative timeout waits without limit). Returns done().
bool WaitServing(const std::function<bool()>& done,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(-1));

}  // namespace platform
