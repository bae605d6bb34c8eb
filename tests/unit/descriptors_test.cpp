// Descriptors against the statement: the refusals of field writes, and a descriptor's diagnostics
// read in the application's generation, the record gone when the next descriptor call starts.

#include <functional>

#include "statement/attributes.h"
#include "statement/descriptors.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

enum class Which { kArd, kApd, kIrd, kIpd };

class Descriptors : public StatementTest {
 protected:
  void SetUp() override {
    StatementTest::SetUp();
    stmt_ = new_statement();
  }
  Descriptor* desc(Which which) {
    Descriptor* all[] = {&app_row_desc(stmt_), &app_param_desc(stmt_), &stmt_->result_descriptor,
                         &stmt_->marker_descriptor};
    return all[static_cast<int>(which)];
  }
  std::string set(Which which, SQLSMALLINT record, SQLSMALLINT field, SQLLEN value) {
    Descriptor* d = desc(which);
    clear_diagnostic(d->sqlstate, d->message);
    return outcome(set_desc_field(d, record, field, reinterpret_cast<SQLPOINTER>(value), 0), d);
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

struct Refusal {
  Which which;
  SQLSMALLINT record;
  SQLSMALLINT field;
  SQLLEN value;
  const char* outcome;
};

// clang-format off
const Refusal kRefusals[] = {
    {Which::kArd, 1, 9999, 0, "ERROR S1091 Invalid descriptor field identifier"},
    {Which::kArd, -1, SQL_DESC_DATA_PTR, 0, "ERROR S1002 Invalid descriptor index"},
    {Which::kArd, 0, SQL_DESC_ARRAY_SIZE, 65536, "ERROR S1009 Invalid attribute value"},
    {Which::kIpd, 1, SQL_DESC_PARAMETER_TYPE, SQL_PARAM_OUTPUT, "ERROR S1C00 Driver Not Capable"},
};
// clang-format on

TEST_F(Descriptors, Refusals) {
  for (const Refusal& c : kRefusals) {
    SCOPED_TRACE("field " + std::to_string(c.field) + " record " + std::to_string(c.record));
    EXPECT_EQ(set(c.which, c.record, c.field, c.value), c.outcome);
  }
}

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

// (The result's descriptor written, an implicit descriptor freed, an unknown field: the ODBC 3
// states and texts in odbc3/diagnostics_test.c.)
const FailingCall kFailingCalls[] = {
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

TEST_F(Descriptors, EachFailureReadsInTheApplicationsGeneration) {
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
      SQLWCHAR wide_state[6] = {}, wide_text[200];  // and so does the wide reader
      EXPECT_EQ(SQLGetDiagRecW(SQL_HANDLE_DESC, c.target(stmt_), 1, wide_state, nullptr, wide_text,
                               200, nullptr),
                SQL_SUCCESS);
      EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(wide_state)),
                std::u16string(state, state + 5));
      SQLINTEGER count = 0;
      EXPECT_EQ(SQLGetDescField(c.target(stmt_), 0, SQL_DESC_COUNT, &count, 0, nullptr),
                SQL_SUCCESS);
      EXPECT_EQ(read(c.target(stmt_)), "-|-|0|0");
    }
  }
}

}  // namespace
}  // namespace q4
