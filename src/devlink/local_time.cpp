#include "devlink/local_time.h"

#include <mutex>

#include "console/bytes.h"

namespace qs {
namespace {
std::mutex gTimeMutex;  // localtime and mktime share the C library's state
}

bool localTime(int64_t t, std::tm* out) {
  std::lock_guard<std::mutex> lock(gTimeMutex);
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm* r = std::localtime(&tt);
  if (r == nullptr) {
    *out = std::tm{};
    return false;
  }
  *out = *r;
  return true;
}

std::tm localTime(int64_t t) {
  std::tm tm;
  localTime(t, &tm);
  return tm;
}

int64_t fromLocalTm(std::tm tm) {
  tm.tm_isdst = -1;
  std::lock_guard<std::mutex> lock(gTimeMutex);
  return static_cast<int64_t>(std::mktime(&tm));
}

int64_t fromLocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  std::lock_guard<std::mutex> lock(gTimeMutex);
  return static_cast<int64_t>(std::mktime(&tm));
}

int64_t fromBcdTime(const uint8_t* b) {
  return fromLocalTime(2000 + fromBcd(b[0]), fromBcd(b[1]), fromBcd(b[2]), fromBcd(b[3]), fromBcd(b[4]),
                       fromBcd(b[5]));
}

}  // namespace qs
