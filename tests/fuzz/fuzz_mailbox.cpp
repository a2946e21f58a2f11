// Arbitrary mailbox messages as the master's thread reads them, one after
// another on one stand: each message is a length byte and that many bytes
// written over the head of the mailbox (the rest of it keeps what the
// previous message and its answer left there).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "console/console.h"
#include "console/virtual_console.h"
#include "platform/shared_objects.h"
#include "sync/sync_link.h"

namespace {

const std::string& stand() {
  static const std::string name = ".fuzz" + std::to_string(getpid());
  return name;
}

void removeStand() { qs::removeStandObjects(stand()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qs::VirtualConsole console;
  static bool once = [] {
    qs::Console::init(&console);
    std::atexit(removeStand);
    return true;
  }();
  (void)once;

  qs::SyncLink link("qs", nullptr, nullptr, stand());
  if (link.ready != 1 || link.block() == nullptr) return 0;
  link.clearBlock();
  if (!link.ownEvent) link.ownEvent = qs::platform::createEvent(true, false);
  link.running = 1;
  link.refresh = 1;
  uint8_t* box = link.block() + link.mailboxOffset;
  const size_t room = qs::kSyncBlockSize - link.mailboxOffset;
  size_t at = 0;
  while (at < size) {
    size_t length = data[at++] % (room + 1);
    if (length > size - at) length = size - at;
    std::memcpy(box, data + at, length);
    at += length;
    if (link.takeMessage()) break;
  }
  return 0;
}
