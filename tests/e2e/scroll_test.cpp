// Block cursors through the unixODBC Driver Manager against a q4lite of the
// test's own: an ODBC 3 application's SQLFetchScroll with a row array of 10,
// carried out by the Driver Manager with SQLExtendedFetch, on 25 and 100,000
// rows bound column- and row-wise, and a row that fails mid-rowset. The driver
// is registered in a private odbcinst.ini (ODBCSYSINI/ODBCINI point at a
// temporary folder); the machine's ODBC files are never used.
#include <gtest/gtest.h>
#include <signal.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace q4e2e {
namespace {

constexpr SQLULEN kArray = 10;

SQLCHAR* as_sql(const std::string& text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str()));
}

// Row-wise binding: the value and its indicator side by side per row.
struct Record {
  SQLINTEGER n;
  SQLLEN indicator;
};

// An ODBC 3 application connected through the Driver Manager to a q4lite of
// its own (an in-memory database, one user "test" with password "secret"),
// with one statement handle.
class BlockCursor : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* build = getenv("Q4_BUILD_DIR");
    const std::string build_dir = build != nullptr ? build : "build";
    std::ofstream(file("users")) << "test:secret\n";
    std::ofstream(file("odbcinst.ini"))
        << "[Q4]\nDescription=q4odbc\nDriver=" << build_dir << "/libq4odbc.so\nFileUsage=1\n";
    setenv("ODBCSYSINI", dir_.c_str(), 1);
    setenv("ODBCINSTINI", "odbcinst.ini", 1);
    setenv("ODBCINI", file("odbc.ini").c_str(), 1);
    // clang-format off
    std::vector<std::string> argv_text = {
        build_dir + "/q4lite", "--listen", "127.0.0.1:0", "--port-file", file("port"),
        "--quiet", "--db", ":memory:", "--users", file("users")};
    // clang-format on
    server_ = fork();
    if (server_ == 0) {
      std::vector<char*> argv;
      for (std::string& a : argv_text) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    int port = 0;  // written by the server once it listens
    for (int i = 0; i < 500 && !(std::ifstream(file("port")) >> port && port > 0); ++i) {
      if (waitpid(server_, nullptr, WNOHANG) != 0) server_ = -1;
      ASSERT_GT(server_, 0) << "q4lite exited at start";
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GT(port, 0);
    // Every server gets a data source name of its own: unixODBC keeps what it
    // read from odbc.ini while the driver is loaded.
    static int count = 0;
    const std::string dsn = "q4e2e" + std::to_string(++count);
    std::ofstream(file("odbc.ini"))
        << "[" << dsn << "]\nDriver=Q4\nSERVER=127.0.0.1\nPORTNUMBER=" << port
        << "\nUSER=test\nPASSWORD=secret\nACCOUNT=main\nLoginTimeout=10\n";
    ASSERT_EQ(SQLAllocEnv(&env_), SQL_SUCCESS);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    ASSERT_EQ(SQLAllocConnect(env_, &dbc_), SQL_SUCCESS);
    // The application is told that the driver speaks ODBC 2 (01000).
    ASSERT_EQ(
        SQLConnect(dbc_, as_sql(dsn), SQL_NTS, as_sql("test"), SQL_NTS, as_sql("secret"), SQL_NTS),
        SQL_SUCCESS_WITH_INFO)
        << diag();
    ASSERT_EQ(SQLAllocStmt(dbc_, &stmt_), SQL_SUCCESS);
  }
  void TearDown() override {
    if (stmt_ != nullptr) SQLFreeStmt(stmt_, SQL_DROP);
    if (dbc_ != nullptr) {
      SQLDisconnect(dbc_);
      SQLFreeConnect(dbc_);
    }
    if (env_ != nullptr) SQLFreeEnv(env_);
    if (server_ > 0) kill(server_, SIGTERM);
    for (int i = 0; server_ > 0 && waitpid(server_, nullptr, WNOHANG) == 0; ++i) {
      if (i == 300) kill(server_, SIGKILL);  // after three seconds
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string file(const std::string& name) const { return dir_ + "/" + name; }
  // The pending diagnostic read through SQLError: "SQLSTATE message", or "".
  std::string diag() {
    SQLCHAR state[6] = {0}, text[512] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLError(env_, dbc_, stmt_, state, &native, text, sizeof text, &length)))
      return "";
    return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(text);
  }
  void set_attr(SQLINTEGER attribute, SQLPOINTER value) {
    ASSERT_TRUE(SQL_SUCCEEDED(SQLSetStmtAttr(stmt_, attribute, value, 0))) << attribute << diag();
  }
  // A static cursor over `query` with a row array of kArray, its statuses and count bound.
  void open_block_cursor(const std::string& query) {
    set_attr(SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_STATIC));
    set_attr(SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kArray));
    set_attr(SQL_ATTR_ROW_STATUS_PTR, statuses_);
    set_attr(SQL_ATTR_ROWS_FETCHED_PTR, &fetched_);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt_, as_sql(query), SQL_NTS))) << query << diag();
  }

  const std::string dir_ = mkdtemp(std::string("/tmp/q4e2e.XXXXXX").data());
  pid_t server_ = -1;
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
  SQLHSTMT stmt_ = nullptr;
  SQLUSMALLINT statuses_[kArray];
  SQLULEN fetched_ = 0;
};

struct Step {
  SQLSMALLINT orientation;
  SQLLEN offset;
  int first;      // first row of the rowset; 0 for SQL_NO_DATA
  SQLULEN count;  // rows in the rowset
};

struct ScrollCase {
  const char* name;
  int rows;
  std::vector<Step> steps;
};

// Test names and failure output show the case's name, not its raw bytes.
void PrintTo(const ScrollCase& c, std::ostream* out) {
  *out << c.name;
}

// clang-format off
const std::vector<ScrollCase> scroll_cases = {
  {"Rows25", 25, {
      {SQL_FETCH_FIRST, 0, 1, 10}, {SQL_FETCH_NEXT, 0, 11, 10}, {SQL_FETCH_LAST, 0, 16, 10},
      {SQL_FETCH_PRIOR, 0, 6, 10}, {SQL_FETCH_ABSOLUTE, -3, 23, 3}, {SQL_FETCH_ABSOLUTE, 3, 3, 10},
      {SQL_FETCH_RELATIVE, -5, 1, 10}, {SQL_FETCH_RELATIVE, 20, 21, 5},
      {SQL_FETCH_NEXT, 0, 0, 0}, {SQL_FETCH_PRIOR, 0, 16, 10}, {SQL_FETCH_ABSOLUTE, 30, 0, 0}}},
  {"Rows100000", 100000, {
      {SQL_FETCH_LAST, 0, 99991, 10}, {SQL_FETCH_PRIOR, 0, 99981, 10},
      {SQL_FETCH_FIRST, 0, 1, 10}, {SQL_FETCH_NEXT, 0, 11, 10},
      {SQL_FETCH_ABSOLUTE, 50000, 50000, 10}, {SQL_FETCH_RELATIVE, -40000, 10000, 10},
      {SQL_FETCH_RELATIVE, 89995, 99995, 6}, {SQL_FETCH_ABSOLUTE, -2, 99999, 2},
      {SQL_FETCH_NEXT, 0, 0, 0}, {SQL_FETCH_ABSOLUTE, 100001, 0, 0},
      {SQL_FETCH_ABSOLUTE, 1, 1, 10}}},
};
// clang-format on

class Scroll : public BlockCursor,
               public ::testing::WithParamInterface<std::tuple<ScrollCase, bool>> {};

TEST_P(Scroll, EachOrientationDeliversItsRowset) {
  const ScrollCase& c = std::get<0>(GetParam());
  const bool row_wise = std::get<1>(GetParam());
  open_block_cursor("WITH RECURSIVE C(N) AS (SELECT 1 UNION ALL SELECT N + 1 FROM C WHERE N < " +
                    std::to_string(c.rows) + ") SELECT N FROM C");
  SQLINTEGER values[kArray];
  SQLLEN indicators[kArray];
  Record records[kArray];
  if (row_wise) set_attr(SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(sizeof(Record)));
  ASSERT_TRUE(
      SQL_SUCCEEDED(SQLBindCol(stmt_, 1, SQL_C_LONG, row_wise ? &records[0].n : values,
                               sizeof(SQLINTEGER), row_wise ? &records[0].indicator : indicators)));

  for (const Step& step : c.steps) {
    SCOPED_TRACE("orientation " + std::to_string(step.orientation) + " offset " +
                 std::to_string(step.offset));
    for (SQLULEN i = 0; i < kArray; ++i) values[i] = records[i].n = -1;
    SQLRETURN rc = SQLFetchScroll(stmt_, step.orientation, step.offset);
    if (step.count == 0) {
      EXPECT_EQ(rc, SQL_NO_DATA);
      continue;
    }
    ASSERT_EQ(rc, SQL_SUCCESS) << diag();
    ASSERT_EQ(fetched_, step.count);
    for (SQLULEN i = 0; i < kArray; ++i) {
      SQLINTEGER got = row_wise ? records[i].n : values[i];
      SQLLEN indicator = row_wise ? records[i].indicator : indicators[i];
      if (i < step.count) {
        EXPECT_EQ(got, step.first + static_cast<int>(i)) << i;
        EXPECT_EQ(indicator, static_cast<SQLLEN>(sizeof(SQLINTEGER))) << i;
        EXPECT_EQ(statuses_[i], SQL_ROW_SUCCESS) << i;
      } else {
        EXPECT_EQ(got, -1) << "nothing written past the rowset's rows, " << i;
        EXPECT_EQ(statuses_[i], SQL_ROW_NOROW) << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Results, Scroll,
                         ::testing::Combine(::testing::ValuesIn(scroll_cases), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_RowWise" : "_ColumnWise");
                         });

// A value that cannot become the bound type fails its own row only: the
// rowset is delivered with that row marked, and the fetch says so.
TEST_F(BlockCursor, RowThatFailsMidRowsetIsMarkedAndTheOthersArrive) {
  open_block_cursor(
      "VALUES ('1'), ('2'), ('3'), ('four'), ('5'), ('6'), ('7'), ('8'), ('9'), ('10')");
  SQLINTEGER values[kArray];
  SQLLEN indicators[kArray];
  ASSERT_TRUE(
      SQL_SUCCEEDED(SQLBindCol(stmt_, 1, SQL_C_LONG, values, sizeof(SQLINTEGER), indicators)));
  for (auto& v : values) v = -1;

  ASSERT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_NEXT, 0), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(fetched_, kArray);
  std::string diagnostics;  // SQLError hands out one record per call
  for (std::string d; !(d = diag()).empty();) diagnostics += d + "\n";
  EXPECT_NE(diagnostics.find("01S01"), std::string::npos) << diagnostics;
  for (SQLULEN i = 0; i < kArray; ++i) {
    if (i == 3) {
      EXPECT_EQ(statuses_[i], SQL_ROW_ERROR);
    } else {
      EXPECT_EQ(statuses_[i], SQL_ROW_SUCCESS) << i;
      EXPECT_EQ(values[i], static_cast<SQLINTEGER>(i + 1)) << i;
    }
  }
}

}  // namespace
}  // namespace q4e2e
