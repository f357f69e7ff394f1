#include "app/guithread.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "platform/mainthread.h"

namespace app {

void InstallMainThreadHandOff() {
  platform::SetMainThread();
  platform::SetWakeMainThread([] {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { platform::CheckSynchronize(); }, Qt::QueuedConnection);
  });
  platform::SetProcessMessagesHook([] { QCoreApplication::processEvents(); });
}

}  // namespace app
