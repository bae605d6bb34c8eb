#include "support.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

namespace q4e2e {
namespace {

std::string build_dir() {
  const char* dir = getenv("Q4_BUILD_DIR");
  return dir != nullptr ? dir : "build";
}

}  // namespace

Q4lite::Q4lite() {
  std::ofstream(dir_.file("users")) << "test:secret\n";
  // clang-format off
  std::vector<std::string> argv_text = {
      build_dir() + "/q4lite", "--listen", "127.0.0.1:0", "--port-file", dir_.file("port"),
      "--quiet", "--db", ":memory:", "--users", dir_.file("users")};
  // clang-format on
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
    if (std::ifstream(dir_.file("port")) >> port_ && port_ > 0) return;
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  stop();
}

void Q4lite::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; waitpid(pid_, nullptr, WNOHANG) == 0; ++i) {
    if (i == 300) kill(pid_, SIGKILL);  // after three seconds
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
}

std::string Connected::add_dsn(const std::map<std::string, std::string>& extra) {
  static int count = 0;
  const std::string name = "q4e2e" + std::to_string(++count);
  std::map<std::string, std::string> keys = {
      {"SERVER", "127.0.0.1"}, {"PORTNUMBER", std::to_string(server_->port())},
      {"USER", "test"},        {"PASSWORD", "secret"},
      {"ACCOUNT", "main"},     {"LoginTimeout", "10"}};
  for (const auto& [k, v] : extra) keys[k] = v;
  std::ofstream ini(config_.file("odbc.ini"), std::ios::app);
  ini << "[" << name << "]\nDriver=Q4\n";
  for (const auto& [k, v] : keys) ini << k << "=" << v << "\n";
  return name;
}

std::string Connected::diag() {
  SQLCHAR state[6] = {0}, text[512] = {0};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLError(env_, dbc_, stmt_, state, &native, text, sizeof text, &length)))
    return "";
  return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(text);
}

void Connected::SetUp() {
  std::ofstream(config_.file("odbcinst.ini"))
      << "[Q4]\nDescription=q4odbc\nDriver=" << build_dir() << "/libq4odbc.so\nFileUsage=1\n";
  setenv("ODBCSYSINI", config_.path.c_str(), 1);
  setenv("ODBCINSTINI", "odbcinst.ini", 1);
  setenv("ODBCINI", config_.file("odbc.ini").c_str(), 1);
  server_ = std::make_unique<Q4lite>();
  ASSERT_TRUE(server_->running());
  const std::string dsn = add_dsn();
  ASSERT_EQ(SQLAllocEnv(&env_), SQL_SUCCESS);
  if (odbc3_)
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  ASSERT_EQ(SQLAllocConnect(env_, &dbc_), SQL_SUCCESS);
  // An ODBC 3 application is told that the driver speaks ODBC 2 (01000).
  ASSERT_EQ(
      SQLConnect(dbc_, as_sql(dsn), SQL_NTS, as_sql("test"), SQL_NTS, as_sql("secret"), SQL_NTS),
      odbc3_ ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS)
      << diag();
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
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  output->clear();
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output->append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace q4e2e
