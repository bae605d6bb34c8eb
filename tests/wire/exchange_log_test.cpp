// The driver log against the scripted peer: a session's lines, where the file
// comes from, and nothing when it is off.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "link/exchange_log.h"
#include "result_fixture.h"

namespace q4::wire {
namespace {

namespace fs = std::filesystem;

// A private folder for log files, removed with what is in it.
struct Folder {
  Folder() { EXPECT_NE(mkdtemp(path), nullptr); }
  ~Folder() { fs::remove_all(path); }
  std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(path)) found.push_back(entry.path().filename());
    return found;
  }
  std::string file(const std::string& name) const { return std::string(path) + "/" + name; }
  char path[24] = "/tmp/q4log-XXXXXX";
};

std::vector<std::string> lines_of(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Every exchange line: time, process, connection, command, sizes, status, time taken.
const std::regex kExchangeLine(
    R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z pid=\d+ conn=\d+ command=[a-z-]+ )"
    R"(request=\d+ reply=\d+ status=[A-Z-] elapsed_ms=\d+\.\d{3}( link=[a-z]+)?( text=".*")?)");

// A line without its time, process and connection, and without the time taken.
std::string fields_of(const std::string& line) {
  return std::regex_replace(line, std::regex(R"(^\S+Z pid=\d+ conn=\d+ | elapsed_ms=\d+\.\d{3})"),
                            "");
}

// Where the lines go: the connection string's LogFile overrides the data
// source's, and with none nothing is written anywhere. What they say: the logon's size but never
// its passwords, the server's text after an "E", a lost link, and exchanges that fail at once after
// it.
TEST(ExchangeLog, WhereTheLinesGoAndWhatTheySay) {
  // The data source's file, the connection string's (null: no LogFile item)
  // and the one written (null: none).
  // clang-format off
  struct Case { const char *dsn_file, *string_file, *written; } cases[] = {
      {"dsn.log", "string.log", "string.log"}, {nullptr, nullptr, nullptr},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    unsetenv(kLogFileVariable);
    Folder folder;
    ScriptedPeer peer;
    peer.expect_request(kCmdLogon).reply("K", {7, 1, 0, 0, 3});
    Keys keys;
    if (c.dsn_file != nullptr) keys["LogFile"] = folder.file(c.dsn_file);
    std::string input = "DSN=" + peer_dsn(peer.port(), keys);
    if (c.string_file != nullptr) {
      input += ";LogFile=" + (*c.string_file ? folder.file(c.string_file) : std::string());
    }
    ConnectionRecord conn;
    ASSERT_EQ(SQLDriverConnect(conn.get(), nullptr, sql_text(input.c_str()), SQL_NTS, nullptr, 0,
                               nullptr, SQL_DRIVER_NOPROMPT),
              SQL_SUCCESS)
        << conn.message();
    EXPECT_EQ(conn->exchange_log != nullptr, c.written != nullptr);
    Statement* stmt = nullptr;
    ASSERT_EQ(SQLAllocStmt(conn.get(), reinterpret_cast<SQLHSTMT*>(&stmt)), SQL_SUCCESS);
    peer.expect_request(kCmdExecute).reply("E3 no such table: \"t\"\n(at 1)");
    EXPECT_EQ(SQLExecDirect(stmt, sql_text("SELECT * FROM t"), SQL_NTS), SQL_ERROR);
    peer.expect_request(kCmdExecute).close();
    EXPECT_EQ(SQLExecDirect(stmt, sql_text("SELECT 1"), SQL_NTS), SQL_ERROR);
    EXPECT_EQ(SQLDisconnect(conn.get()), SQL_SUCCESS);
    EXPECT_EQ(conn->exchange_log, nullptr);
    EXPECT_EQ(peer.finish(), "");
    EXPECT_EQ(folder.names(),
              c.written ? std::vector<std::string>{c.written} : std::vector<std::string>{});
    if (c.written == nullptr) continue;

    std::vector<ReceivedRequest> requests = peer.requests();
    ASSERT_EQ(requests.size(), 3u);
    auto sent = [&](int i) { return std::to_string(requests[i].payload.size()); };
    std::vector<std::string>
        lines = lines_of(folder.file(c.written)),
        want = {"event=open dsn=\"" + std::string(conn->dsn) + "\" server=\"127.0.0.1\" port=" +
                    std::to_string(peer.port()) + " user=\"joe\" account=\"acc\"",
                "command=logon request=" + sent(0) + " reply=5 status=K",
                "command=execute request=" + sent(1) +
                    R"x( reply=0 status=E text="3 no such table: \"t\"\x0A(at 1)")x",
                "command=execute request=" + sent(2) + " reply=0 status=- link=closed",
                // (no release: the statement went with the lost link's session)
                "command=disconnect request=0 reply=0 status=- link=failed"};
    ASSERT_EQ(lines.size(), want.size());
    for (size_t i = 0; i < lines.size(); ++i) {
      EXPECT_TRUE(i == 0 || std::regex_match(lines[i], kExchangeLine)) << lines[i];
      EXPECT_EQ(fields_of(lines[i]), want[i]);
      for (const std::string& secret :
           {std::string("Pw-Secret-17"), std::string("Ac-Secret-42"),
            scrambled("Pw-Secret-17", false), scrambled("Ac-Secret-42")}) {
        EXPECT_EQ(lines[i].find(secret), std::string::npos) << secret;
      }
    }
  }
  unsetenv(kLogFileVariable);
}

}  // namespace
}  // namespace q4::wire
