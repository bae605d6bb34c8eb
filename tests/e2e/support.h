// End-to-end test support: a q4lite server started for a test and a private
// unixODBC configuration (odbcinst.ini + odbc.ini in a temporary folder, found
// through ODBCSYSINI/ODBCINI) registering build/libq4odbc.so; the machine's
// ODBC files are never used.
#pragma once

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/types.h>

#include <stdlib.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

namespace q4e2e {

// A temporary folder removed (with its contents) by the destructor.
struct TempDir {
  ~TempDir() { std::filesystem::remove_all(path, ignored); }
  std::string file(const std::string& name) const { return path + "/" + name; }
  const std::string path = mkdtemp(std::string("/tmp/q4e2e.XXXXXX").data());
  std::error_code ignored;
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

inline SQLCHAR* as_sql(const std::string& text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str()));
}

// An ODBC 2 application (ODBC 3 with `odbc3_` set before SetUp) connected
// through the Driver Manager to a fresh q4lite, with one statement handle.
class Connected : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The pending diagnostic read through SQLError: "SQLSTATE message", or "".
  std::string diag();
  // A data source for the server with user "test", password "secret" and
  // account "main", changed or extended by `extra`. Each gets a name of its
  // own: unixODBC keeps what it read from odbc.ini while the driver is loaded.
  std::string add_dsn(const std::map<std::string, std::string>& extra = {});
  // Closes the cursor, then SQLExecDirect must succeed.
  void exec(const std::string& text);

  bool odbc3_ = false;
  TempDir config_;
  std::unique_ptr<Q4lite> server_;
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
  SQLHSTMT stmt_ = nullptr;
};

// Runs a shell command; its exit status, stdout and stderr together in *output.
int run_command(const std::string& command, std::string* output);

}  // namespace q4e2e
