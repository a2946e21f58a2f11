// A channel whose incoming bytes are a script: each poll takes the next
// item, a byte or a gap (an empty poll). Everything written is kept.
#pragma once
#include <deque>
#include <vector>

#include "channel/channel.h"

namespace qs::test {

inline constexpr int kGap = -1;

class ScriptedChannel : public Channel {
 public:
  ScriptedChannel() {
    allocateRxBuffer();
    isOpen = 1;
  }
  void feed(const std::vector<uint8_t>& bytes) { script.insert(script.end(), bytes.begin(), bytes.end()); }
  void gaps(int n) { script.insert(script.end(), static_cast<size_t>(n), kGap); }
  int write(const uint8_t* data, int length, int) override {
    written.insert(written.end(), data, data + length);
    return 1;
  }
  int read(uint8_t* buffer, int max, unsigned* count) override {
    *count = 0;
    ++polls;
    if (script.empty() || max < 1) return 0;
    int item = script.front();
    script.pop_front();
    if (item == kGap) return 0;
    buffer[0] = static_cast<uint8_t>(item);
    *count = 1;
    return 1;
  }
  std::deque<int> script;
  std::vector<uint8_t> written;
  int polls = 0;
};

}  // namespace qs::test
