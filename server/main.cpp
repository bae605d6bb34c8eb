// q4lite: a Q4-protocol server on SQLite (see server/README.md). The program
// reads its options and wires the floors together: the listener of network/
// starts a session of session/ for each connection it accepts.
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "server/network/listener.h"
#include "server/session/logon.h"
#include "server/session/options.h"
#include "server/session/session.h"
#include "server/storage/sample_db.h"

namespace {

using q4::lite::Session;

// A connection's conversation is a session.
class SessionConversation : public q4::lite::Conversation {
 public:
  SessionConversation(const q4::lite::Options& options, const q4::lite::UserTable& users,
                      q4::lite::Channel& channel)
      : session_(options, users, channel) {}

  std::string run() override {
    const std::string reason = session_.run();
    return "user=" + session_.user() + " account=" + session_.account() + ": " +
           std::to_string(session_.requests()) + " requests, " + reason;
  }
  void interrupt() override { session_.interrupt(); }

 private:
  Session session_;
};

q4::lite::ListenerSettings listener_settings(const q4::lite::Options& options) {
  q4::lite::ListenerSettings s;
  s.host = options.listen_host;
  s.port = options.listen_port;
  s.port_file = options.port_file;
  s.max_connections = options.max_connections;
  s.idle_timeout = options.idle_timeout;
  s.quiet = options.quiet;
  s.refusal = Session::kTooManyConnections;
  return s;
}

q4::lite::Listener* g_listener = nullptr;

void on_signal(int) {
  if (g_listener != nullptr) g_listener->stop();
}

void on_hangup(int) {
  if (g_listener != nullptr) g_listener->reload();
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

  q4::lite::ListenerSettings settings = listener_settings(options);
  std::unique_ptr<q4::lite::TlsContext> tls;
  if (!options.tls_cert.empty()) {
    tls = std::make_unique<q4::lite::TlsContext>(options.tls_cert, options.tls_key);
    if (!tls->load(&message)) {
      std::fprintf(stderr, "q4lite: %s\n", message.c_str());
      return 1;
    }
    settings.tls = tls.get();
  }
  q4::lite::Listener listener(settings, [&](q4::lite::Channel& channel) {
    return std::make_unique<SessionConversation>(options, users, channel);
  });
  if (!listener.start(&message)) {
    std::fprintf(stderr, "q4lite: %s\n", message.c_str());
    return 1;
  }
  g_listener = &listener;
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  struct sigaction hangup {};
  hangup.sa_handler = on_hangup;
  hangup.sa_flags = SA_RESTART;
  sigemptyset(&hangup.sa_mask);
  sigaction(SIGHUP, &hangup, nullptr);
  signal(SIGPIPE, SIG_IGN);
  if (!options.quiet) {
    std::fprintf(
        stderr, "q4lite: listening on %s port %u%s, database %s\n", options.listen_host.c_str(),
        listener.port(), tls ? " (TLS only)" : "",
        options.data_dir.empty() ? options.db.c_str() : (options.data_dir + "/ACCOUNT.db").c_str());
  }
  listener.run();
  g_listener = nullptr;
  if (!options.quiet) std::fprintf(stderr, "q4lite: stopped\n");
  return 0;
}
