// Today's date as the driver sees it: the calendar date in UTC.
#pragma once

namespace q4 {

// Stores today's UTC date (year e.g. 2024, month 1-12, day 1-31).
void utc_today(int* year, int* month, int* day);

// Testing aid: makes utc_today answer the given date until
// clear_utc_today_override() is called. Process-wide, not thread-safe.
void override_utc_today(int year, int month, int day);
void clear_utc_today_override();

}  // namespace q4
