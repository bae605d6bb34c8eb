// Building the execute request: payload bytes, the rows of parameter arrays where each layout puts
// them (binary blocks, row-wise, a bind offset) and data at execution refused under the ODBC 3
// layouts. Column-wise rows of every C type: the literal tests.
#include "protocol/codec.h"
#include "statement/param_array.h"
#include "statement/param_rows.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

std::string payload_after_id(const Statement* stmt) {
  EXPECT_EQ(load_u32(stmt->request_buffer), statement_id(stmt));
  return std::string(reinterpret_cast<const char*>(stmt->request_buffer) + 4,
                     stmt->request_length - 4);
}

SQLRETURN build(StatementRecord& r, const std::string& text) {
  return build_request(r.stmt, text.data(), static_cast<int64_t>(text.size()));
}

// id, text, NUL, then a NUL or the cursor name and three NULs; a failed build still completes it.
TEST(BuildRequest, PayloadBytes) {
  int32_t value = -42;
  int64_t zero = 0;
  // clang-format off
  struct Case { const char* cursor; bool bound; std::string text; const char* outcome; std::string payload; } cases[] = {
      {"C1", false, "SELECT A FROM T", "OK", std::string("SELECT A FROM T\0C1\0\0\0", 21)},
      {"", false, "SELECT ? FROM T", "ERROR 07001 Wrong number of parameters", std::string("SELECT ? FROM T\0\0", 17)},
      {"", true, "SELECT 1", "OK", std::string("SELECT 1\0\0", 10)},  // no marker: not converted
  };
  // clang-format on
  for (const Case& c : cases) {
    StatementRecord r;
    strcpy(r.stmt->cursor_name, c.cursor);
    if (c.bound) r.bind(1, &zero, SQL_C_LONG, SQL_INTEGER, &value);
    EXPECT_EQ(outcome(build(r, c.text), r.stmt), c.outcome) << c.text;
    EXPECT_EQ(payload_after_id(r.stmt), c.payload);
  }
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
      app_param_desc(r.stmt).bind_offset = reinterpret_cast<int64_t*>(&offset);
    }
    auto at = [&](int field) {
      return reinterpret_cast<int64_t*>(base + (row_wise ? row_fields : column_fields)[field]);
    };
    if (row_wise) app_param_desc(r.stmt).bind_type = sizeof(Record);
    r.bind(1, at(1), SQL_C_LONG, SQL_INTEGER, at(0));
    // Row-wise rows step by the record's size, column-wise ones by cbValueMax.
    r.bind(2, at(3), SQL_C_CHAR, SQL_VARCHAR, at(2))->buffer_length = row_wise ? 0 : 6;
    const char* rows[3] = {"(1, 'ann')", "(2, NULL)", "(-3, 'c')"};
    for (uint64_t row = 0; row < 3; ++row) {
      r.stmt->param_row = row;
      ASSERT_EQ(build(r, "INSERT INTO T VALUES (?, ?)"), SQL_SUCCESS) << diag(r.stmt);
      EXPECT_EQ(payload_after_id(r.stmt),
                std::string("INSERT INTO T VALUES ") + rows[row] + '\0' + '\0');
    }
    // Data at execution needs the bindings' own addresses: under a bind offset its indicator,
    // read where the layout puts it, is refused before anything is sent, as in an array. The
    // row size of a row-wise layout moves only later rows, so one set of values may wait.
    (row_wise ? records[0].id_indicator : columns.id_indicator[0]) = SQL_DATA_AT_EXEC;
    r.stmt->param_row = 0;
    SQLUSMALLINT status = 99;
    r.stmt->param_statuses = &status;
    const bool offset_set = layout > 0;
    EXPECT_EQ(outcome(execute_rows(r.stmt, "SELECT ?", SQL_NTS), r.stmt),
              offset_set ? "ERROR S1C00 Driver Not Capable" : "NEED_DATA");
    EXPECT_EQ(r.stmt->pending_parameter, offset_set ? 0u : kPendingBase + 1);
    EXPECT_EQ(status, offset_set ? SQL_PARAM_ERROR : 99);
    EXPECT_EQ(diag(r.conn), "") << "a request reached the link";
  }
}

}  // namespace
}  // namespace q4
