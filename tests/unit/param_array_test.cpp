// Parameter arrays and marker descriptions without a server (a request would show as 08S01).
#include "statement/param_array.h"

#include "statement/param_description.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

template <typename T>
std::string rows_of(std::initializer_list<T> values) {
  std::string bytes;
  for (const T& v : values) bytes.append(reinterpret_cast<const char*>(&v), sizeof v);
  return bytes;
}

// Three rows of one parameter; what rows 1 and 2 become in "SELECT ?".
struct RowCase {
  SQLSMALLINT c_type, sql_type;
  std::string rows;  // the three values back to back, as the application lays them out
  int64_t buffer_length;
  int64_t indicators[3];
  SQLSMALLINT scale;
  const char* row1;
  const char* row2;
};

constexpr int64_t kNts = SQL_NTS, kNull = SQL_NULL_DATA;

// clang-format off
const RowCase kRowCases[] = {
    {SQL_C_LONG, SQL_INTEGER, rows_of<int32_t>({1, -2, 3}), 0, {4, 4, 4}, 0, "-2", "3"},
    {SQL_C_ULONG, SQL_INTEGER, rows_of<uint32_t>({1, 3000000000u, 3}), 0, {0, 0, 0}, 0, "3000000000", "3"},
    {SQL_C_SHORT, SQL_SMALLINT, rows_of<int16_t>({1, -2, 3}), 0, {0, 0, 0}, 0, "-2", "3"},
    {SQL_C_USHORT, SQL_SMALLINT, rows_of<uint16_t>({1, 65535, 3}), 0, {0, 0, 0}, 0, "65535", "3"},
    {SQL_C_BIT, SQL_BIT, rows_of<uint8_t>({0, 1, 0}), 0, {0, 0, 0}, 0, "1", "0"},
    {SQL_C_FLOAT, SQL_DECIMAL, rows_of<float>({1.5f, 2.5f, -0.25f}), 0, {0, 0, 0}, 2, "2.50", "-0.25"},
    {SQL_C_DOUBLE, SQL_DECIMAL, rows_of<double>({1.5, 2.25, 3.125}), 0, {0, 0, 0}, 3, "2.250", "3.125"},
    {SQL_C_DATE, SQL_DATE, rows_of<DATE_STRUCT>({{2024, 1, 2}, {2024, 3, 5}, {1999, 12, 31}}), 0,
     {0, 0, 0}, 0, "'2024-03-05'", "'1999-12-31'"},
    {SQL_C_TIME, SQL_TIME, rows_of<TIME_STRUCT>({{1, 2, 3}, {10, 20, 30}, {23, 59, 58}}), 0,
     {0, 0, 0}, 0, "'10:20:30'", "'23:59:58'"},
    {SQL_C_TIMESTAMP, SQL_TIMESTAMP,
     rows_of<TIMESTAMP_STRUCT>({{2024, 1, 2, 3, 4, 5, 0}, {2024, 3, 5, 10, 20, 30, 7}, {2000, 2, 29, 0, 0, 1, 0}}),
     0, {0, 0, 0}, 0, "'2024-03-05 10:20:30'", "'2000-02-29 00:00:01'"},
    {SQL_C_SBIGINT, SQL_BIGINT, rows_of<int64_t>({1, -(int64_t{1} << 40), 3}), 0, {0, 0, 0}, 0,
     "-1099511627776", "3"},
    {SQL_C_UBIGINT, SQL_BIGINT, rows_of<uint64_t>({1, UINT64_MAX, 3}), 0, {0, 0, 0}, 0,
     "18446744073709551615", "3"},
    {SQL_C_STINYINT, SQL_TINYINT, rows_of<int8_t>({1, -128, 3}), 0, {0, 0, 0}, 0, "-128", "3"},
    {SQL_C_UTINYINT, SQL_TINYINT, rows_of<uint8_t>({1, 255, 3}), 0, {0, 0, 0}, 0, "255", "3"},
    // SQL_C_DEFAULT steps by the size of the C type its SQL type implies.
    {SQL_C_DEFAULT, SQL_INTEGER, rows_of<int32_t>({7, 8, 9}), 0, {0, 0, 0}, 0, "8", "9"},
    // Character values step by cbValueMax, whatever their lengths.
    {SQL_C_CHAR, SQL_VARCHAR, std::string("ab\0\0\0\0it's\0\0xyz\0\0\0", 18), 6, {kNts, kNts, 2}, 0,
     "'it''s'", "'xy'"},
    {SQL_C_DEFAULT, SQL_VARCHAR, std::string("a\0\0\0bc\0\0def\0", 12), 4, {kNts, kNts, kNts}, 0,
     "'bc'", "'def'"},
    // Wide text steps by cbValueMax in bytes, not in characters.
    {SQL_C_WCHAR, SQL_WVARCHAR, rows_of<SQLWCHAR>({'a', 0, 0, 0, 'c', 'd', 0, 0, 0xE9, 0x27, 0, 0}),
     8, {kNts, kNts, kNts}, 0, "'cd'", "'\xC3\xA9'''"},
    // NULL rows come from the indicator array, whatever the value holds.
    {SQL_C_LONG, SQL_INTEGER, rows_of<int32_t>({1, 2, 3}), 0, {0, kNull, 0}, 0, "NULL", "3"},
    {SQL_C_CHAR, SQL_VARCHAR, std::string("ab\0cd\0ef\0", 9), 3, {kNts, kNts, kNull}, 0, "'cd'", "NULL"},
};
// clang-format on

// The payload text after the statement id, up to its NUL.
std::string request_text(const Statement* stmt) {
  return std::string(reinterpret_cast<const char*>(stmt->request_buffer) + 4);
}

TEST(ParamArray, EachRowIsReadAtItsOffset) {
  for (const RowCase& c : kRowCases) {
    SCOPED_TRACE(std::to_string(c.c_type) + " " + c.row1);
    StatementRecord r;
    std::string rows = c.rows;
    int64_t indicators[3] = {c.indicators[0], c.indicators[1], c.indicators[2]};
    ParamBinding* b = r.bind(1, indicators, c.c_type, c.sql_type, rows.data(), c.scale);
    b->buffer_length = c.buffer_length;
    for (uint64_t row : {1, 2}) {
      r.stmt->param_row = row;
      ASSERT_EQ(build_request(r.stmt, "SELECT ?", 8), SQL_SUCCESS) << diag(r.stmt);
      EXPECT_EQ(request_text(r.stmt), "SELECT " + std::string(row == 1 ? c.row1 : c.row2));
    }
  }
}

// A binary row goes into the block, read at its own offset and length.
TEST(ParamArray, BinaryRowsStepByBufferLength) {
  StatementRecord r;
  std::string rows("ab\0\0cd\0\0e\0fg", 12);
  int64_t lengths[3] = {2, 2, 4};
  ParamBinding* b = r.bind(1, lengths, SQL_C_BINARY, SQL_VARBINARY, rows.data());
  b->buffer_length = 4;
  r.stmt->param_row = 2;
  ASSERT_EQ(build_request(r.stmt, "SELECT ?", 8), SQL_SUCCESS) << diag(r.stmt);
  std::string payload(reinterpret_cast<const char*>(r.stmt->request_buffer) + 4,
                      r.stmt->request_length - 4);
  EXPECT_EQ(payload, std::string("SELECT 0x0\0"
                                 "4\0e\0fg\0\0",
                                 19));
}

class ParamCalls : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(diag(r.conn), "") << "a request reached the link"; }
  std::string result(SQLRETURN rc) {
    std::string text = outcome(rc, r.stmt);
    clear_diagnostic(r.stmt->sqlstate, r.stmt->message);
    return text;
  }
  SQLRETURN bind(SQLUSMALLINT ipar, SQLSMALLINT c_type, SQLSMALLINT sql_type, void* value,
                 SQLLEN buffer_length, SQLLEN* indicator, SQLULEN size = 0, SQLSMALLINT scale = 0) {
    return SQLBindParameter(r.stmt, ipar, SQL_PARAM_INPUT, c_type, sql_type, size, scale, value,
                            buffer_length, indicator);
  }
  // "type size digits nullable", or the outcome of a refusal.
  std::string describe(SQLUSMALLINT ipar) {
    SQLSMALLINT type = -1, digits = -1, nullable = -1;
    SQLULEN size = 0;
    SQLRETURN rc = SQLDescribeParam(r.stmt, ipar, &type, &size, &digits, &nullable);
    if (rc != SQL_SUCCESS) return result(rc);
    return std::to_string(type) + " " + std::to_string(size) + " " + std::to_string(digits) + " " +
           std::to_string(nullable);
  }

  StatementRecord r;
};

// Numbers run to SQLNumParams' count (the quoted "?" too); bound ones are
// described by their binding, the others as text taking any value.
TEST_F(ParamCalls, DescribeParamAnswersForEveryMarkerSQLNumParamsCounts) {
  EXPECT_EQ(describe(1), "ERROR S1010 Function sequence error");
  ASSERT_EQ(SQLPrepare(r.stmt, sql("SELECT ?, '?' FROM T WHERE A = ?"), SQL_NTS), SQL_SUCCESS);
  SQLLEN zero = 0;
  int32_t v = 0;
  ASSERT_EQ(bind(3, SQL_C_LONG, SQL_DECIMAL, &v, 0, &zero, 12, 2), SQL_SUCCESS);
  const std::string unbound = "12 1073741823 0 " + std::to_string(SQL_NULLABLE_UNKNOWN);
  EXPECT_EQ(describe(1), unbound);
  EXPECT_EQ(describe(2), unbound);
  EXPECT_EQ(describe(3), "3 12 2 " + std::to_string(SQL_NULLABLE_UNKNOWN));
  EXPECT_EQ(describe(0), "ERROR S1093 Invalid parameter number");
  EXPECT_EQ(describe(4), "ERROR S1093 Invalid parameter number");
  EXPECT_EQ(SQLDescribeParam(r.stmt, 3, nullptr, nullptr, nullptr, nullptr), SQL_SUCCESS);
}

// Refused before anything is sent: a zero row count, data at execution in any
// row, character rows without a cbValueMax to step by.
TEST_F(ParamCalls, ArraysRefusedBeforeAnyRowIsSent) {
  SQLULEN done = 77;
  EXPECT_EQ(result(SQLParamOptions(r.stmt, 0, &done)), "ERROR S1107 Row value out of range");
  ASSERT_EQ(SQLParamOptions(r.stmt, 3, &done), SQL_SUCCESS);
  int32_t ids[3] = {1, 2, 3};
  SQLLEN id_ind[3] = {0, 0, SQL_DATA_AT_EXEC};
  char names[3][4] = {"a", "b", "c"};
  SQLLEN name_ind[3] = {SQL_NTS, SQL_NTS, SQL_NTS};
  ASSERT_EQ(bind(1, SQL_C_LONG, SQL_INTEGER, ids, 0, id_ind), SQL_SUCCESS);
  ASSERT_EQ(bind(2, SQL_C_CHAR, SQL_VARCHAR, names, 0, name_ind), SQL_SUCCESS);
  const char* text = "INSERT INTO T VALUES (?, ?)";
  EXPECT_EQ(result(SQLExecDirect(r.stmt, sql(text), SQL_NTS)), "ERROR S1C00 Driver Not Capable");
  id_ind[2] = 0;
  id_ind[0] = SQL_LEN_DATA_AT_EXEC(4);
  EXPECT_EQ(result(SQLExecDirect(r.stmt, sql(text), SQL_NTS)), "ERROR S1C00 Driver Not Capable");
  EXPECT_EQ(r.stmt->pending_parameter, 0u) << "nothing may wait for SQLParamData";
  id_ind[0] = 0;
  EXPECT_EQ(result(SQLExecDirect(r.stmt, sql(text), SQL_NTS)),
            "ERROR S1090 Invalid string or buffer length");
  EXPECT_EQ(done, 1u);
  EXPECT_EQ(r.stmt->param_row, 0u);
}

}  // namespace
}  // namespace q4
