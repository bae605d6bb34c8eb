// Every allocation of representative calls that need no server, failing in
// turn (allocation_sweep.h): a statement handle, the request builder
// growing past the block's room, and pieces of data at execution.

#include "allocation_sweep.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

// An environment, a connection on a socket pair and a statement of it, all
// from the driver.
struct Handles : LinkedHandles {
  Handles() {
    open_handles();
    stmt = new_statement();
  }
  ~Handles() { close_handles(); }
  Connection* conn() const { return conn_; }

  std::string new_statement_handle() {
    statement_out = reinterpret_cast<SQLHSTMT>(0x1234);
    return answer_of(SQLAllocHandle(SQL_HANDLE_STMT, conn_, &statement_out), conn_);
  }
  // Without its record the handle is null and nothing is linked; a record
  // whose binary tables failed stays linked (to be dropped with the
  // connection), without its tables, and the handle is not written.
  std::string statement_again() {
    std::vector<Statement*> linked = statements_of(conn_);
    if (statement_out == nullptr) {
      if (linked.size() != 1) return "a record was linked without its handle";
    } else if (statement_out == reinterpret_cast<SQLHSTMT>(0x1234)) {
      if (linked.size() != 2) return "the unfinished record is not linked";
      if (linked[0]->binary_blocks != nullptr || linked[0]->binary_lengths != nullptr) {
        return "the table already allocated must be freed";
      }
    } else {
      return "the handle was written";
    }
    return new_statement_handle() == "OK" ? "" : "no statement after the failure";
  }

  SQLRETURN bind(SQLUSMALLINT ipar, SQLSMALLINT c_type, SQLSMALLINT sql_type, const void* value,
                 SQLLEN* indicator, SQLLEN buffer_length = 0) {
    return SQLBindParameter(stmt, ipar, SQL_PARAM_INPUT, c_type, sql_type, 10, 0,
                            const_cast<void*>(value), buffer_length, indicator);
  }
  // The build's answer, and the request's length when it succeeds.
  std::string build(const std::string& text) {
    SQLRETURN rc = build_request(stmt, text.data(), static_cast<int64_t>(text.size()));
    std::string answer = answer_of(rc, conn_, stmt);
    return rc == SQL_SUCCESS ? answer + " " + std::to_string(stmt->request_length) : answer;
  }
  // A failed build leaves no binary block pending; the next one succeeds.
  std::string build_again(const std::string& text, const std::string& success) {
    if (stmt->binary_count != 0) return "binary blocks left pending";
    return build(text) == success ? "" : "the next build failed";
  }
  std::string collected() const {
    ParamBinding* b = app_param_desc(stmt).records;
    return std::string(reinterpret_cast<char*>(b->buffer), b->buffer ? b->piece_length : 0);
  }

  Statement* stmt = nullptr;
  SQLHSTMT statement_out = nullptr;
  SQLLEN two = 2, one = 1, nts = SQL_NTS, at_exec = SQL_DATA_AT_EXEC;
};

const std::string kLong(6000, 'a');  // 6,002 bytes as a literal
const std::string kPiece(100, 'q');

std::string sized(const std::string& payload) {
  return "OK " + std::to_string(payload.size() + 4);
}

using Scenario = AllocationScenario<Handles>;

// clang-format off
const Scenario kScenarios[] = {
    {"SQLAllocHandleStmt", nullptr, [](Handles& w) { return w.new_statement_handle(); }, "OK", {kOutOfMemory},
     [](Handles& w, const std::string&) { return w.statement_again(); }},
    // A literal beyond the room the block keeps grows it mid-text, after the binary tables and block.
    {"LiteralsPastTheBlocksRoom",
     [](Handles& w) {
       ASSERT_EQ(w.bind(1, SQL_C_BINARY, SQL_VARBINARY, "\x01\x02", &w.two), SQL_SUCCESS);
       ASSERT_EQ(w.bind(2, SQL_C_CHAR, SQL_VARCHAR, kLong.c_str(), &w.nts), SQL_SUCCESS);
       ASSERT_EQ(w.build("SELECT 1234"), "OK 17");  // the block fits this text only
     },
     [](Handles& w) { return w.build("SELECT ?, ?"); },
     sized("SELECT 0x0, '" + kLong + "'" + std::string("\0" "2\0\x01\x02\0\0", 7)), {kOutOfMemory},
     [](Handles& w, const std::string&) { return w.build_again("SELECT ?, ?", sized("SELECT 0x0, '" + kLong + "'" + std::string("\0" "2\0\x01\x02\0\0", 7))); }},
    // A piece beyond the collected buffer grows it; refused, what was collected stays.
    {"SQLPutDataPieces",
     [](Handles& w) {
       ASSERT_EQ(w.bind(1, SQL_C_CHAR, SQL_VARCHAR, &w, &w.at_exec), SQL_SUCCESS);
       ASSERT_EQ(answer_of(SQLExecDirect(w.stmt, sql("SELECT ?"), SQL_NTS), w.conn(), w.stmt), "NEED_DATA");
       SQLPOINTER token = nullptr;
       ASSERT_EQ(SQLParamData(w.stmt, &token), SQL_NEED_DATA);
       ASSERT_EQ(SQLPutData(w.stmt, const_cast<char*>("abcd"), 4), SQL_SUCCESS);
     },
     [](Handles& w) { return answer_of(SQLPutData(w.stmt, const_cast<char*>(kPiece.data()), 100), w.conn(), w.stmt); },
     "OK", {kOutOfMemory},
     [](Handles& w, const std::string&) -> std::string {
       if (w.collected() != "abcd") return "collected " + w.collected();
       SQLRETURN rc = SQLPutData(w.stmt, const_cast<char*>(kPiece.data()), 100);
       return rc == SQL_SUCCESS && w.collected() == "abcd" + kPiece ? "" : "the next piece failed";
     }},
};
// clang-format on

class AllocationFailure : public ::testing::TestWithParam<Scenario> {};

TEST_P(AllocationFailure, EveryAllocationFailingInTurn) {
  sweep_allocations(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Unit, AllocationFailure, ::testing::ValuesIn(kScenarios), ScenarioName());

}  // namespace
}  // namespace q4
