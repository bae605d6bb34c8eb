// A descriptor's diagnostics read the way a statement's are: SQLGetDiagRec
// and SQLGetDiagField on SQL_HANDLE_DESC, the state in the application's
// generation, the record gone when the next descriptor call starts, a freed
// descriptor SQL_INVALID_HANDLE.

#include <functional>

#include "statement/descriptors.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

class DescriptorDiagnostics : public StatementTest {
 protected:
  void SetUp() override {
    StatementTest::SetUp();
    stmt_ = new_statement();
  }
  // "state|message|number|return code" through the exported readers.
  std::string read(SQLHDESC desc) {
    SQLCHAR state[6] = {}, text[300] = {};
    SQLINTEGER native = -1;
    SQLSMALLINT length = 0;
    SQLRETURN rc =
        SQLGetDiagRec(SQL_HANDLE_DESC, desc, 1, state, &native, text, sizeof text, &length);
    SQLINTEGER number = -1;
    SQLRETURN code = 99;
    EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_DESC, desc, 0, SQL_DIAG_NUMBER, &number, 0, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_DESC, desc, 0, SQL_DIAG_RETURNCODE, &code, 0, nullptr),
              SQL_SUCCESS);
    std::string record = rc == SQL_NO_DATA ? std::string("-|-")
                                           : std::string(reinterpret_cast<char*>(state)) + "|" +
                                                 reinterpret_cast<char*>(text);
    return record + "|" + std::to_string(number) + "|" + std::to_string(code);
  }

  Statement* stmt_ = nullptr;
};

struct FailingCall {
  const char* what;
  std::function<SQLRETURN(Statement*)> call;
  SQLHDESC (*target)(Statement*);
  const char* state2;
  const char* state3;
  const char* text;
};

SQLHDESC ard(Statement* s) {
  return &app_row_desc(s);
}
SQLHDESC ird(Statement* s) {
  return &s->result_descriptor;
}

const FailingCall kFailingCalls[] = {
    {"set a field of the result's descriptor",
     [](Statement* s) {
       return SQLSetDescField(ird(s), 1, SQL_DESC_TYPE, reinterpret_cast<SQLPOINTER>(SQL_C_LONG),
                              0);
     },
     ird, "HY016", "HY016", "Cannot modify an implementation row descriptor"},
    {"free an implicit descriptor",
     [](Statement* s) { return SQLFreeHandle(SQL_HANDLE_DESC, ard(s)); }, ard, "HY017", "HY017",
     "Invalid use of an automatically allocated descriptor handle"},
    {"an unknown field",
     [](Statement* s) {
       SQLINTEGER v;
       return SQLGetDescField(ard(s), 0, 9999, &v, 0, nullptr);
     },
     ard, "S1091", "HY091", "Invalid descriptor field identifier"},
    {"a negative record",
     [](Statement* s) {
       return SQLSetDescField(ard(s), -1, SQL_DESC_TYPE, reinterpret_cast<SQLPOINTER>(SQL_C_LONG),
                              0);
     },
     ard, "S1002", "07009", "Invalid descriptor index"},
    {"a scale above the precision, then the data pointer",
     [](Statement* s) {
       static char buffer[32];
       SQLSetDescField(ard(s), 1, SQL_DESC_TYPE, reinterpret_cast<SQLPOINTER>(SQL_C_NUMERIC), 0);
       SQLSetDescField(ard(s), 1, SQL_DESC_PRECISION, reinterpret_cast<SQLPOINTER>(10), 0);
       SQLSetDescField(ard(s), 1, SQL_DESC_SCALE, reinterpret_cast<SQLPOINTER>(12), 0);
       return SQLSetDescField(ard(s), 1, SQL_DESC_DATA_PTR, buffer, 0);
     },
     ard, "HY021", "HY021", "Inconsistent descriptor information"},
};

TEST_F(DescriptorDiagnostics, EachFailureReadsInTheApplicationsGeneration) {
  for (const FailingCall& c : kFailingCalls) {
    for (OdbcVersion version : {OdbcVersion::kOdbc2, OdbcVersion::kOdbc3}) {
      SCOPED_TRACE(std::string(c.what) + (version == OdbcVersion::kOdbc2 ? " (2.x)" : " (3.x)"));
      env_->odbc_version = version;
      EXPECT_EQ(c.call(stmt_), SQL_ERROR);
      const char* state = version == OdbcVersion::kOdbc2 ? c.state2 : c.state3;
      EXPECT_EQ(read(c.target(stmt_)),
                std::string(state) + "|" + kMessagePrefix + c.text + "|1|-1");
      // The record stays for a second read; the next call on the handle ends it.
      SQLCHAR again[6] = {};
      EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_DESC, c.target(stmt_), 1, SQL_DIAG_SQLSTATE, again,
                                sizeof again, nullptr),
                SQL_SUCCESS);
      EXPECT_STREQ(reinterpret_cast<char*>(again), state);
      SQLINTEGER count = 0;
      EXPECT_EQ(SQLGetDescField(c.target(stmt_), 0, SQL_DESC_COUNT, &count, 0, nullptr),
                SQL_SUCCESS);
      EXPECT_EQ(read(c.target(stmt_)), "-|-|0|0");
    }
  }
}

// An explicit descriptor's records (read narrow and wide) go with it: once freed, its handle is no
// handle, for the readers too; so is an address no descriptor ever had.
TEST_F(DescriptorDiagnostics, AFreedOrUnknownDescriptorIsNoHandle) {
  env_->odbc_version = OdbcVersion::kOdbc380;
  SQLHDESC desc = nullptr;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, conn_, &desc), SQL_SUCCESS);
  SQLINTEGER v;
  EXPECT_EQ(SQLGetDescField(desc, 0, 9999, &v, 0, nullptr), SQL_ERROR);
  const std::string message = std::string(kMessagePrefix) + "Invalid descriptor field identifier";
  EXPECT_EQ(read(desc), "HY091|" + message + "|1|-1");
  // The wide reader gives the same record in UTF-16, its length in characters.
  SQLWCHAR wide_state[6] = {}, wide_text[200] = {};
  SQLSMALLINT wide_length = 0;
  ASSERT_EQ(
      SQLGetDiagRecW(SQL_HANDLE_DESC, desc, 1, wide_state, nullptr, wide_text, 200, &wide_length),
      SQL_SUCCESS);
  EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(wide_state)), u"HY091");
  EXPECT_EQ(wide_length, static_cast<SQLSMALLINT>(message.size()));
  ASSERT_EQ(SQLFreeHandle(SQL_HANDLE_DESC, desc), SQL_SUCCESS);
  SQLCHAR state[6];
  SQLSMALLINT length;
  EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_DESC, desc, 1, state, nullptr, nullptr, 0, &length),
            SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_DESC, desc, 0, SQL_DIAG_NUMBER, &v, 0, nullptr),
            SQL_INVALID_HANDLE);
  int not_a_descriptor = 0;
  EXPECT_EQ(
      SQLGetDiagRecW(SQL_HANDLE_DESC, &not_a_descriptor, 1, nullptr, nullptr, nullptr, 0, nullptr),
      SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_DESC, nullptr, 1, state, nullptr, nullptr, 0, &length),
            SQL_INVALID_HANDLE);
}

}  // namespace
}  // namespace q4
