// Arbitrary bytes as an Intel HEX file loaded into the EEPROM image.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "eeprom/intel_hex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t image[qs::kEepromSize];
  uint8_t flags[qs::kEepromSize] = {};
  qs::HexError error;
  qs::parseHexImage(std::string_view(reinterpret_cast<const char*>(data), size), image, flags, 3, &error);
  return 0;
}
