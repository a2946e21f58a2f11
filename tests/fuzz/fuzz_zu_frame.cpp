// Arbitrary bytes from the installation's line: read as display frames,
// decoded and taken as the read thread takes them.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "channel/channel.h"
#include "console/console.h"
#include "console/virtual_console.h"
#include "zu/zu_controller.h"

namespace {

// Hands out the input a few bytes a read, then nothing.
class InputChannel : public qs::Channel {
 public:
  InputChannel(const uint8_t* data, size_t size) : data_(data), size_(size) { isOpen = 1; }
  int write(const uint8_t*, int, int) override { return 1; }
  int read(uint8_t* buffer, int max, unsigned* count) override {
    *count = 0;
    if (at_ >= size_ || max < 1) return 0;
    buffer[0] = data_[at_++];
    *count = 1;
    return 1;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qs::VirtualConsole console;
  static bool once = [] {
    qs::Console::init(&console);
    return true;
  }();
  (void)once;
  static qs::ZuController zu;
  zu.channel = std::make_unique<InputChannel>(data, size);
  zu.avgSum = 0;
  zu.avgCount = 0;
  bool discard = true;
  // With no idle reads allowed a frame ends where the input ends.
  while (zu.readFrame(1, 0) > 0) zu.takeFrame(discard);
  return 0;
}
