// Arbitrary bytes as the telemechanics controller's reply to each of its
// requests: the receiver and the reply decoder must hold.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>

#include "channel/channel.h"
#include "devlink/dev_link.h"
#include "platform/time.h"
#include "uso/uso_screen.h"

namespace {

const int kCodes[] = {0x3F, 0x40, 0x41, 0x43, 0x48, 0x4A, 0x4C, 0x51, 0x52, 0x53, 0x55, 0x56, 0x57, 0x59,
                      0x5A, 0x5C, 0x5F, 0x60, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6F};

class BytesChannel : public qs::Channel {
 public:
  BytesChannel() {
    allocateRxBuffer();
    isOpen = 1;
  }
  void set(const uint8_t* data, size_t size) {
    data_ = data;
    size_ = size;
    at_ = 0;
  }
  int read(uint8_t* buffer, int max, unsigned* count) override {
    *count = 0;
    if (at_ >= size_ || max < 1) return 0;
    buffer[0] = data_[at_++];
    *count = 1;
    return 1;
  }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0, at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qs::platform::ClockOverride noPauses{[](uint32_t) {}, [] { return 0u; }};
  qs::platform::setClockOverride(&noPauses);
  static BytesChannel* channel = nullptr;
  static std::unique_ptr<qs::DevLink> link;
  static std::unique_ptr<qs::UsoScreen> uso;
  if (!uso) {
    std::string reg = "/tmp/qs-fuzz-reg-" + std::to_string(getpid());
    if (FILE* f = std::fopen(reg.c_str(), "w")) {
      std::fputs("AWATTHR 0x01 16 1 $0 2 0\n", f);
      std::fclose(f);
    }
    auto ch = std::make_unique<BytesChannel>();
    channel = ch.get();
    link = std::make_unique<qs::DevLink>(0x21, std::move(ch), reg);
    uso = std::make_unique<qs::UsoScreen>(*link);
  }
  if (size < 2) return 0;
  qs::DeviceState& s = *link->state;
  s.address = 0x21;
  s.tiMaskBytes = 1 + data[1] % 4;
  channel->set(data + 2, size - 2);
  uso->sendRequest(s, kCodes[data[0] % (sizeof kCodes / sizeof kCodes[0])], 0xFFFFFFFFu, data[1]);
  uso->receiveResponse(s);
  return 0;
}
