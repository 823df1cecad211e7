#include "DateUtils.h"

#include <cmath>
#include <ctime>

namespace common {

bool IsLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(std::int64_t year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool IsValidCivil(std::int64_t year, int month, int day) { return day >= 1 && day <= DaysInMonth(year, month); }

// Counted in 400-year eras from 0000-03-01, so that the leap day ends a year.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yoe = year - era * 400;
  const std::int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

TCivilDate CivilFromDays(std::int64_t days) {
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  TCivilDate c;
  c.Day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  c.Month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  c.Year = yoe + era * 400 + (c.Month <= 2 ? 1 : 0);
  return c;
}

double DateFromCivil(std::int64_t year, int month, int day, long secondsOfDay) {
  double whole = static_cast<double>(DaysFromCivil(year, month, day) + kDaysTo1970);
  double frac = static_cast<double>(secondsOfDay) / 86400.0;
  return whole >= 0 ? whole + frac : whole - frac;
}

TCivilDate CivilFromDate(double date, long& secondsOfDay) {
  double whole = std::trunc(date);
  secondsOfDay = std::lround(std::fabs(date - whole) * 86400.0);
  if (secondsOfDay >= 86400) secondsOfDay = 86399;
  return CivilFromDays(static_cast<std::int64_t>(whole) - kDaysTo1970);
}

namespace {

// Digits only: no sign, no blanks, exactly len of them.
bool ReadDigits(std::string_view t, std::size_t pos, std::size_t len, int& out) {
  if (pos + len > t.size()) return false;
  out = 0;
  for (std::size_t k = pos; k < pos + len; ++k) {
    if (t[k] < '0' || t[k] > '9') return false;
    out = out * 10 + (t[k] - '0');
  }
  return true;
}

bool ReadIsoDay(std::string_view t, int& y, int& m, int& d) {
  return t.size() >= 10 && t[4] == '-' && t[7] == '-' && ReadDigits(t, 0, 4, y) && ReadDigits(t, 5, 2, m) &&
         ReadDigits(t, 8, 2, d) && IsValidCivil(y, m, d);
}

}  // namespace

bool TryParseIsoDate(std::string_view text, double& date) {
  int y, m, d;
  if (text.size() != 10 || !ReadIsoDay(text, y, m, d)) return false;
  date = DateFromCivil(y, m, d);
  return true;
}

bool TryParseIsoDateTime(std::string_view t, double& date) {
  int y, m, d, hh = 0, mi = 0, ss = 0;
  if (!ReadIsoDay(t, y, m, d)) return false;
  std::size_t p = 10;
  if (p < t.size()) {
    if (t[p] != ' ' && t[p] != 'T') return false;
    if (!ReadDigits(t, p + 1, 2, hh) || t.size() < p + 6 || t[p + 3] != ':' || !ReadDigits(t, p + 4, 2, mi))
      return false;
    p += 6;
    if (p < t.size()) {
      if (t[p] != ':' || !ReadDigits(t, p + 1, 2, ss)) return false;
      p += 3;
      if (p < t.size() && t[p] == '.') {
        ++p;
        while (p < t.size() && t[p] >= '0' && t[p] <= '9') ++p;
      }
    }
    if (p != t.size() || hh > 23 || mi > 59 || ss > 59) return false;
  }
  date = DateFromCivil(y, m, d, hh * 3600L + mi * 60L + ss);
  return true;
}

double TodayDate() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return static_cast<double>(DaysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) + kDaysTo1970);
}

}  // namespace common
