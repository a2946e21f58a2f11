#include "sim/loopback_channel.h"

#include "platform/time.h"

namespace qs::sim {

LoopbackChannel::LoopbackChannel(Peer& peer) : peer_(peer) {
  isOpen = allocateRxBuffer() ? 1 : 0;
  portNumber = 0;
}

void LoopbackChannel::purge() {
  std::lock_guard<std::mutex> hold(mutex_);
  uint8_t scratch[256];
  while (peer_.take(scratch, sizeof scratch, platform::tickCount()) > 0) {
  }
}

int LoopbackChannel::close() {
  isOpen = 0;
  return 0;
}

int LoopbackChannel::write(const uint8_t* data, int length, int) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (length > 0) peer_.receive(data, static_cast<size_t>(length), platform::tickCount());
  return 1;
}

int LoopbackChannel::read(uint8_t* buffer, int max, unsigned* count) {
  std::lock_guard<std::mutex> hold(mutex_);
  size_t n = max > 0 && isOpen ? peer_.take(buffer, static_cast<size_t>(max), platform::tickCount()) : 0;
  if (count != nullptr) *count = static_cast<unsigned>(n);
  return static_cast<int>(n);
}

}  // namespace qs::sim
