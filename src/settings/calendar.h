// Dates of the civil (proleptic Gregorian) calendar as the settings, the
// records and the report write them: "YYYY-MM-DD". One calendar for all of
// them, so that a date one of them takes the others take too.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace qs {

// Days since 1970-01-01 of a civil date (a day past the month's end counts
// on into the next month), and back.
int64_t daysFromCivil(int64_t year, int month, int day);
void civilFromDays(int64_t days, int64_t* year, int* month, int* day);

// "YYYY-MM-DD" of a day that exists (2026-02-31 does not).
bool isCalendarDate(std::string_view text);
// The date's fields, when it is one.
bool parseCalendarDate(std::string_view text, int64_t* year, int* month, int* day);
std::string dateText(int64_t year, int month, int day);

// "YYYY-MM-DD HH:MM:SS" of seconds since 1970 counted in one zone.
std::string civilTimeText(int64_t seconds);

// The last day of a validity of `years` from `date`: the same day `years`
// later, less one day ("2026-12-08", 16 -> "2042-12-07"); "" when `date`
// is no date or `years` is not positive.
std::string lastDayAfterYears(const std::string& date, int years);

}  // namespace qs
