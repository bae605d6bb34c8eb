// Every allocation of the calls that talk to the server failing in turn
// (../unit/allocation_sweep.h), through the ODBC functions against a peer
// that answers each request by its command, for one representative of each
// kind of call: connecting, executing with parameters, fetching a block that
// outgrows the row buffer. (Each catalog call: the e2e pyodbc catalog calls.)
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <map>
#include <mutex>

#include "../unit/allocation_sweep.h"
#include "link/link.h"
#include "results/result_set.h"
#include "result_fixture.h"

namespace q4::wire {
namespace {

using Reply = std::pair<std::string, Bytes>;

// A data source for every world: the port comes with the connection string.
const std::string& shared_dsn() {
  static const std::string name = peer_dsn(1);
  return name;
}

// An environment and a connection of the driver's own, and a peer that
// answers each request by its command: "K" to a logon, an allocation, a
// release and a disconnect; what the scenario gave for the others.
struct Session : Wire {
  Session() {
    users = socket_layer_users();
    peer.serve([this](int, const ReceivedRequest& r) { return answer(r); });
    EXPECT_EQ(SQLAllocEnv(&env), SQL_SUCCESS);
    EXPECT_EQ(SQLAllocConnect(env, &conn), SQL_SUCCESS);
  }
  ~Session() {
    SQLDisconnect(conn);  // drops every statement; refused when never connected
    EXPECT_EQ(SQLFreeConnect(conn), SQL_SUCCESS);
    EXPECT_EQ(SQLFreeEnv(env), SQL_SUCCESS);
    EXPECT_EQ(peer.finish(), "");
    EXPECT_EQ(socket_layer_users(), users) << "a link left open";
  }

  Reply answer(const ReceivedRequest& r) {
    uint8_t command = static_cast<uint8_t>(r.command.at(0));
    std::lock_guard<std::mutex> lock(mutex);
    ++asked[command];
    last[command] = r.payload;
    auto given = replies.find(command);
    if (given != replies.end()) return given->second;
    bool session = command == kCmdLogon || command == kCmdAllocate || command == kCmdRelease ||
                   command == kCmdDisconnect;
    return {session ? "K" : "Eno reply scripted for command " + std::to_string(command), {}};
  }
  void reply(uint8_t command, const std::string& status, const Bytes& payload = {}) {
    std::lock_guard<std::mutex> lock(mutex);
    replies[command] = {status, payload};
  }
  std::string connection_string(const std::string& more = "") const {
    return "DSN=" + shared_dsn() + ";PORTNUMBER=" + std::to_string(peer.port()) + ";" + more;
  }
  SQLRETURN driver_connect(const std::string& more = "") {
    std::string input = connection_string(more);
    SQLCHAR out[1024];
    SQLSMALLINT out_length = 0;
    return SQLDriverConnect(conn, nullptr, sql_text(input.c_str()), SQL_NTS, out, sizeof out,
                            &out_length, SQL_DRIVER_NOPROMPT);
  }
  // Connected, with a statement.
  void connect(const std::string& more = "") {
    ASSERT_EQ(answer_of(driver_connect(more), conn), "OK");
    ASSERT_EQ(answer_of(SQLAllocStmt(conn, &stmt), conn), "OK");
  }

  // A successful answer, with " (request differs)" when the last request of
  // `command` was not `expected`.
  std::string checked(const std::string& answer, uint8_t command, const Bytes& expected) {
    std::lock_guard<std::mutex> lock(mutex);
    bool sent = answer.compare(0, 2, "OK") != 0 || last[command] == expected;
    return sent ? answer : answer + " (request differs)";
  }
  int requests(uint8_t command) {
    std::lock_guard<std::mutex> lock(mutex);
    return asked[command];
  }
  // After a connect that met the failure: connected without the log whose
  // record failed, or not connected and able to connect now. Either way a
  // statement can be had.
  std::string usable_after_connect(const std::function<std::string()>& connect_again) {
    auto* record = static_cast<Connection*>(conn);
    if (record->link != nullptr && record->exchange_log != nullptr) return "a log after all";
    if (record->link == nullptr && connect_again() != "OK")
      return "no connection after the failure";
    return answer_of(SQLAllocStmt(conn, &stmt), conn) == "OK" ? "" : "no statement";
  }
  std::string answered(SQLRETURN rc) { return answer_of(rc, conn, stmt); }
  // The answer, and the row count when it succeeded.
  std::string counted(SQLRETURN rc) {
    std::string text = answered(rc);
    SQLLEN rows = -2;
    if (rc == SQL_SUCCESS && SQLRowCount(stmt, &rows) == SQL_SUCCESS) {
      text += " " + std::to_string(rows);
    }
    return text;
  }
  std::string exec(const std::string& text) {
    return counted(SQLExecDirect(stmt, sql_text(text.c_str()), SQL_NTS));
  }
  SQLRETURN bind(SQLUSMALLINT ipar, SQLSMALLINT c_type, SQLSMALLINT sql_type, const void* value,
                 SQLLEN* indicator, SQLLEN buffer_length = 0) {
    return SQLBindParameter(stmt, ipar, SQL_PARAM_INPUT, c_type, sql_type, 0, 0,
                            const_cast<void*>(value), buffer_length, indicator);
  }
  // The answer of SQLFetch and, when it succeeded, the length of the bound text.
  std::string fetched() {
    SQLRETURN rc = SQLFetch(stmt);
    std::string text = answered(rc);
    if (rc == SQL_SUCCESS) text += " " + std::to_string(text_length);
    return text;
  }
  ScriptedPeer peer;
  std::mutex mutex;
  std::map<uint8_t, Reply> replies;
  std::map<uint8_t, int> asked;   // requests received, by command
  std::map<uint8_t, Bytes> last;  // the last payload, by command
  int users = 0;
  SQLHENV env = nullptr;
  SQLHDBC conn = nullptr;
  SQLHSTMT stmt = nullptr;

  SQLLEN nts = SQL_NTS, three = 3, blob_length = 0;
  SQLLEN text_length = 0;
  char text[40000] = "";
};

const std::string kLongText = Wire::letters(6000, 1) + "'s";  // beyond the request block's room
const Bytes kBlob = pattern_bytes(70000, 3);                  // a binary block across frames
const std::string kBigRow = Wire::letters(20000, 5);          // a block above the row buffer's room

using Scenario = AllocationScenario<Session>;

// clang-format off
const Scenario kScenarios[] = {
    // The connection string's copy, and the log's record.
    {"SQLDriverConnect", nullptr, [](Session& w) { return answer_of(w.driver_connect("LogFile=/dev/null"), w.conn); }, "OK", {kOutOfMemory},
     [](Session& w, const std::string&) {
       return w.usable_after_connect([&] { return answer_of(w.driver_connect("LogFile=/dev/null"), w.conn); });
     }},
    // Binary values become 0x0, 0x1 and their blocks (digits, NUL, bytes, NUL) follow the text's
    // NUL in marker order; a quote doubled, a literal beyond the block's room, a binary block of
    // several frames.
    {"SQLExecDirectWithParameters",
     [](Session& w) {
       w.connect();
       w.blob_length = SQLLEN(kBlob.size());
       ASSERT_EQ(w.bind(1, SQL_C_BINARY, SQL_VARBINARY, "a\0b", &w.three), SQL_SUCCESS);
       ASSERT_EQ(w.bind(2, SQL_C_CHAR, SQL_VARCHAR, kLongText.c_str(), &w.nts), SQL_SUCCESS);
       ASSERT_EQ(w.bind(3, SQL_C_BINARY, SQL_LONGVARBINARY, kBlob.data(), &w.blob_length), SQL_SUCCESS);
       w.reply(kCmdExecute, "K", Wire::execute_payload(0, 1));
     },
     [](Session& w) {
       std::string text = "INSERT INTO B VALUES (0x0, '" + kLongText.substr(0, 6000) + "''s', 0x1)";
       std::string blocks = std::string("3\0a\0b\0", 6) + "70000" + '\0' + std::string(kBlob.begin(), kBlob.end()) + '\0';
       return w.checked(w.exec("INSERT INTO B VALUES (?, ?, ?)"), kCmdExecute, Wire::text_request(static_cast<Statement*>(w.stmt), text, blocks));
     },
     "OK 1"},
    // The next block outgrows the row buffer; a row buffer that cannot grow fails the fetch before
    // its request, and leaves the cursor where it was: the next fetch gets the row.
    {"SQLFetchOfABiggerBlock",
     [](Session& w) {
       w.connect();
       w.reply(kCmdExecute, "K", Wire::join({Wire::execute_payload(1, 0), Wire::block_of({Wire::text_value("a")}, 'M')}));
       w.reply(kCmdFetch, "K", Wire::block_of({Wire::text_value(kBigRow)}, 'W'));
       ASSERT_EQ(SQLBindCol(w.stmt, 1, SQL_C_CHAR, w.text, sizeof w.text, &w.text_length), SQL_SUCCESS);
       ASSERT_EQ(w.exec("SELECT T FROM X"), "OK -1");
       ASSERT_EQ(w.fetched(), "OK 1");
     },
     [](Session& w) { return w.fetched(); }, "OK 20000", {kOutOfMemory},
     [](Session& w, const std::string&) -> std::string {
       if (result_set(static_cast<Statement*>(w.stmt)).cursor_row != 1) return "the cursor moved";
       if (w.requests(kCmdFetch) != 0) return "the fetch was sent";
       std::string again = w.fetched();
       return again == "OK 20000" && w.text == kBigRow ? "" : "the next fetch answered " + again;
     }},
};
// clang-format on

class AllocationFailure : public ::testing::TestWithParam<Scenario> {};

TEST_P(AllocationFailure, EveryAllocationFailingInTurn) {
  sweep_allocations(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Wire, AllocationFailure, ::testing::ValuesIn(kScenarios), ScenarioName());

}  // namespace
}  // namespace q4::wire
