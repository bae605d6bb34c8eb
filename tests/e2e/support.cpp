#include "support.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace q4e2e {

std::string build_dir() {
  const char* dir = getenv("Q4_BUILD_DIR");
  return dir != nullptr ? dir : "build";
}

std::string source_dir() {
  const char* dir = getenv("Q4_SOURCE_DIR");
  return dir != nullptr ? dir : ".";
}

TempDir::TempDir() {
  char pattern[] = "/tmp/q4e2e.XXXXXX";
  const char* made = mkdtemp(pattern);
  path_ = made != nullptr ? made : "/tmp";
}

TempDir::~TempDir() {
  if (path_.rfind("/tmp/q4e2e.", 0) == 0) {
    std::string command = "rm -rf '" + path_ + "'";
    if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", path_.c_str());
  }
}

void TempDir::write(const std::string& name, const std::string& text) const {
  std::ofstream out(file(name), std::ios::trunc);
  out << text;
}

Q4lite::Q4lite(std::vector<std::string> args) {
  char pattern[] = "/tmp/q4lite.XXXXXX";
  const char* made = mkdtemp(pattern);
  if (made == nullptr) return;
  dir_ = made;
  std::string port_file = dir_ + "/port";
  bool has_db = false;
  for (const std::string& a : args) has_db |= a == "--db" || a == "--data-dir";
  std::vector<std::string> argv_text = {build_dir() + "/q4lite", "--listen", "127.0.0.1:0",
                                        "--port-file",           port_file,  "--quiet"};
  if (!has_db) {
    argv_text.push_back("--db");
    argv_text.push_back(":memory:");
  }
  argv_text.insert(argv_text.end(), args.begin(), args.end());

  pid_ = fork();
  if (pid_ == 0) {
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  // The server writes its port once it listens.
  for (int i = 0; i < 500 && pid_ > 0; ++i) {
    std::ifstream in(port_file);
    if (in >> port_ && port_ > 0) return;
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  stop();
}

void Q4lite::stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status;
    for (int i = 0; i < 300; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
  }
}

Q4lite::~Q4lite() {
  stop();
  if (!dir_.empty()) {
    std::string command = "rm -rf '" + dir_ + "'";
    if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir_.c_str());
  }
}

OdbcConfig::OdbcConfig() {
  std::ostringstream inst;
  inst << "[Q4]\nDescription=q4odbc\nDriver=" << build_dir() << "/libq4odbc.so\n"
       << "Setup=\nFileUsage=1\n";
  dir_.write("odbcinst.ini", inst.str());
  flush();
  setenv("ODBCSYSINI", dir_.path().c_str(), 1);
  setenv("ODBCINSTINI", "odbcinst.ini", 1);
  setenv("ODBCINI", dir_.file("odbc.ini").c_str(), 1);
}

void OdbcConfig::add_dsn(const std::string& name, const std::map<std::string, std::string>& keys) {
  sources_[name] = keys;
  flush();
}

void OdbcConfig::add_server_dsn(const std::string& name, const Q4lite& server,
                                const std::map<std::string, std::string>& extra) {
  std::map<std::string, std::string> keys = {
      {"SERVER", "127.0.0.1"}, {"PORTNUMBER", std::to_string(server.port())},
      {"USER", "test"},        {"PASSWORD", "secret"},
      {"ACCOUNT", "main"},     {"LoginTimeout", "10"}};
  for (const auto& [k, v] : extra) keys[k] = v;
  add_dsn(name, keys);
}

void OdbcConfig::flush() {
  std::ostringstream ini;
  for (const auto& [name, keys] : sources_) {
    ini << "[" << name << "]\nDriver=Q4\n";
    for (const auto& [k, v] : keys) ini << k << "=" << v << "\n";
    ini << "\n";
  }
  dir_.write("odbc.ini", ini.str());
}

std::string diagnostic(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt) {
  SQLCHAR state[6] = {0};
  SQLCHAR text[512] = {0};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  SQLRETURN rc = SQLError(env, dbc, stmt, state, &native, text, sizeof text, &length);
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return "";
  return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(text);
}

void Connected::connect(const std::vector<std::string>& server_args) {
  static int servers = 0;
  const std::string dsn = "q4e2e" + std::to_string(++servers);
  server_ = std::make_unique<Q4lite>(server_args);
  ASSERT_TRUE(server_->running());
  config_.add_server_dsn(dsn, *server_);
  ASSERT_EQ(SQLAllocEnv(&env_), SQL_SUCCESS);
  ASSERT_EQ(SQLAllocConnect(env_, &dbc_), SQL_SUCCESS);
  ASSERT_EQ(
      SQLConnect(dbc_, as_sql(dsn), SQL_NTS, as_sql("test"), SQL_NTS, as_sql("secret"), SQL_NTS),
      SQL_SUCCESS)
      << diagnostic(env_, dbc_, nullptr);
  ASSERT_EQ(SQLAllocStmt(dbc_, &stmt_), SQL_SUCCESS);
}

void Connected::TearDown() {
  if (stmt_ != nullptr) SQLFreeStmt(stmt_, SQL_DROP);
  if (dbc_ != nullptr) {
    SQLDisconnect(dbc_);
    SQLFreeConnect(dbc_);
  }
  if (env_ != nullptr) SQLFreeEnv(env_);
}

void Connected::exec(const std::string& text) {
  SQLFreeStmt(stmt_, SQL_CLOSE);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt_, as_sql(text), SQL_NTS))) << text << ": " << diag();
}

int run_command(const std::string& command, std::string* output) {
  std::string full = command + " 2>&1";
  FILE* pipe = popen(full.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  size_t n;
  output->clear();
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

PtyProgram::PtyProgram(const std::string& command) {
  pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
  if (pid_ == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
}

PtyProgram::~PtyProgram() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (master_ >= 0) close(master_);
}

int PtyProgram::read_some(int milliseconds) {
  pollfd p{master_, POLLIN, 0};
  if (poll(&p, 1, milliseconds) <= 0) return 0;
  char buffer[1024];
  ssize_t got = read(master_, buffer, sizeof buffer);
  if (got <= 0) return -1;  // the program's side of the terminal closed
  for (ssize_t i = 0; i < got; ++i) {
    if (buffer[i] != '\r') transcript_.push_back(buffer[i]);
  }
  return 1;
}

bool PtyProgram::wait_for(const std::string& text, int seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    size_t found = transcript_.find(text, consumed_);
    if (found != std::string::npos) {
      consumed_ = found + text.size();
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline || master_ < 0 || read_some(100) < 0) {
      return false;
    }
  }
}

void PtyProgram::type(const std::string& line) {
  std::string bytes = line + "\n";
  if (write(master_, bytes.data(), bytes.size()) < 0) return;
}

bool PtyProgram::answer(const std::string& prompt, const std::string& line) {
  if (!wait_for(prompt)) return false;
  type(line);
  return true;
}

int PtyProgram::finish(int seconds) {
  if (pid_ <= 0) return -1;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
      return -1;
    }
    if (read_some(50) < 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  while (read_some(0) == 1) {
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace q4e2e
