#include "platform/sleepinhibitor.h"

#include <dbus/dbus.h>
#include <unistd.h>

#include <mutex>

namespace platform {

namespace {

constexpr int kCallTimeoutMs = 2000;

std::mutex inhibitorMutex;
std::unique_ptr<ISleepInhibitor> currentInhibitor;

struct TBusError {
  DBusError error;
  TBusError() { dbus_error_init(&error); }
  ~TBusError() { dbus_error_free(&error); }
  std::string Text() const {
    return std::string(error.name ? error.name : "") + ": " + (error.message ? error.message : "");
  }
};

}  // namespace

TLogindSleepInhibitor::~TLogindSleepInhibitor() { Release(); }

bool TLogindSleepInhibitor::Acquire(const std::string& reason, std::string& error) {
  if (fd_ >= 0) return true;
  TBusError busError;
  // A connection of our own: the shared one would end the process if the bus went away.
  DBusConnection* bus = dbus_bus_get_private(DBUS_BUS_SYSTEM, &busError.error);
  if (!bus) {
    error = "no system bus (" + busError.Text() + ")";
    return false;
  }
  dbus_connection_set_exit_on_disconnect(bus, FALSE);
  DBusMessage* call = dbus_message_new_method_call(
      "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
      "Inhibit");
  const char* what = "sleep:idle";
  const char* who = "videoconverter";
  const char* why = reason.c_str();
  const char* mode = "block";
  DBusMessage* reply = nullptr;
  if (call && dbus_message_append_args(call, DBUS_TYPE_STRING, &what, DBUS_TYPE_STRING, &who,
                                       DBUS_TYPE_STRING, &why, DBUS_TYPE_STRING, &mode,
                                       DBUS_TYPE_INVALID))
    reply = dbus_connection_send_with_reply_and_block(bus, call, kCallTimeoutMs, &busError.error);
  int fd = -1;
  if (reply &&
      !dbus_message_get_args(reply, &busError.error, DBUS_TYPE_UNIX_FD, &fd, DBUS_TYPE_INVALID))
    fd = -1;
  if (reply) dbus_message_unref(reply);
  if (call) dbus_message_unref(call);
  dbus_connection_close(bus);
  dbus_connection_unref(bus);
  if (fd < 0) {
    error = "the login manager gave no sleep lock (" + busError.Text() + ")";
    return false;
  }
  // The lock lasts as long as this descriptor (a copy the library handed over) stays open.
  fd_ = fd;
  return true;
}

void TLogindSleepInhibitor::Release() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

ISleepInhibitor& SleepInhibitor() {
  std::lock_guard lock(inhibitorMutex);
  if (!currentInhibitor) currentInhibitor = std::make_unique<TLogindSleepInhibitor>();
  return *currentInhibitor;
}

std::unique_ptr<ISleepInhibitor> SetSleepInhibitor(std::unique_ptr<ISleepInhibitor> inhibitor) {
  std::lock_guard lock(inhibitorMutex);
  std::unique_ptr<ISleepInhibitor> previous = std::move(currentInhibitor);
  currentInhibitor = std::move(inhibitor);
  return previous;
}

}  // namespace platform
