// End-to-end test support: a q4lite server started for a test, a private
// unixODBC configuration (odbcinst.ini + odbc.ini in a temporary folder, found
// through ODBCSYSINI/ODBCINI) that registers build/libq4odbc.so, and a shell
// command's output. The machine's ODBC files are never used.
#pragma once

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/types.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

namespace q4e2e {

// A temporary folder removed (with its contents) by the destructor.
class TempDir {
 public:
  ~TempDir() { std::filesystem::remove_all(path_, ignored_); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& text, bool append = false) const {
    std::ofstream(file(name), append ? std::ios::app : std::ios::trunc) << text;
  }
  const std::string path_ = mkdtemp(std::string("/tmp/q4e2e.XXXXXX").data());
  std::error_code ignored_;
};

// A q4lite process on 127.0.0.1 and a free port, stopped by the destructor.
// It serves an in-memory database to one user, "test" with password "secret".
class Q4lite {
 public:
  Q4lite();
  ~Q4lite() { stop(); }
  bool running() const { return pid_ > 0; }
  int port() const { return port_; }
  void stop();

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  TempDir dir_;
};

// Writes the private configuration and points unixODBC at it.
class OdbcConfig {
 public:
  OdbcConfig();
  // A data source for `server` with user "test", password "secret", account
  // "main", changed or extended by `extra`.
  void add_server_dsn(const std::string& name, const Q4lite& server,
                      const std::map<std::string, std::string>& extra = {});

 private:
  TempDir dir_;
};

// The pending diagnostic of a handle read through the Driver Manager's
// SQLError: "SQLSTATE message", or "" when none.
std::string diagnostic(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt);

inline SQLCHAR* as_sql(const std::string& text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str()));
}

// An ODBC 2 application (ODBC 3 with `odbc3_` set before SetUp) connected
// through the Driver Manager to a fresh q4lite, with one statement handle.
// Every server gets a data source name of its own: unixODBC keeps what it read
// from odbc.ini while the driver is loaded.
class Connected : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string diag() { return diagnostic(env_, dbc_, stmt_); }
  // A data source for the server, with a name of its own.
  std::string add_dsn(const std::map<std::string, std::string>& extra = {}) {
    static int count = 0;
    const std::string name = "q4e2e" + std::to_string(++count);
    config_.add_server_dsn(name, *server_, extra);
    return name;
  }
  // Closes the cursor, then SQLExecDirect must succeed.
  void exec(const std::string& text);

  bool odbc3_ = false;
  OdbcConfig config_;
  std::unique_ptr<Q4lite> server_;
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
  SQLHSTMT stmt_ = nullptr;
};

// Runs a shell command; its exit status, stdout and stderr together in *output.
int run_command(const std::string& command, std::string* output);

}  // namespace q4e2e
