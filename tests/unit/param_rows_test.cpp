// Parameter rows where the ODBC 3 layouts put them (row-wise binding, a bind
// offset), and data at execution refused under them, without a server.
#include "statement/param_rows.h"

#include "statement/param_array.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

// One row as an application lays it out for row-wise binding.
struct Record {
  int32_t id;
  SQLLEN id_indicator;
  char name[6];
  SQLLEN name_indicator;
};

const Record kRecords[3] = {
    {1, 0, "ann", SQL_NTS}, {2, 0, "bob's", SQL_NULL_DATA}, {-3, 0, "cy", 1}};

constexpr const char* kInsert = "INSERT INTO T VALUES (?, ?)";

std::string request_text(const Statement* stmt) {
  return std::string(reinterpret_cast<const char*>(stmt->request_buffer) + 4);
}

struct LayoutCase {
  const char* name;
  bool row_wise;
  bool offset;  // bound at small numbers, the offset adding the buffer's address (pyodbc's way)
};

// The rows of INSERT ... (?, ?) read from one buffer of Records, row-wise, with
// or without an offset, and column-wise with one.
TEST(ParamRows, EachLayoutReadsItsRows) {
  const LayoutCase cases[] = {{"row-wise", true, false},
                              {"row-wise with an offset", true, true},
                              {"column-wise with an offset", false, true}};
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    StatementRecord r;
    Record records[3];
    memcpy(records, kRecords, sizeof records);
    // Column-wise: the same values as arrays of their own.
    int32_t ids[3] = {1, 2, -3};
    SQLLEN id_indicators[3] = {0, 0, 0};
    char names[3][6] = {"ann", "bob's", "cy"};
    SQLLEN name_indicators[3] = {SQL_NTS, SQL_NULL_DATA, 1};
    uint8_t* id_at =
        c.row_wise ? reinterpret_cast<uint8_t*>(&records[0].id) : reinterpret_cast<uint8_t*>(ids);
    uint8_t* id_ind_at = c.row_wise ? reinterpret_cast<uint8_t*>(&records[0].id_indicator)
                                    : reinterpret_cast<uint8_t*>(id_indicators);
    uint8_t* name_at = c.row_wise ? reinterpret_cast<uint8_t*>(records[0].name)
                                  : reinterpret_cast<uint8_t*>(names);
    uint8_t* name_ind_at = c.row_wise ? reinterpret_cast<uint8_t*>(&records[0].name_indicator)
                                      : reinterpret_cast<uint8_t*>(name_indicators);
    SQLLEN offset = 0;
    if (c.offset) {
      // Every address bound as if the buffer started at 16.
      uint8_t* base = c.row_wise ? reinterpret_cast<uint8_t*>(records) : id_at;
      offset = static_cast<SQLLEN>(reinterpret_cast<uintptr_t>(base) - 16);
      for (uint8_t** at : {&id_at, &id_ind_at, &name_at, &name_ind_at}) *at -= offset;
      r.stmt->param_bind_offset = reinterpret_cast<int64_t*>(&offset);
    }
    if (c.row_wise) r.stmt->param_bind_type = sizeof(Record);
    r.bind(1, reinterpret_cast<int64_t*>(id_ind_at), SQL_C_LONG, SQL_INTEGER, id_at);
    ParamBinding* name =
        r.bind(2, reinterpret_cast<int64_t*>(name_ind_at), SQL_C_CHAR, SQL_VARCHAR, name_at);
    name->buffer_length = c.row_wise ? 0 : 6;  // row-wise rows step by the record's size
    const char* rows[3] = {"(1, 'ann')", "(2, NULL)", "(-3, 'c')"};
    for (uint64_t row = 0; row < 3; ++row) {
      r.stmt->param_row = row;
      ASSERT_EQ(build_request(r.stmt, kInsert, static_cast<int64_t>(strlen(kInsert))), SQL_SUCCESS)
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
