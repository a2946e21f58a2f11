#include "records/time_text.h"

#include <cstdio>
#include <ctime>

#include "devlink/local_time.h"
#include "settings/calendar.h"

namespace qs::records {

Stamp nowStamp() {
  Stamp s;
  s.utc = static_cast<int64_t>(std::time(nullptr));
  std::tm tm{};
  if (localTime(s.utc, &tm)) {
    int64_t local = daysFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) * 86400 + tm.tm_hour * 3600 +
                    tm.tm_min * 60 + tm.tm_sec;
    s.offsetMin = static_cast<int>((local - s.utc) / 60);
  }
  return s;
}

std::string localText(const Stamp& s) { return s.known() ? civilTimeText(s.utc + s.offsetMin * 60LL) : ""; }

std::string utcText(int64_t utc) { return civilTimeText(utc); }

bool parseUtcText(const std::string& t, int64_t* utc) {
  int y, mo, d, h, mi, s;
  char tail;
  if (t.size() != 19 || std::sscanf(t.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6)
    return false;
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 || h < 0 || mi < 0 || s < 0) return false;
  *utc = daysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
  return true;
}

std::string offsetText(const Stamp& s) {
  int m = s.offsetMin < 0 ? -s.offsetMin : s.offsetMin;
  char text[32];
  std::snprintf(text, sizeof text, "UTC%c%02d:%02d", s.offsetMin < 0 ? '-' : '+', m / 60, m % 60);
  return text;
}

std::string whenText(const Stamp& s) { return s.known() ? localText(s) : "-"; }

}  // namespace qs::records
