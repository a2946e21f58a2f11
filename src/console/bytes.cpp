#include "console/bytes.h"

#include <cstdio>

#include <cctype>
#include <climits>
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

long decimalValue(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    int digit = text[i] - '0';
    value = value > (LONG_MAX - digit) / 10 ? LONG_MAX : value * 10 + digit;
  }
  return negative ? -value : value;
}

}  // namespace qs
