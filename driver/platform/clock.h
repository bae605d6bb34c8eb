// Today's date as the driver sees it: the calendar date in UTC.
#pragma once

namespace q4 {

// Stores today's UTC date (year e.g. 2024, month 1-12, day 1-31).
void utc_today(int* year, int* month, int* day);

#ifdef Q4_TEST_SEAMS
// Test builds only: makes utc_today answer the given date until
// clear_utc_today_override() is called. Process-wide, not thread-safe.
void override_utc_today(int year, int month, int day);
void clear_utc_today_override();
#endif

}  // namespace q4
