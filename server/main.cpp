// q4lite: a Q4-protocol server on SQLite (see server/README.md).
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "server/logon.h"
#include "server/options.h"
#include "server/sample_db.h"
#include "server/server.h"

namespace {

q4::lite::Server* g_server = nullptr;

void on_signal(int) {
  if (g_server != nullptr) g_server->stop();
}

}  // namespace

int main(int argc, char** argv) {
  // SQLite's memory statistics take a process-wide mutex at every allocation,
  // and a statement's preparation makes dozens: with several connections, or
  // a client sending rows as fast as they are run, that lock costs more than
  // the parsing. Nothing here reads the statistics.
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  q4::lite::Options options;
  std::string message;
  switch (q4::lite::parse_options(argc, argv, &options, &message)) {
    case q4::lite::ParseOutcome::kExit:
      return 0;
    case q4::lite::ParseOutcome::kError:
      std::fprintf(stderr, "q4lite: %s\n", message.c_str());
      return 2;
    case q4::lite::ParseOutcome::kRun:
      break;
  }
  if (!options.seed_sample.empty()) {
    if (!q4::lite::create_sample_database(options.seed_sample, &message)) {
      std::fprintf(stderr, "q4lite: %s\n", message.c_str());
      return 1;
    }
    if (!options.quiet)
      std::fprintf(stderr, "q4lite: sample database written to %s\n", options.seed_sample.c_str());
    return 0;
  }
  q4::lite::UserTable users;
  if (!options.users_file.empty() && !users.load(options.users_file, &message)) {
    std::fprintf(stderr, "q4lite: %s\n", message.c_str());
    return 1;
  }
  if (!options.data_dir.empty() && mkdir(options.data_dir.c_str(), 0777) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "q4lite: cannot create %s: %s\n", options.data_dir.c_str(),
                 std::strerror(errno));
    return 1;
  }

  q4::lite::Server server(options, users);
  if (!server.start(&message)) {
    std::fprintf(stderr, "q4lite: %s\n", message.c_str());
    return 1;
  }
  g_server = &server;
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  if (!options.quiet) {
    std::fprintf(
        stderr, "q4lite: listening on %s port %u, database %s\n", options.listen_host.c_str(),
        server.port(),
        options.data_dir.empty() ? options.db.c_str() : (options.data_dir + "/ACCOUNT.db").c_str());
  }
  server.run();
  g_server = nullptr;
  if (!options.quiet) std::fprintf(stderr, "q4lite: stopped\n");
  return 0;
}
