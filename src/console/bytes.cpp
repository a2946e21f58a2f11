#include "console/bytes.h"

#include <cstring>

namespace qs {

uint8_t toBcd(int value) { return static_cast<uint8_t>(((value / 10) << 4) + (value % 10)); }

int fromBcd(int bcd) { return (bcd & 0x0F) + ((bcd & 0xFF) >> 4) * 10; }

int containsAny(const char* text, const char* set) {
  if (text == nullptr || set == nullptr || *text == '\0' || *set == '\0') return 0;
  for (const char* s = set; *s != '\0'; ++s)
    if (std::strchr(text, *s) != nullptr) return 1;
  return 0;
}

}  // namespace qs
