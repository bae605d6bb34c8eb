// What the benchmarks that run as ODBC applications through unixODBC share:
// statement text as the API takes it, the diagnostic of a failed call, and the
// CPU time of the process (application, Driver Manager and driver together).
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

// `text` as the SQLCHAR* the ODBC calls take; valid while `text` lives.
inline SQLCHAR* sql(const std::string& text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str()));
}

// The pending diagnostic of the innermost handle given, as "SQLSTATE text".
inline std::string diagnostic(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt) {
  SQLCHAR state[6] = {}, message[512] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLError(env, dbc, stmt, state, &native, message, sizeof message, &length))) {
    return "(no diagnostic)";
  }
  return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(message);
}

// Prints "WHAT failed: " and the diagnostic, and ends the program: a
// benchmark that lost a step has no figure to give.
[[noreturn]] inline void fail(const char* what, SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt) {
  fprintf(stderr, "%s failed: %s\n", what, diagnostic(env, dbc, stmt).c_str());
  exit(1);
}

// User and system CPU seconds this process has used.
inline double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace bench
