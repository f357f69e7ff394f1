#include "media/unicodeprotocol.h"

#include <atomic>

namespace media {
namespace {
std::atomic<bool> registered{false};
}

void RegisterUnicodeProtocol() { registered = true; }
bool UnicodeProtocolRegistered() { return registered; }

}  // namespace media
