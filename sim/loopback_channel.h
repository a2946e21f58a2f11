// A channel that leads straight to a simulated line in the same process.
#pragma once
#include "channel/channel.h"
#include "sim/device_sim.h"

namespace qs::sim {

class LoopbackChannel : public Channel {
 public:
  explicit LoopbackChannel(SimLine& line);
  void purge() override;
  int close() override;
  int write(const uint8_t* data, int length, int preamble) override;
  int read(uint8_t* buffer, int max, unsigned* count) override;

 private:
  SimLine& line_;
};

}  // namespace qs::sim
