// The calendar's rules for the fields of a date, a time and a timestamp: what
// a server stores as one and reads back as the same value. Years 1 to 9999
// (the four digits of the text form; there is no year 0), months 1 to 12,
// days to the month's last (February 29 only in leap years), hours 0 to 23,
// minutes and seconds 0 to 59, fractions below one second in nanoseconds.
#pragma once

#include <cstdint>

namespace q4 {

constexpr uint32_t kMaxNanoseconds = 999999999;

constexpr bool is_leap_year(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

constexpr bool is_valid_date(int year, int month, int day) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  return day <= kDays[month - 1] + (month == 2 && is_leap_year(year) ? 1 : 0);
}

constexpr bool is_valid_clock(int hour, int minute, int second) {
  return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

}  // namespace q4
