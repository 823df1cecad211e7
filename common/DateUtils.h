// Calendar dates: proleptic Gregorian civil dates, day counts and automation dates (days since
// 30 December 1899 as a double, the fraction the time of day), as the components exchange them.
#pragma once

#include <cstdint>
#include <string_view>

namespace common {

struct TCivilDate {
  std::int64_t Year = 1970;
  int Month = 1, Day = 1;
};

// Days from 1899-12-30 (automation day 0) to 1970-01-01.
constexpr std::int64_t kDaysTo1970 = 25569;

bool IsLeapYear(std::int64_t year);
// 28..31; 0 for a month outside 1..12.
int DaysInMonth(std::int64_t year, int month);
// True when the day exists in the calendar; any year is accepted.
bool IsValidCivil(std::int64_t year, int month, int day);

// Days from 1970-01-01 of a valid civil date, and the civil date of such a day count.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day);
TCivilDate CivilFromDays(std::int64_t days);

// Automation date of a valid civil date at a time of day (seconds since midnight). Before
// 1899-12-30 the whole days count down while the time of day still counts up: 1899-12-29 06:00
// is -1.25.
double DateFromCivil(std::int64_t year, int month, int day, long secondsOfDay = 0);
// The reverse of DateFromCivil: the civil date and the time of day in whole seconds, rounded,
// at most 86399 (a fraction that rounds to midnight stays on its own day).
TCivilDate CivilFromDate(double date, long& secondsOfDay);

// Exactly "YYYY-MM-DD" of a calendar day: four-digit year, two-digit month and day, nothing
// before or after. False (date untouched) for anything else.
bool TryParseIsoDate(std::string_view text, double& date);
// "YYYY-MM-DD", optionally followed by " HH:MM", " HH:MM:SS" or " HH:MM:SS.fff" ("T" also
// separates the time; fractions of a second are accepted and dropped), as databases write them.
bool TryParseIsoDateTime(std::string_view text, double& date);

// The local date today as a whole automation date.
double TodayDate();

}  // namespace common
