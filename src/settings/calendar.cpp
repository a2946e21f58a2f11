#include "settings/calendar.h"

#include "console/text_file.h"

namespace qs {

int64_t daysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t days, int64_t* year, int* month, int* day) {
  int64_t z = days + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = yoe + era * 400 + (*month <= 2);
}

bool parseCalendarDate(std::string_view d, int64_t* year, int* month, int* day) {
  if (d.size() != 10 || d[4] != '-' || d[7] != '-') return false;
  for (size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u})
    if (d[i] < '0' || d[i] > '9') return false;
  auto num = [&](size_t at, size_t n) {
    int v = 0;
    for (size_t i = at; i < at + n; ++i) v = v * 10 + (d[i] - '0');
    return v;
  };
  int y = num(0, 4), m = num(5, 2), dd = num(8, 2);
  static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12 || dd < 1 || dd > kDays[m - 1]) return false;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (m == 2 && dd == 29 && !leap) return false;
  *year = y;
  *month = m;
  *day = dd;
  return true;
}

bool isCalendarDate(std::string_view text) {
  int64_t y;
  int m, d;
  return parseCalendarDate(text, &y, &m, &d);
}

std::string dateText(int64_t year, int month, int day) {
  std::string out;
  appendf(out, "%04lld-%02d-%02d", static_cast<long long>(year), month, day);
  return out;
}

std::string civilTimeText(int64_t seconds) {
  int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  int64_t rest = seconds - days * 86400;
  int64_t y;
  int m, d;
  civilFromDays(days, &y, &m, &d);
  std::string out = dateText(y, m, d);
  appendf(out, " %02lld:%02lld:%02lld", static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
          static_cast<long long>(rest % 60));
  return out;
}

std::string lastDayAfterYears(const std::string& date, int years) {
  int64_t y;
  int m, d;
  if (years <= 0 || !parseCalendarDate(date, &y, &m, &d)) return "";
  // (29 February in a year that has none counts as 1 March.)
  int64_t y2;
  int m2, d2;
  civilFromDays(daysFromCivil(y + years, m, d) - 1, &y2, &m2, &d2);
  return dateText(y2, m2, d2);
}

}  // namespace qs
