#include "platform/locale_marks.h"

#include <langinfo.h>
#include <locale.h>

#include <cstring>

#include <pthread.h>

namespace q4 {

namespace {

// Loads and reads may come from several connections' threads at once.
pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;
LocaleMarks g_marks{};

// A mark that does not fit whole in its 6-byte field is left empty rather
// than cut, since cutting could split a multi-byte character.
void store_mark(char (&field)[6], const char* text) {
  size_t length = text == nullptr ? 0 : strlen(text);
  if (length >= sizeof field) length = 0;
  if (length > 0) memcpy(field, text, length);
  field[length] = '\0';
}

}  // namespace

void load_locale_marks() {
  // The C library shares the loaded locale data between the locale objects
  // of all threads and guards it with a lock of its own, which the thread
  // sanitizer cannot see; loading under the marks' lock keeps connects on
  // several threads at once free of reports. A connect loads once.
  pthread_mutex_lock(&g_mutex);
  LocaleMarks marks{};
  // Only the two categories the marks come from: a misconfigured LC_CTYPE or
  // LC_COLLATE must not cost the user the numeric marks.
  locale_t user = newlocale(LC_NUMERIC_MASK | LC_MONETARY_MASK, "", static_cast<locale_t>(0));
  if (user != static_cast<locale_t>(0)) {
    // The currency text starts with its position: '-' before the amount,
    // '+' after it, '.' in place of the radix character.
    const char* currency = nl_langinfo_l(CRNCYSTR, user);
    if (currency != nullptr && (*currency == '-' || *currency == '+' || *currency == '.')) {
      ++currency;
    }
    store_mark(marks.currency_sign, currency);
    store_mark(marks.decimal_mark, nl_langinfo_l(RADIXCHAR, user));
    store_mark(marks.thousand_mark, nl_langinfo_l(THOUSEP, user));
    freelocale(user);
  } else {
    // The environment names a locale that is not installed: the C library
    // itself would run in the "C" locale, whose only mark is the point.
    store_mark(marks.decimal_mark, ".");
  }
  g_marks = marks;
  pthread_mutex_unlock(&g_mutex);
}

LocaleMarks locale_marks() {
  pthread_mutex_lock(&g_mutex);
  LocaleMarks copy = g_marks;
  pthread_mutex_unlock(&g_mutex);
  return copy;
}

#ifdef Q4_TEST_SEAMS
void reset_locale_marks() {
  pthread_mutex_lock(&g_mutex);
  g_marks = LocaleMarks{};
  pthread_mutex_unlock(&g_mutex);
}
#endif

}  // namespace q4
