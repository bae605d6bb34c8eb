// An ODBC 3 application connected through the unixODBC Driver Manager to a
// q4lite of its own. The driver is registered in a private odbcinst.ini
// (ODBCSYSINI/ODBCINI point at a temporary folder); the machine's ODBC files
// are never used.
#pragma once

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
#include <vector>

namespace q4e2e {

inline SQLCHAR* as_sql(const std::string& text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str()));
}

// The server serves an in-memory database to one user, "test" with password
// "secret"; the application has one statement handle.
class Q4liteApp : public ::testing::Test {
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

  const std::string dir_ = mkdtemp(std::string("/tmp/q4e2e.XXXXXX").data());
  pid_t server_ = -1;
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
  SQLHSTMT stmt_ = nullptr;
};

}  // namespace q4e2e
