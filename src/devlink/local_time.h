// Local-time conversions of the device's clock fields.
#pragma once
#include <cstdint>
#include <ctime>

namespace qs {

// Broken-down local time of `t` (thread-safe); a zero tm when the C library
// cannot convert it.
std::tm localTime(int64_t t);
// The same, saying whether the conversion worked.
bool localTime(int64_t t, std::tm* out);
// mktime of a broken-down local time, daylight-saving time left to the C
// library (-1 when it names no time).
int64_t fromLocalTm(std::tm tm);
// Seconds since 1970 of a local date and time; daylight-saving time is left
// to the C library to decide. -1 when the fields name no time.
int64_t fromLocalTime(int year, int month, int day, int hour, int minute, int second);
// Six BCD bytes (year - 2000, month, day, hour, minute, second) to seconds.
int64_t fromBcdTime(const uint8_t* bcd);

}  // namespace qs
