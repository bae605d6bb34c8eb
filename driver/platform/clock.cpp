#include "platform/clock.h"

#include <ctime>

namespace q4 {

#ifdef Q4_TEST_SEAMS
namespace {

bool g_overridden = false;
int g_year = 0;
int g_month = 0;
int g_day = 0;

}  // namespace

void override_utc_today(int year, int month, int day) {
  g_overridden = true;
  g_year = year;
  g_month = month;
  g_day = day;
}

void clear_utc_today_override() {
  g_overridden = false;
}
#endif

void utc_today(int* year, int* month, int* day) {
#ifdef Q4_TEST_SEAMS
  if (g_overridden) {
    *year = g_year;
    *month = g_month;
    *day = g_day;
    return;
  }
#endif
  time_t now = time(nullptr);
  struct tm parts {};
  gmtime_r(&now, &parts);
  *year = parts.tm_year + 1900;
  *month = parts.tm_mon + 1;
  *day = parts.tm_mday;
}

}  // namespace q4
