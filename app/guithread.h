// Connects the components' hand-off to the user-interface thread (platform/mainthread.h) with Qt's
// event loop: the thread that calls InstallMainThreadHandOff becomes the user-interface thread, a
// call queued from a component thread wakes the event loop, which runs it, and the waits of the
// user-interface thread pump the window messages.
#pragma once

namespace app {

// Call once, on the thread that owns the QApplication, after it was created.
void InstallMainThreadHandOff();

}  // namespace app
