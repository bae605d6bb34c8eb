// Descriptors against the statement: the statement attributes and the
// descriptor fields are one state read from two sides, bindings made either
// way are the same records, and the descriptor rules an application relies
// on (the data pointer set last, the result's descriptor read-only). A
// descriptor's diagnostics read the way a statement's are: SQLGetDiagRec and
// SQLGetDiagField on SQL_HANDLE_DESC, the state in the application's
// generation, the record gone when the next descriptor call starts, a freed
// descriptor SQL_INVALID_HANDLE.

#include <functional>

#include "results/get_data.h"
#include "statement/attributes.h"
#include "statement/bind_param.h"
#include "statement/descriptors.h"
#include "statement/options.h"
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
  SQLLEN get(Which which, SQLSMALLINT record, SQLSMALLINT field) {
    SQLLEN value = 0;
    SQLRETURN rc =
        get_desc_field(desc(which), record, field, &value, 0, nullptr, TextForm::kNarrow);
    EXPECT_EQ(rc, SQL_SUCCESS) << diag(desc(which));
    return value;
  }
  std::string set(Which which, SQLSMALLINT record, SQLSMALLINT field, SQLLEN value) {
    Descriptor* d = desc(which);
    clear_diagnostic(d->sqlstate, d->message);
    return outcome(set_desc_field(d, record, field, reinterpret_cast<SQLPOINTER>(value), 0), d);
  }
  SQLLEN attribute(SQLINTEGER id) {
    SQLLEN value = 0;
    EXPECT_EQ(get_stmt_attr(stmt_, id, &value), SQL_SUCCESS) << diag(stmt_);
    // The 2.x options answer in 32 bits.
    return id == SQL_ATTR_ROW_ARRAY_SIZE || id == SQL_ATTR_ROW_BIND_TYPE
               ? static_cast<SQLLEN>(static_cast<uint32_t>(value))
               : value;
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

struct TwoSides {
  SQLINTEGER attribute;
  Which which;
  SQLSMALLINT field;
};

// clang-format off
const TwoSides kTwoSides[] = {
    {SQL_ATTR_ROW_ARRAY_SIZE, Which::kArd, SQL_DESC_ARRAY_SIZE},
    {SQL_ATTR_ROW_BIND_OFFSET_PTR, Which::kArd, SQL_DESC_BIND_OFFSET_PTR},
    {SQL_ATTR_ROW_STATUS_PTR, Which::kIrd, SQL_DESC_ARRAY_STATUS_PTR},
    {SQL_ATTR_PARAMSET_SIZE, Which::kApd, SQL_DESC_ARRAY_SIZE},
    {SQL_ATTR_PARAM_STATUS_PTR, Which::kIpd, SQL_DESC_ARRAY_STATUS_PTR},
    {SQL_ATTR_PARAMS_PROCESSED_PTR, Which::kIpd, SQL_DESC_ROWS_PROCESSED_PTR},
};
// clang-format on

// Each attribute is its descriptor field: set on one side, read on the
// other, both ways.
TEST_F(Descriptors, StatementAttributesAreDescriptorFields) {
  SQLLEN storage[4];
  for (const TwoSides& c : kTwoSides) {
    SCOPED_TRACE("attribute " + std::to_string(c.attribute));
    const bool is_pointer = c.field == SQL_DESC_BIND_OFFSET_PTR ||
                            c.field == SQL_DESC_ARRAY_STATUS_PTR ||
                            c.field == SQL_DESC_ROWS_PROCESSED_PTR;
    const SQLLEN first = is_pointer ? reinterpret_cast<SQLLEN>(&storage[0]) : 7;
    const SQLLEN second = is_pointer ? reinterpret_cast<SQLLEN>(&storage[2]) : 48;
    ASSERT_EQ(set_stmt_attr(stmt_, c.attribute, reinterpret_cast<SQLPOINTER>(first)), SQL_SUCCESS)
        << diag(stmt_);
    EXPECT_EQ(get(c.which, 0, c.field), first);
    EXPECT_EQ(set(c.which, 0, c.field, second), "OK");
    EXPECT_EQ(attribute(c.attribute), second);
  }
}

// The 2.x options and SQLBindCol write the row descriptor the statement
// uses, an application's own descriptor once it is set.
TEST_F(Descriptors, BindingsGoToTheDescriptorInUse) {
  SQLINTEGER value = 0;
  SQLLEN length = 0;
  ASSERT_EQ(bind_column(stmt_, 2, SQL_C_SLONG, &value, 0, &length), SQL_SUCCESS);
  EXPECT_EQ(get(Which::kArd, 2, SQL_DESC_OCTET_LENGTH), 4);  // the fixed size of a long

  Descriptor* mine = nullptr;
  ASSERT_EQ(alloc_descriptor(conn_, &mine), SQL_SUCCESS);
  ASSERT_EQ(set_stmt_attr(stmt_, SQL_ATTR_APP_ROW_DESC, mine), SQL_SUCCESS);
  EXPECT_EQ(set_option(nullptr, stmt_, SQL_ROWSET_SIZE, 5), SQL_SUCCESS);
  ASSERT_EQ(bind_column(stmt_, 1, SQL_C_CHAR, &value, sizeof value, &length), SQL_SUCCESS);
  EXPECT_EQ(mine->array_size, 5u);
  ASSERT_NE(mine->records, nullptr);
  EXPECT_EQ(mine->records->number, 1);
  EXPECT_EQ(stmt_->row_descriptor.array_size, 1u);  // the statement's own is untouched
  EXPECT_EQ(stmt_->row_descriptor.records->number, 2);
  ASSERT_EQ(free_descriptor(mine), SQL_SUCCESS);
}

// Setting a record field other than the pointers unbinds the data, so the
// data pointer goes last; then a numeric target is checked.
TEST_F(Descriptors, DataPointerLastAndChecked) {
  SQL_NUMERIC_STRUCT n;
  ASSERT_EQ(bind_column(stmt_, 1, SQL_C_NUMERIC, &n, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(get(Which::kArd, 1, SQL_DESC_PRECISION) & 0xFFFF, 38);  // the default
  EXPECT_EQ(set(Which::kArd, 1, SQL_DESC_PRECISION, 30), "OK");
  EXPECT_EQ(get(Which::kArd, 1, SQL_DESC_DATA_PTR), 0);
  EXPECT_EQ(set(Which::kArd, 1, SQL_DESC_SCALE, 4), "OK");
  EXPECT_EQ(set(Which::kArd, 1, SQL_DESC_DATA_PTR, reinterpret_cast<SQLLEN>(&n)), "OK");
  EXPECT_EQ(get(Which::kArd, 1, SQL_DESC_DATA_PTR), reinterpret_cast<SQLLEN>(&n));
  EXPECT_EQ(get(Which::kArd, 1, SQL_DESC_SCALE) & 0xFFFF, 4);
}

struct Refusal {
  Which which;
  SQLSMALLINT record;
  SQLSMALLINT field;
  SQLLEN value;
  const char* outcome;
};

// clang-format off
const Refusal kRefusals[] = {
    {Which::kIrd, 0, SQL_DESC_COUNT, 2, "ERROR HY016 Cannot modify an implementation row descriptor"},
    {Which::kArd, 0, SQL_DESC_ALLOC_TYPE, SQL_DESC_ALLOC_USER, "ERROR S1091 Invalid descriptor field identifier"},
    {Which::kArd, 1, 9999, 0, "ERROR S1091 Invalid descriptor field identifier"},
    {Which::kArd, -1, SQL_DESC_DATA_PTR, 0, "ERROR S1002 Invalid descriptor index"},
    {Which::kApd, 0, SQL_DESC_DATA_PTR, 0, "ERROR S1002 Invalid descriptor index"},
    {Which::kArd, 0, SQL_DESC_ARRAY_SIZE, 0, "ERROR S1009 Invalid attribute value"},
    {Which::kArd, 0, SQL_DESC_ARRAY_SIZE, 65536, "ERROR S1009 Invalid attribute value"},
    {Which::kIpd, 1, SQL_DESC_PARAMETER_TYPE, SQL_PARAM_OUTPUT, "ERROR S1C00 Driver Not Capable"},
    {Which::kIpd, 0, SQL_DESC_ARRAY_SIZE, 2, "ERROR S1091 Invalid descriptor field identifier"},
};
// clang-format on

TEST_F(Descriptors, Refusals) {
  for (const Refusal& c : kRefusals) {
    SCOPED_TRACE("field " + std::to_string(c.field) + " record " + std::to_string(c.record));
    EXPECT_EQ(set(c.which, c.record, c.field, c.value), c.outcome);
  }
}

// The parameter's implementation side lives in its binding: what
// SQLBindParameter gave is what the IPD shows, and an IPD write is what the
// execution uses.
TEST_F(Descriptors, ParameterSidesShareTheBinding) {
  char text[] = "abc";
  ASSERT_EQ(bind_parameter(stmt_, 1, SQL_C_CHAR, SQL_VARCHAR, 30, 0, text, 0, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(get(Which::kIpd, 0, SQL_DESC_COUNT) & 0xFFFF, 1);
  EXPECT_EQ(get(Which::kIpd, 1, SQL_DESC_CONCISE_TYPE) & 0xFFFF, SQL_VARCHAR);
  EXPECT_EQ(get(Which::kApd, 1, SQL_DESC_CONCISE_TYPE) & 0xFFFF, SQL_C_CHAR);
  EXPECT_EQ(set(Which::kIpd, 1, SQL_DESC_CONCISE_TYPE, SQL_TYPE_TIMESTAMP), "OK");
  EXPECT_EQ(app_param_desc(stmt_).records->sql_type, SQL_TIMESTAMP);  // the form conversions take
  EXPECT_EQ(set(Which::kIpd, 1, SQL_DESC_PRECISION, 3), "OK");
  EXPECT_EQ(app_param_desc(stmt_).records->precision, 3u);
  // The APD write unbinds the data as for rows, and the count follows.
  EXPECT_EQ(set(Which::kApd, 0, SQL_DESC_COUNT, 0), "OK");
  EXPECT_EQ(app_param_desc(stmt_).records, nullptr);
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

// An explicit descriptor's records go with it: once freed, its handle is no handle, for the
// readers too (narrow and wide); so is an address no descriptor ever had. (The wide reader's
// record on a descriptor: EachFailureReadsInTheApplicationsGeneration; its lengths in characters:
// DiagnosticRecords.WideForms.)
TEST_F(Descriptors, AFreedOrUnknownDescriptorIsNoHandle) {
  env_->odbc_version = OdbcVersion::kOdbc380;
  SQLHDESC desc = nullptr;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, conn_, &desc), SQL_SUCCESS);
  SQLINTEGER v;
  EXPECT_EQ(SQLGetDescField(desc, 0, 9999, &v, 0, nullptr), SQL_ERROR);
  const std::string message = std::string(kMessagePrefix) + "Invalid descriptor field identifier";
  EXPECT_EQ(read(desc), "HY091|" + message + "|1|-1");
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
