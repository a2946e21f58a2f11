// Small byte helpers shared by the device link, the line scan and the
// verification settings.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace qs {

// 0..99 to packed BCD: 42 gives 0x42.
uint8_t toBcd(int value);
// Packed BCD to its value: 0x42 gives 42; nibbles above 9 count as they are.
int fromBcd(int bcd);
// 1 when some character of `set` occurs in `text`, else 0 (also for an empty text or set).
int containsAny(const char* text, const char* set);

// Decimal conversion in the manner of the C library's: leading blanks, an
// optional sign, digits up to the first other character; 0 when there are
// none. Values out of range saturate instead of overflowing.
long decimalValue(std::string_view text);

}  // namespace qs
