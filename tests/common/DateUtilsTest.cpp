// Civil dates, automation dates and the ISO texts they are read from.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "DateUtils.h"

namespace {

using namespace common;

struct TDateCase {
  const char* Text;
  bool Valid;
  double Date;
  const char* Shown = nullptr;  // CivilFromDate's reading when it differs from Text
};

// YYYY-MM-DD, with " HH:MM:SS" when there is a time of day.
std::string Show(double date) {
  long secs = -1;
  TCivilDate c = CivilFromDate(date, secs);
  char buf[48];
  if (secs == 0)
    std::snprintf(buf, sizeof buf, "%04lld-%02d-%02d", static_cast<long long>(c.Year), c.Month, c.Day);
  else
    std::snprintf(buf, sizeof buf, "%04lld-%02d-%02d %02ld:%02ld:%02ld", static_cast<long long>(c.Year), c.Month, c.Day,
                  secs / 3600, secs / 60 % 60, secs % 60);
  return buf;
}

TEST(DateUtilsTest, BoundaryDates) {
  const TDateCase cases[] = {
      {"1899-12-30", true, 0},
      {"1899-12-29", true, -1},
      {"1899-12-31", true, 1},
      {"1900-01-01", true, 2},
      {"1900-02-28", true, 60},
      {"1900-02-29", false, 0},  // a century, not a leap year
      {"1900-03-01", true, 61},
      {"2000-02-29", true, 36585},  // divisible by 400: a leap year
      {"2024-02-29", true, 45351},
      {"2025-02-29", false, 0},
      {"1970-01-01", true, 25569},
      {"2025-06-30", true, 45838},
      {"9999-12-31", true, 2958465},
      {"0001-01-01", true, -693593},
      {"1600-02-29", true, -109512},
      {"1700-02-29", false, 0},
      {"1899-01-01", true, -363},
      // Before 1899-12-30 the whole days count down and the time of day still counts up.
      {"1899-12-29 06:00", true, -1.25, "1899-12-29 06:00:00"},
      {"1899-01-01 18:00:00", true, -363.75},
      {"1899-12-30 06:00", true, 0.25, "1899-12-30 06:00:00"},
      {"2025-06-30T12:30:15.250", true, 45838 + 45015 / 86400.0, "2025-06-30 12:30:15"},
      {"9999-12-31 23:59:59", true, 2958465 + 86399 / 86400.0},
      {"2025-02-30", false, 0},
      {"2025-04-31", false, 0},
      {"2025-13-01", false, 0},
      {"2025-00-10", false, 0},
      {"2025-01-00", false, 0},
      {"2025-1-01", false, 0},
      {"2025-6-30", false, 0},
      {"2025-06-30x", false, 0},
      {"2025-06-30 ", false, 0},
      {" 2025-06-30", false, 0},
      {"2025- 6-30", false, 0},
      {"2025-+6-30", false, 0},
      {"+202-06-30", false, 0},
      {"20250630", false, 0},
      {"", false, 0},
      {"2025-06-30 24:00", false, 0},
      {"2025-06-30 12:60", false, 0},
      {"2025-06-30 12:00:60", false, 0},
      {"2025-06-30 12", false, 0},
  };
  for (const TDateCase& c : cases) {
    SCOPED_TRACE(c.Text);
    const std::string text = c.Text;
    const bool dayOnly = text.size() == 10;
    double date = 12345;
    EXPECT_EQ(TryParseIsoDateTime(text, date), c.Valid);
    if (!c.Valid) {
      EXPECT_EQ(date, 12345);
      EXPECT_FALSE(TryParseIsoDate(text, date));
      continue;
    }
    EXPECT_EQ(date, c.Date);
    double day = 12345;
    EXPECT_EQ(TryParseIsoDate(text, day), dayOnly);
    if (dayOnly) {
      EXPECT_EQ(day, c.Date);
    }
    // Back to the calendar and again to the same automation date.
    EXPECT_EQ(Show(c.Date), c.Shown ? c.Shown : c.Text);
    long secs = 0;
    TCivilDate civil = CivilFromDate(c.Date, secs);
    EXPECT_EQ(DateFromCivil(civil.Year, civil.Month, civil.Day, secs), c.Date);
    EXPECT_EQ(CivilFromDays(DaysFromCivil(civil.Year, civil.Month, civil.Day)).Day, civil.Day);
  }
  // A time of day on day 0 reads the same on either side of zero; a fraction that rounds to
  // midnight stays on its day.
  EXPECT_EQ(Show(-0.25), "1899-12-30 06:00:00");
  EXPECT_EQ(Show(0.9999999), "1899-12-30 23:59:59");
  EXPECT_EQ(Show(-1.9999999), "1899-12-29 23:59:59");
  EXPECT_EQ(DaysInMonth(2025, 13), 0);
  EXPECT_EQ(DaysInMonth(2025, 0), 0);
  // Every day of four centuries, across 1899-12-30, goes to the calendar and back.
  for (std::int64_t d = DaysFromCivil(1800, 1, 1); d <= DaysFromCivil(2200, 12, 31); ++d) {
    TCivilDate civil = CivilFromDays(d);
    ASSERT_TRUE(IsValidCivil(civil.Year, civil.Month, civil.Day)) << d;
    ASSERT_EQ(DaysFromCivil(civil.Year, civil.Month, civil.Day), d);
    ASSERT_EQ(d == DaysFromCivil(civil.Year, 1, 1) + 365,
              IsLeapYear(civil.Year) && civil.Month == 12 && civil.Day == 31);
  }
  const double today = TodayDate();
  EXPECT_EQ(today, static_cast<double>(static_cast<std::int64_t>(today)));  // whole days
  EXPECT_GT(today, 45000);
}

}  // namespace
