#include "server/storage/error_map.h"

#include <sqlite3.h>

#include "server/translation/datetime_checks.h"

namespace q4::lite {

namespace {

// Message fragments, tried in order; the first that occurs in SQLite's
// message decides. SQLite reports most compile errors as SQLITE_ERROR, so the
// message is the only way to tell them apart.
struct MessageRule {
  const char* fragment;
  int number;
};

const MessageRule kMessageRules[] = {
    {"no such table", kErrTableNotFound},
    {"no such view", kErrTableNotFound},
    {"no such column", kErrColumnNotFound},
    {"ambiguous column name", kErrAmbiguousColumn},
    {"no such index", kErrIndexNotFound},
    {"no such function", kErrNotSupported},
    {"stored procedures", kErrNotSupported},
    {"unsupported scalar function", kErrNotSupported},
    {"CONVERT", kErrArgument},
    {"syntax error", kErrSyntax},
    {"incomplete input", kErrSyntax},
    {"unrecognized token", kErrSyntax},
    {"unsupported escape clause", kErrSyntax},
    {"unbalanced", kErrSyntax},
    {"already exists", kErrTableExists},  // tables, views, triggers; indexes below
    {"duplicate column name", kErrColumnExists},
    {"values were supplied", kErrDifferentDimensions},
    {"values for", kErrDifferentDimensions},
    {"do not have the same number of result columns", kErrUnionColumns},
    {"sub-select returns", kErrSubqueryColumns},
    {"row value misused", kErrSubqueryColumns},
    {"GROUP BY clause is required before HAVING", kErrHavingWithoutGroupBy},
    {"may not be modified", kErrViewReadOnly},
    {"cannot modify", kErrViewReadOnly},
    {"use DROP VIEW", kErrDropWrongKind},
    {"use DROP TABLE", kErrDropWrongKind},
    {"wrong number of arguments", kErrArgument},
    {"datatype mismatch", kErrTypeMismatch},
    {"parameter", kErrArgument},
};

struct CodeRule {
  int code;
  int number;
};

// Result codes that decide on their own, before the message is looked at.
const CodeRule kCodeRules[] = {
    {SQLITE_CONSTRAINT, kErrConstraint}, {SQLITE_READONLY, kErrAccessViolation},
    {SQLITE_PERM, kErrAccessViolation},  {SQLITE_AUTH, kErrAccessViolation},
    {SQLITE_BUSY, kErrDeadlock},         {SQLITE_LOCKED, kErrDeadlock},
    {SQLITE_NOMEM, kErrOutOfMemory},     {SQLITE_CANTOPEN, kErrCannotOpen},
    {SQLITE_INTERRUPT, kErrInterrupted}, {SQLITE_MISMATCH, kErrTypeMismatch},
    {SQLITE_RANGE, kErrArgument},        {SQLITE_TOOBIG, kErrArgument},
};

}  // namespace

int map_sqlite_error(int result_code, std::string_view message) {
  const int primary = result_code & 0xFF;
  // The date and time guard is a CHECK constraint: its name, not the
  // constraint code, says what was refused.
  static constexpr std::string_view kCheckFailed = "CHECK constraint failed: ";
  if (primary == SQLITE_CONSTRAINT && message.substr(0, kCheckFailed.size()) == kCheckFailed &&
      message.substr(kCheckFailed.size(), kDatetimeCheck.size()) == kDatetimeCheck) {
    return kErrDatetimeFormat;
  }
  for (const CodeRule& rule : kCodeRules) {
    if (rule.code == primary) return rule.number;
  }
  if (message.substr(0, 6) == "index " &&
      message.find("already exists") != std::string_view::npos) {
    return kErrIndexExists;
  }
  for (const MessageRule& rule : kMessageRules) {
    if (message.find(rule.fragment) != std::string_view::npos) return rule.number;
  }
  return kErrRuntime;
}

std::string error_status(int number, std::string_view message) {
  std::string status = "E" + std::to_string(number);
  if (!message.empty()) {
    status.push_back(' ');
    status.append(message);
  }
  return status;
}

}  // namespace q4::lite
