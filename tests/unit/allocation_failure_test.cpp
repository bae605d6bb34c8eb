// Every allocation of the calls that need no server, failing in turn
// (allocation_sweep.h): handles, bindings, the request builder (literals past
// the block's room, binary blocks, markers beyond those kept inline, a row of
// a parameter array) and pieces of data at execution.

#include "allocation_sweep.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

// An environment, a connection on a socket pair and a statement of it, all
// from the driver; handles that calls allocate are freed with them.
struct Handles : LinkedHandles {
  Handles() {
    open_handles();
    stmt = new_statement();
  }
  ~Handles() {
    for (SQLHDBC c : connections) SQLFreeConnect(c);
    for (SQLHENV e : environments) SQLFreeEnv(e);
    close_handles();
  }
  Environment* env() const { return env_; }
  Connection* conn() const { return conn_; }

  // "OK handle" or "ERROR null": an environment has no diagnostic to read.
  template <typename Handle>
  std::string allocated(SQLRETURN rc, Handle handle, std::vector<Handle>* kept) {
    if (handle != nullptr) kept->push_back(handle);
    std::string answer = rc == SQL_SUCCESS ? "OK" : rc == SQL_ERROR ? "ERROR" : std::to_string(rc);
    return answer + (handle != nullptr ? " handle" : " null");
  }
  std::string new_environment(bool odbc3) {
    SQLHENV h = reinterpret_cast<SQLHENV>(0x1);
    SQLRETURN rc = odbc3 ? SQLAllocHandle(SQL_HANDLE_ENV, nullptr, &h) : SQLAllocEnv(&h);
    return allocated(rc, h, &environments);
  }
  std::string new_connection(bool odbc3) {
    SQLHDBC h = reinterpret_cast<SQLHDBC>(0x1);
    SQLRETURN rc = odbc3 ? SQLAllocHandle(SQL_HANDLE_DBC, env_, &h) : SQLAllocConnect(env_, &h);
    return allocated(rc, h, &connections);
  }
  // A failed allocation leaves the environment's list as it was.
  std::string connection_again(bool odbc3) {
    if (env_->connections != conn_ || conn_->next != nullptr) return "a connection was linked";
    return new_connection(odbc3) == "OK handle" ? "" : "no connection after the failure";
  }
  std::string new_statement_handle(bool odbc3) {
    statement_out = reinterpret_cast<SQLHSTMT>(0x1234);
    SQLRETURN rc = odbc3 ? SQLAllocHandle(SQL_HANDLE_STMT, conn_, &statement_out)
                         : SQLAllocStmt(conn_, &statement_out);
    return answer_of(rc, conn_);
  }
  // Without its record the handle is null and nothing is linked; a record
  // whose binary tables failed stays linked (to be dropped with the
  // connection), without its tables, and the handle is not written.
  std::string statement_again(bool odbc3) {
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
    return new_statement_handle(odbc3) == "OK" ? "" : "no statement after the failure";
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
  std::string payload() const {
    return std::string(reinterpret_cast<const char*>(stmt->request_buffer) + 4,
                       stmt->request_length - 4);
  }
  std::string collected() const {
    ParamBinding* b = app_param_desc(stmt).records;
    return std::string(reinterpret_cast<char*>(b->buffer), b->buffer ? b->piece_length : 0);
  }

  Statement* stmt = nullptr;
  SQLHSTMT statement_out = nullptr;
  std::vector<SQLHENV> environments;
  std::vector<SQLHDBC> connections;
  int32_t number = 7;
  SQLLEN indicators[3] = {2, 2, 4};
  SQLLEN two = 2, one = 1, nts = SQL_NTS, at_exec = SQL_DATA_AT_EXEC;
};

const std::string kLong(6000, 'a');  // 6,002 bytes as a literal
const std::string kBinaryRows("ab\0\0cd\0\0e\0fg", 12);
const std::string kPiece(100, 'q');

std::string hundred_markers(const char* each) {
  std::string text = std::string("SELECT ") + each;
  for (int i = 1; i < 100; ++i) text += std::string(",") + each;
  return text;
}

std::string sized(const std::string& payload) {
  return "OK " + std::to_string(payload.size() + 4);
}

using Scenario = AllocationScenario<Handles>;

// clang-format off
const Scenario kScenarios[] = {
    {"SQLAllocEnv", nullptr, [](Handles& w) { return w.new_environment(false); }, "OK handle", {"ERROR null"}},
    {"SQLAllocHandleEnv", nullptr, [](Handles& w) { return w.new_environment(true); }, "OK handle", {"ERROR null"}},
    {"SQLAllocConnect", nullptr, [](Handles& w) { return w.new_connection(false); }, "OK handle", {"ERROR null"},
     [](Handles& w, const std::string&) { return w.connection_again(false); }},
    {"SQLAllocHandleDbc", nullptr, [](Handles& w) { return w.new_connection(true); }, "OK handle", {"ERROR null"},
     [](Handles& w, const std::string&) { return w.connection_again(true); }},
    {"SQLAllocStmt", nullptr, [](Handles& w) { return w.new_statement_handle(false); }, "OK", {kOutOfMemory},
     [](Handles& w, const std::string&) { return w.statement_again(false); }},
    {"SQLAllocHandleStmt", nullptr, [](Handles& w) { return w.new_statement_handle(true); }, "OK", {kOutOfMemory},
     [](Handles& w, const std::string&) { return w.statement_again(true); }},
    // Refused, the binding is not made at all.
    {"SQLBindParameter", nullptr,
     [](Handles& w) { return answer_of(w.bind(1, SQL_C_LONG, SQL_INTEGER, &w.number, nullptr), w.conn(), w.stmt); },
     "OK", {kOutOfMemory},
     [](Handles& w, const std::string&) -> std::string {
       if (app_param_desc(w.stmt).records != nullptr) return "a binding was made";
       return answer_of(w.bind(1, SQL_C_LONG, SQL_INTEGER, &w.number, nullptr), w.conn(), w.stmt) == "OK" ? "" : "not bound after the failure";
     }},
    {"SQLBindCol", nullptr,
     [](Handles& w) { return answer_of(SQLBindCol(w.stmt, 1, SQL_C_LONG, &w.number, 4, &w.one), w.conn(), w.stmt); },
     "OK", {kOutOfMemory},
     [](Handles& w, const std::string&) -> std::string {
       if (app_row_desc(w.stmt).records != nullptr) return "a column was bound";
       return answer_of(SQLBindCol(w.stmt, 1, SQL_C_LONG, &w.number, 4, &w.one), w.conn(), w.stmt) == "OK" ? "" : "not bound after the failure";
     }},
    // The first text of a statement: its request block.
    {"RequestBlock", nullptr, [](Handles& w) { return w.build("SELECT 1"); }, "OK 14", {kOutOfMemory},
     [](Handles& w, const std::string&) -> std::string {
       if (w.stmt->request_buffer != nullptr) return "a block is kept";
       return w.build_again("SELECT 1", "OK 14");
     }},
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
    {"BinaryBlocks",
     [](Handles& w) {
       ASSERT_EQ(w.bind(1, SQL_C_BINARY, SQL_VARBINARY, "z", &w.one), SQL_SUCCESS);
       ASSERT_EQ(w.bind(2, SQL_C_BINARY, SQL_VARBINARY, "y", &w.one), SQL_SUCCESS);
       ASSERT_EQ(w.build("SELECT 1"), "OK 14");
     },
     [](Handles& w) { return w.build("SELECT ?, ?"); }, "OK 29", {kOutOfMemory},
     [](Handles& w, const std::string&) { return w.build_again("SELECT ?, ?", "OK 29"); }},
    // More markers than the scan keeps inline move their positions to a block of their own.
    {"MarkersBeyondTheInlinePositions",
     [](Handles& w) {
       for (SQLUSMALLINT i = 1; i <= 100; ++i) ASSERT_EQ(w.bind(i, SQL_C_LONG, SQL_INTEGER, &w.number, nullptr), SQL_SUCCESS);
       ASSERT_EQ(w.build(std::string(hundred_markers("?").size(), 'x')), "OK 212");
     },
     [](Handles& w) { return w.build(hundred_markers("?")); }, "OK 212", {kOutOfMemory},
     [](Handles& w, const std::string&) -> std::string {
       std::string why = w.build_again(hundred_markers("?"), "OK 212");
       if (why.empty() && w.payload() != hundred_markers("7") + std::string("\0\0", 2)) why = "wrong payload";
       return why;
     }},
    // The third row of a binary array read at its own offset, buffer_length apart.
    {"ParameterArrayRow",
     [](Handles& w) {
       ASSERT_EQ(w.bind(1, SQL_C_BINARY, SQL_VARBINARY, kBinaryRows.data(), w.indicators, 4), SQL_SUCCESS);
       w.stmt->param_row = 2;
     },
     [](Handles& w) { return w.build("SELECT ?"); }, "OK 23", {kOutOfMemory},
     [](Handles& w, const std::string&) -> std::string {
       std::string why = w.build_again("SELECT ?", "OK 23");
       if (why.empty() && w.payload() != std::string("SELECT 0x0\0" "4\0e\0fg\0\0", 19)) why = "wrong payload";
       return why;
     }},
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
