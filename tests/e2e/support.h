// End-to-end test support: a q4lite server started for a test, and a private
// unixODBC configuration (odbcinst.ini + odbc.ini in a temporary folder, found
// through ODBCSYSINI/ODBCINI) that registers build/libq4odbc.so. The machine's
// global ODBC files are never read or written.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sys/types.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace q4e2e {

// Folder of the build tree and of the sources (from the environment that
// ctest gives the tests, with the usual defaults).
std::string build_dir();
std::string source_dir();

// A q4lite process on 127.0.0.1 and a free port, stopped by the destructor.
class Q4lite {
 public:
  // `args` are extra command-line options (e.g. {"--users", path}). Without a
  // "--db" or "--data-dir" option the server runs on an in-memory database.
  explicit Q4lite(std::vector<std::string> args = {});
  ~Q4lite();
  Q4lite(const Q4lite&) = delete;
  Q4lite& operator=(const Q4lite&) = delete;

  bool running() const { return pid_ > 0; }
  int port() const { return port_; }
  void stop();

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string dir_;
};

// A temporary folder removed (with its contents) by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& text) const;

 private:
  std::string path_;
};

// Writes the private configuration and points unixODBC at it. Data sources
// are sections of odbc.ini using the driver "Q4".
class OdbcConfig {
 public:
  OdbcConfig();
  // Adds (or replaces) a data source with the given keys.
  void add_dsn(const std::string& name, const std::map<std::string, std::string>& keys);
  // A data source for `server` with user "test", password "secret".
  void add_server_dsn(const std::string& name, const Q4lite& server,
                      const std::map<std::string, std::string>& extra = {});
  const std::string& dir() const { return dir_.path(); }

 private:
  void flush();
  TempDir dir_;
  std::map<std::string, std::map<std::string, std::string>> sources_;
};

// The pending diagnostic of a handle read through the Driver Manager's
// SQLError: "SQLSTATE message", or "" when none.
std::string diagnostic(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt);

// Statement text as the ODBC functions take it.
inline SQLCHAR* as_sql(const std::string& text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str()));
}

// An ODBC 2 application connected through the Driver Manager to a fresh
// q4lite, with one statement handle. Every server gets a data source name of
// its own: unixODBC keeps what it read from odbc.ini for a while.
class Connected : public ::testing::Test {
 protected:
  void SetUp() override { connect({}); }
  void TearDown() override;
  void connect(const std::vector<std::string>& server_args);
  std::string diag() { return diagnostic(env_, dbc_, stmt_); }
  // Closes the cursor, then SQLExecDirect must succeed.
  void exec(const std::string& text);

  OdbcConfig config_;
  std::unique_ptr<Q4lite> server_;
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
  SQLHSTMT stmt_ = nullptr;
};

// Runs a shell command, returns its exit status and collects its output
// (stdout and stderr together).
int run_command(const std::string& command, std::string* output);

// A shell command run on a pseudo-terminal that becomes its controlling
// terminal (so /dev/tty is the pty), with the test typing as its user.
// Line ends read back from the terminal appear as "\n" alone.
class PtyProgram {
 public:
  explicit PtyProgram(const std::string& command);
  ~PtyProgram();  // kills the program if it still runs
  PtyProgram(const PtyProgram&) = delete;
  PtyProgram& operator=(const PtyProgram&) = delete;

  bool started() const { return pid_ > 0; }
  // Reads until `text` appears after what earlier waits consumed; false
  // after `seconds` without it or when the program's terminal closed.
  bool wait_for(const std::string& text, int seconds = 10);
  // Types `line` and Enter.
  void type(const std::string& line);
  // Waits for `prompt` and types `line`; false when the prompt never came.
  bool answer(const std::string& prompt, const std::string& line);
  // Everything the program wrote, and the echo of what was typed.
  const std::string& transcript() const { return transcript_; }
  // Waits up to `seconds` for the program to end (reading its output
  // meanwhile) and returns its exit status, or -1 (then it is killed).
  int finish(int seconds = 10);

 private:
  // Reads what is there within `milliseconds`: 1 read, 0 nothing came, -1
  // the program's side of the terminal closed.
  int read_some(int milliseconds);
  pid_t pid_ = -1;
  int master_ = -1;
  std::string transcript_;
  size_t consumed_ = 0;
};

}  // namespace q4e2e
