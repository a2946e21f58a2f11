// A channel whose incoming bytes are a fuzzer's input, one a read, then
// nothing; what is written goes nowhere.
#pragma once
#include <cstddef>
#include <cstdint>

#include "channel/channel.h"

namespace qs::fuzz {

class BytesChannel : public Channel {
 public:
  BytesChannel(const uint8_t* data, size_t size) : data_(data), size_(size) {
    allocateRxBuffer();
    isOpen = 1;
  }
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

}  // namespace qs::fuzz
