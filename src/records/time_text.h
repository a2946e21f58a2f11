// Moments as the records keep and show them.
#pragma once
#include <cstdint>
#include <string>

namespace qs::records {

// A moment as the records keep it: seconds since 1970 in UTC and the
// writer's offset from UTC then, so that it shows as the writer's local
// time wherever it is read and a clock change reorders nothing.
struct Stamp {
  int64_t utc = -1;  // < 0: none
  int offsetMin = 0;
  bool known() const { return utc >= 0; }
};
Stamp nowStamp();
// "YYYY-MM-DD HH:MM:SS" in the writer's local time ("" when none).
std::string localText(const Stamp& s);
// "YYYY-MM-DD HH:MM:SS" in UTC, as stored; and back (false for other text).
std::string utcText(int64_t utc);
bool parseUtcText(const std::string& text, int64_t* utc);
// "UTC+03:00": the writer's offset from UTC at a moment.
std::string offsetText(const Stamp& s);
// The writer's local time, "-" when the moment is not known.
std::string whenText(const Stamp& s);

}  // namespace qs::records
