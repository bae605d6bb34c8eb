// A handle's diagnostic records as SQLGetDiagRec, SQLGetDiagField and
// SQLError give them to an ODBC 2 and an ODBC 3 application: the states of
// each generation, several records, the fields of each, wide text, and when
// records go; the diagnostic slots (posting, reading) and server error texts
// mapped to SQLSTATEs.

#include "core/odbc3_states.h"
#include "core/server_errors.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

// The 2.x states with an ODBC 3 form take it; shared ones, the driver's own 3.x ones and an S1
// state ODBC never defined stay.
TEST(Odbc3States, EachStateTakesItsOdbc3Form) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
      {"S1000", "HY000"}, {"S1002", "07009"}, {"S1093", "07009"}, {"S1094", "HY104"}, {"S0002", "42S02"},
      {"37000", "42000"}, {"22005", "22018"}, {"01S03", "01001"}, {"70100", "HY018"}, {"24000", "24000"},
      {"HY024", "HY024"}, {"S1999", "S1999"}};
  // clang-format on
  for (const auto& [odbc2, odbc3] : cases) EXPECT_STREQ(odbc3_sqlstate(odbc2), odbc3) << odbc2;
}

class DiagnosticRecords : public StatementTest {
 protected:
  void declare(OdbcVersion version) {
    env_->odbc_version = version;
    stmt_ = new_statement();
  }
  // SQLGetDiagRec's record `n`: "STATE text" (prefix removed), "NO_DATA" or "ERROR".
  std::string rec(SQLSMALLINT n) {
    SQLCHAR state[6];
    SQLCHAR text[300];
    SQLINTEGER native = 7;
    SQLSMALLINT length = 0;
    SQLRETURN rc =
        SQLGetDiagRec(SQL_HANDLE_STMT, stmt_, n, state, &native, text, sizeof text, &length);
    if (rc == SQL_NO_DATA) return "NO_DATA";
    if (rc != SQL_SUCCESS) return "ERROR";
    EXPECT_EQ(native, 0);
    EXPECT_EQ(length, static_cast<SQLSMALLINT>(strlen(reinterpret_cast<char*>(text))));
    std::string message = reinterpret_cast<char*>(text);
    if (message.compare(0, strlen(kMessagePrefix), kMessagePrefix) == 0)
      message = message.substr(strlen(kMessagePrefix));
    return reinterpret_cast<char*>(state) + (" " + message);
  }
  std::string text_field(SQLSMALLINT n, SQLSMALLINT field) {
    char value[64];
    SQLSMALLINT length = -1;
    SQLRETURN rc = SQLGetDiagField(SQL_HANDLE_STMT, stmt_, n, field, value, sizeof value, &length);
    if (rc != SQL_SUCCESS) return rc == SQL_NO_DATA ? "NO_DATA" : "rc " + std::to_string(rc);
    EXPECT_EQ(length, static_cast<SQLSMALLINT>(strlen(value)));
    return value;
  }
  template <typename T>
  std::string number_field(SQLSMALLINT n, SQLSMALLINT field) {
    T value = 0;
    SQLRETURN rc = SQLGetDiagField(SQL_HANDLE_STMT, stmt_, n, field, &value, 0, nullptr);
    if (rc != SQL_SUCCESS) return rc == SQL_NO_DATA ? "NO_DATA" : "rc " + std::to_string(rc);
    return std::to_string(value);
  }
  // A statement call that succeeds without the server (SQLGetStmtOption).
  void succeeding_call() {
    SQLULEN size = 0;
    EXPECT_EQ(SQLGetStmtOption(stmt_, SQL_ROWSET_SIZE, &size), SQL_SUCCESS);
  }

  Statement* stmt_ = nullptr;
};

// What a parameter array leaves for an ODBC 3 application: its first failing
// row in the slot, the later ones as further records. (The record count and
// each record's row: odbc3/diagnostics_test.c.)
TEST_F(DiagnosticRecords, SeveralRecordsWithTheirFields) {
  declare(OdbcVersion::kOdbc380);
  post_error(stmt_, "first row refused", "S1000");
  set_diagnostic_position(stmt_, 2, 0);
  add_diagnostic_record(stmt_, "37000", "later row refused", 4, 3);
  stmt_->row_count = 12;
  stmt_->diag.return_code = SQL_ERROR;
  memcpy(conn_->dsn, "q4sample", 9);

  // clang-format off
  struct Case { SQLSMALLINT record, field; std::string want; } const cases[] = {
      {0, SQL_DIAG_RETURNCODE, "-1"}, {0, SQL_DIAG_ROW_COUNT, "12"},
      {0, SQL_DIAG_DYNAMIC_FUNCTION_CODE, std::to_string(SQL_DIAG_UNKNOWN_STATEMENT)},
      {1, SQL_DIAG_SQLSTATE, "HY000"}, {2, SQL_DIAG_SQLSTATE, "42000"},
      {1, SQL_DIAG_COLUMN_NUMBER, std::to_string(SQL_NO_COLUMN_NUMBER)}, {2, SQL_DIAG_COLUMN_NUMBER, "3"},
      {0, SQL_DIAG_SQLSTATE, "rc -1"},  // a record field of record 0
      {1, 12345, "rc -1"},              // no such field
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.record) + " " + std::to_string(c.field));
    const SQLSMALLINT f = c.field;
    EXPECT_EQ(
        f == SQL_DIAG_RETURNCODE  ? number_field<SQLRETURN>(c.record, f)
        : f == SQL_DIAG_ROW_COUNT ? number_field<SQLLEN>(c.record, f)
        : f == SQL_DIAG_NATIVE || f == SQL_DIAG_COLUMN_NUMBER || f == SQL_DIAG_DYNAMIC_FUNCTION_CODE
            ? number_field<SQLINTEGER>(c.record, f)
            : text_field(c.record, f),
        c.want);
  }
  EXPECT_EQ(rec(1), "HY000 first row refused");
  EXPECT_EQ(rec(2), "42000 later row refused");
  EXPECT_EQ(rec(0), "ERROR");
  // Reading by number removes nothing; SQLError removes one at a time.
  EXPECT_EQ(rec(1), "HY000 first row refused");
  SQLCHAR state[6];
  EXPECT_EQ(SQLError(nullptr, nullptr, stmt_, state, nullptr, nullptr, 0, nullptr), SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(state), "HY000");
  EXPECT_EQ(rec(1), "42000 later row refused");
  EXPECT_EQ(number_field<SQLLEN>(1, SQL_DIAG_ROW_NUMBER), "4");
  EXPECT_EQ(rec(2), "NO_DATA");
}

// An ODBC 2 application keeps its one slot across calls until it reads it,
// with the 2.x states; an ODBC 3 one's records go when the next call starts.
TEST_F(DiagnosticRecords, WhenRecordsGoByVersion) {
  struct Case {
    OdbcVersion version;
    const char* read_first;        // right after the post
    const char* after_next_call;   // after a call that posts nothing
    const char* extras_after_add;  // SQL_DIAG_NUMBER after adding a further record
  };
  // clang-format off
  const Case cases[] = {
      {OdbcVersion::kOdbc2, "S1010 Function sequence error", "S1010 Function sequence error", "1"},
      {OdbcVersion::kOdbc3, "HY010 Function sequence error", "NO_DATA", "2"}};
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.version));
    declare(c.version);
    post_error(stmt_, kDiagSequence);
    EXPECT_EQ(rec(1), c.read_first);
    succeeding_call();
    EXPECT_EQ(rec(1), c.after_next_call);
    post_error(stmt_, kDiagSequence);
    add_diagnostic_record(stmt_, "01004", "Data truncated", 0, 0);
    EXPECT_EQ(number_field<SQLINTEGER>(0, SQL_DIAG_NUMBER), c.extras_after_add);
    EXPECT_EQ(number_field<SQLRETURN>(0, SQL_DIAG_RETURNCODE), "0");
    drop(stmt_);
  }
}

TEST_F(DiagnosticRecords, HandlesAndArgumentsRefused) {
  declare(OdbcVersion::kOdbc3);
  SQLINTEGER count = -1;
  EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, nullptr, 0, SQL_DIAG_NUMBER, &count, 0, nullptr),
            SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_DESC, stmt_, 1, nullptr, nullptr, nullptr, 0, nullptr),
            SQL_INVALID_HANDLE);
  // Statement-only fields of a connection or environment.
  EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_DBC, conn_, 0, SQL_DIAG_ROW_COUNT, &count, 0, nullptr),
            SQL_ERROR);
  post_connection_error(conn_, kDiagNoHost);
  EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_DBC, conn_, 1, SQL_DIAG_ROW_NUMBER, &count, 0, nullptr),
            SQL_ERROR);
  EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_ENV, env_, 0, SQL_DIAG_NUMBER, &count, 0, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(count, 0);
  // A negative buffer length for a message.
  SQLCHAR text[8];
  EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_DBC, conn_, 1, nullptr, nullptr, text, -1, nullptr),
            SQL_ERROR);
  clear_diagnostic(conn_->sqlstate, conn_->message);
}

const std::string kPrefix = kMessagePrefix;
// The number ends at the first non-digit; past the table or 32 bits, or no digit; odd texts kept.
// (q4lite's "22007 ..." refusal of text that is no date: e2e/datetime_test.cpp.)
TEST(ServerErrors, TextsSelectTheirRow) {
  // clang-format off
  struct Case { const char* text; const char* sqlstate; const char* message; } cases[] = {
      {"26 syntax error near FROM", "37000", "Syntax error"},
      {"123", "S1000", "Unknown error"},          // one past the table
      {"4294967296", "S1000", "Unknown error"},   // 2^32 must not wrap to 0
      {" 26", "S1000", "RUNTIME_ERROR"},  // a leading blank is not a digit
      {"59", "S1000", "Q4_FILE_ALREADY_DELETED\t"},
      {"070", "23000", "Constraint failure"},
  };
  // clang-format on
  for (const Case& c : cases) {
    Statement stmt{};
    EXPECT_EQ(map_server_error(&stmt, c.text), SQL_ERROR);
    EXPECT_EQ(std::string(stmt.sqlstate) + " " + stmt.message,
              c.sqlstate + (" " + kPrefix) + c.message)
        << "text '" << c.text << "'";
  }
}

}  // namespace
}  // namespace q4
