// The process-wide numeric marks of the user's locale: the defaults of the
// marks that the logon sends.
#pragma once

namespace q4 {

// Each mark holds at most 5 bytes and a NUL.
struct LocaleMarks {
  char currency_sign[6];
  char decimal_mark[6];
  char thousand_mark[6];
};

// Reloads the marks from the C library's data for the user's locale (the
// LC_NUMERIC / LC_MONETARY / LANG environment), without changing the
// process's or the thread's locale. Called at the start of every
// SQLDriverConnect; until the first call the marks are empty.
void load_locale_marks();

// A copy of the marks as last loaded (empty texts before the first load).
LocaleMarks locale_marks();

#ifdef Q4_TEST_SEAMS
// Test builds only: forgets the loaded marks, as in a process that has not
// loaded them yet.
void reset_locale_marks();
#endif

}  // namespace q4
