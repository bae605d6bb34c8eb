// build/q4lite as a child process of a test, for the server and stress tiers.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace q4::test {

// A q4lite child process listening on 127.0.0.1, port chosen by the system,
// in a folder of its own removed at destruction.
struct ServerProcess {
  ~ServerProcess() {
    stop();
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  uint16_t port() const { return port_; }
  long rss_kib() const {  // resident set size, from /proc
    long pages = -1, resident = -1;
    std::ifstream("/proc/" + std::to_string(pid_) + "/statm") >> pages >> resident;
    return resident < 0 ? -1 : resident * (sysconf(_SC_PAGESIZE) / 1024);
  }
  int stop() {  // SIGTERM and wait: the exit status, -1 if killed by a signal
    int status = 0;
    if (pid_ <= 0 || kill(pid_, SIGTERM) != 0 || waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  pid_t pid_ = -1;
  uint16_t port_ = 0;
  std::string dir_;
};

// Starts build/q4lite with `args` (by default without column descriptions),
// its folder holding "users" with `users` when given; null (and a failure) if
// it does not come up.
inline std::unique_ptr<ServerProcess> start_server(
    const std::vector<std::string>& args = {"--no-descriptions"}, const std::string& users = "") {
  auto server = std::make_unique<ServerProcess>();
  char dir[] = "/tmp/q4lite-test-XXXXXX";
  if (mkdtemp(dir) == nullptr) return nullptr;
  server->dir_ = dir;
  const char* build = std::getenv("Q4_BUILD_DIR");
  // clang-format off
  std::vector<std::string> argv_text = {
      std::filesystem::absolute(build != nullptr ? build : "build").string() + "/q4lite",
      "--listen", "127.0.0.1:0", "--port-file", "port", "--quiet"};
  // clang-format on
  if (!users.empty()) std::ofstream(server->dir_ + "/users") << users;
  if (!users.empty()) argv_text.insert(argv_text.end(), {"--users", "users"});
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : argv_text) argv.push_back(s.data());
  argv.push_back(nullptr);
  server->pid_ = fork();
  if (server->pid_ == 0) {
    // AddressSanitizer's default 256 MiB quarantine would hide whether the
    // server's memory stays flat.
    const char* asan = std::getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":quarantine_size_mb=4").c_str(), 1);
    if (chdir(dir) == 0) execv(argv[0], argv.data());
    _exit(127);
  }
  int port = 0;
  for (int i = 0; i < 2000 && !(std::ifstream(server->dir_ + "/port") >> port && port > 0); ++i) {
    if (waitpid(server->pid_, nullptr, WNOHANG) != 0) server->pid_ = -1;  // exited at start
    if (server->pid_ < 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  server->port_ = static_cast<uint16_t>(port);
  if (port > 0) return server;
  ADD_FAILURE() << "q4lite did not start with its " << args.size() << " arguments";
  return nullptr;
}

}  // namespace q4::test
