// Arbitrary bytes from the installation's line: read as display frames,
// decoded and taken as the read thread takes them.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "bytes_channel.h"
#include "console/console.h"
#include "console/virtual_console.h"
#include "zu/zu_controller.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qs::VirtualConsole console;
  static bool once = [] {
    qs::Console::init(&console);
    return true;
  }();
  (void)once;
  static qs::ZuController zu;
  zu.channel = std::make_unique<qs::fuzz::BytesChannel>(data, size);
  zu.avgSum = 0;
  zu.avgCount = 0;
  bool discard = true;
  // With no idle reads allowed a frame ends where the input ends.
  while (zu.readFrame(1, 0) > 0) zu.takeFrame(discard);
  return 0;
}
