// The rows of parameter arrays where each layout puts them (column-wise, row-wise, with a bind
// offset), and data at execution refused under the ODBC 3 layouts, without a server.
#include "statement/param_array.h"
#include "statement/param_rows.h"
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

// One row as an application lays it out for row-wise binding, and three rows column-wise.
struct Record {
  int32_t id;
  SQLLEN id_indicator;
  char name[6];
  SQLLEN name_indicator;
};
struct Columns {
  int32_t id[3];
  SQLLEN id_indicator[3];
  char name[3][6];
  SQLLEN name_indicator[3];
};

// The rows of INSERT ... (?, ?) row-wise, with or without a bind offset, and column-wise with
// one (bound at small numbers, the offset adding the buffer's address: pyodbc's way).
TEST(ParamRows, EachLayoutReadsItsRows) {
  const size_t row_fields[] = {offsetof(Record, id), offsetof(Record, id_indicator),
                               offsetof(Record, name), offsetof(Record, name_indicator)};
  const size_t column_fields[] = {offsetof(Columns, id), offsetof(Columns, id_indicator),
                                  offsetof(Columns, name), offsetof(Columns, name_indicator)};
  for (int layout : {0, 1, 2}) {
    SCOPED_TRACE(layout == 0   ? "row-wise"
                 : layout == 1 ? "row-wise, offset"
                               : "column-wise, offset");
    const bool row_wise = layout < 2;
    Record records[3] = {{1, 0, "ann", SQL_NTS}, {2, 0, "bob's", SQL_NULL_DATA}, {-3, 0, "cy", 1}};
    Columns columns = {{1, 2, -3}, {0, 0, 0}, {"ann", "bob's", "cy"}, {SQL_NTS, SQL_NULL_DATA, 1}};
    uintptr_t base =
        row_wise ? reinterpret_cast<uintptr_t>(records) : reinterpret_cast<uintptr_t>(&columns);
    StatementRecord r;
    SQLLEN offset = 0;
    if (layout > 0) {  // every address bound as if the buffer started at 16
      offset = static_cast<SQLLEN>(base - 16);
      base = 16;
      r.stmt->param_bind_offset = reinterpret_cast<int64_t*>(&offset);
    }
    auto at = [&](int field) {
      return reinterpret_cast<int64_t*>(base + (row_wise ? row_fields : column_fields)[field]);
    };
    if (row_wise) r.stmt->param_bind_type = sizeof(Record);
    r.bind(1, at(1), SQL_C_LONG, SQL_INTEGER, at(0));
    // Row-wise rows step by the record's size, column-wise ones by cbValueMax.
    r.bind(2, at(3), SQL_C_CHAR, SQL_VARCHAR, at(2))->buffer_length = row_wise ? 0 : 6;
    const char* rows[3] = {"(1, 'ann')", "(2, NULL)", "(-3, 'c')"};
    for (uint64_t row = 0; row < 3; ++row) {
      r.stmt->param_row = row;
      ASSERT_EQ(build_request(r.stmt, "INSERT INTO T VALUES (?, ?)", 27), SQL_SUCCESS)
          << diag(r.stmt);
      EXPECT_EQ(request_text(r.stmt), std::string("INSERT INTO T VALUES ") + rows[row]);
    }
  }
}

// The indicator that asks for data at execution is read where the layout
// puts it; a single execution under a row-wise layout or an offset refuses it
// before anything is sent, as an array does.
TEST(ParamRows, DataAtExecutionIsRefusedUnderTheOdbc3Layouts) {
  for (bool row_wise : {true, false}) {
    SCOPED_TRACE(row_wise ? "row-wise" : "offset");
    StatementRecord r;
    Record records[1] = {{1, SQL_DATA_AT_EXEC, "", 0}};
    SQLLEN offset = 0;
    if (row_wise) {
      r.stmt->param_bind_type = sizeof(Record);
      r.bind(1, reinterpret_cast<int64_t*>(&records[0].id_indicator), SQL_C_LONG, SQL_INTEGER,
             &records[0].id);
    } else {
      // Only the offset leads to the indicator: read at the bound address it would crash.
      offset = static_cast<SQLLEN>(reinterpret_cast<uintptr_t>(&records[0]) - 16);
      r.stmt->param_bind_offset = reinterpret_cast<int64_t*>(&offset);
      r.bind(1, reinterpret_cast<int64_t*>(16 + offsetof(Record, id_indicator)), SQL_C_LONG,
             SQL_INTEGER, reinterpret_cast<void*>(16));
    }
    SQLUSMALLINT status = 99;
    r.stmt->param_statuses = &status;
    EXPECT_EQ(outcome(execute_rows(r.stmt, "SELECT ?", SQL_NTS), r.stmt),
              "ERROR S1C00 Driver Not Capable");
    EXPECT_EQ(r.stmt->pending_parameter, 0u) << "nothing may wait for SQLParamData";
    EXPECT_EQ(status, SQL_PARAM_ERROR);
    EXPECT_EQ(diag(r.conn), "") << "a request reached the link";
  }
}

}  // namespace
}  // namespace q4
