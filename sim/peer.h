// Something at the far end of a line: takes the bytes the program writes and
// hands back the bytes it answers with when they are due.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qs::sim {

class Peer {
 public:
  virtual ~Peer() = default;
  // Bytes from the program at time `nowMs` (a tick count).
  virtual void receive(const uint8_t* data, size_t size, uint32_t nowMs) = 0;
  // Answer bytes due by `nowMs`, at most `max`.
  virtual size_t take(uint8_t* out, size_t max, uint32_t nowMs) = 0;
  // Time (ms from now) until the next byte is due; -1 when none waits.
  virtual int nextDueIn(uint32_t nowMs) const = 0;
};

}  // namespace qs::sim
