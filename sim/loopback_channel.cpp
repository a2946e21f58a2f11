#include "sim/loopback_channel.h"

#include "platform/time.h"

namespace qs::sim {

LoopbackChannel::LoopbackChannel(SimLine& line) : line_(line) {
  isOpen = allocateRxBuffer() ? 1 : 0;
  portNumber = 0;
}

void LoopbackChannel::purge() {
  uint8_t scratch[256];
  while (line_.take(scratch, sizeof scratch, platform::tickCount()) > 0) {
  }
}

int LoopbackChannel::close() {
  isOpen = 0;
  rxBuffer.reset();
  return 0;
}

int LoopbackChannel::write(const uint8_t* data, int length, int) {
  if (length > 0) line_.receive(data, static_cast<size_t>(length), platform::tickCount());
  return 1;
}

int LoopbackChannel::read(uint8_t* buffer, int max, unsigned* count) {
  size_t n = max > 0 ? line_.take(buffer, static_cast<size_t>(max), platform::tickCount()) : 0;
  if (count != nullptr) *count = static_cast<unsigned>(n);
  return static_cast<int>(n);
}

}  // namespace qs::sim
