// A channel that leads straight to a simulated peer in the same process.
#pragma once
#include <mutex>

#include "channel/channel.h"
#include "sim/peer.h"

namespace qs::sim {

class LoopbackChannel : public Channel {
 public:
  explicit LoopbackChannel(Peer& peer);
  void purge() override;
  int close() override;
  int write(const uint8_t* data, int length, int preamble) override;
  int read(uint8_t* buffer, int max, unsigned* count) override;
  // The peer's lock, for a test that changes the peer while threads use it.
  std::mutex& lock() { return mutex_; }

 private:
  Peer& peer_;
  std::mutex mutex_;
};

}  // namespace qs::sim
