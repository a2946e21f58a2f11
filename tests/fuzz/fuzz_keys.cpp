// Arbitrary bytes as what a terminal sends for key presses.
#include <cstddef>
#include <cstdint>

#include "platform/key_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qs::platform::KeyDecoder decoder;
  size_t at = 0;
  while (at < size) {
    size_t chunk = 1 + data[at] % 7;  // bytes arrive in reads of any size
    if (at + chunk > size) chunk = size - at;
    decoder.feed(reinterpret_cast<const char*>(data + at), chunk);
    while (decoder.hasKey()) decoder.popKey();
    at += chunk;
  }
  decoder.expire();
  while (decoder.hasKey()) decoder.popKey();
  return 0;
}
