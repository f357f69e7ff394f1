// Priority of the calling thread, in the seven levels worker threads are created with.
// Lower levels map to a higher per-thread nice value, Idle to the SCHED_IDLE policy; raising a
// thread above the process's own level needs privilege and otherwise fails without harm.
#pragma once

namespace platform {

enum class TThreadPriority { Idle, Lowest, Lower, Normal, Higher, Highest, TimeCritical };

// The nice value a level asks for, relative to the process's level: Lowest +10, Lower +5,
// Normal 0, Higher -5, Highest -10, TimeCritical -20 (Idle uses a scheduling policy instead: 0).
int NiceOffset(TThreadPriority priority);

// Sets the calling thread's priority. The nice value becomes the process's nice value (read once,
// at the first call) plus NiceOffset, clamped to -20..19, and a thread leaving Idle returns to the
// normal policy. Normal on a thread that was never changed changes nothing and succeeds.
// Returns false, with the thread's priority unchanged, when the system refuses, as it does for an
// unprivileged raise above the process's level (and, on Linux, for an unprivileged way back up
// from a lower level or from Idle).
bool SetCurrentThreadPriority(TThreadPriority priority);

}  // namespace platform
