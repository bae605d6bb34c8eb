#include "server/session/options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace q4::lite {

namespace {

bool parse_number(const char* text, long minimum, long maximum, long* value) {
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || v < minimum || v > maximum) return false;
  *value = v;
  return true;
}

// HOST:PORT, with [v6 address]:PORT for IPv6.
bool parse_listen(const std::string& text, std::string* host, uint16_t* port) {
  std::string h;
  std::string p;
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      return false;
    }
    h = text.substr(1, close - 1);
    p = text.substr(close + 2);
  } else {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    h = text.substr(0, colon);
    p = text.substr(colon + 1);
  }
  long v = 0;
  if (h.empty() || !parse_number(p.c_str(), 0, 65535, &v)) return false;
  *host = h;
  *port = static_cast<uint16_t>(v);
  return true;
}

}  // namespace

std::string usage_text() {
  return R"(Usage: q4lite [--listen HOST:PORT] [--db FILE | --data-dir DIR] [options]

A Q4-protocol server on SQLite.

  --listen HOST:PORT   address to listen on (default 127.0.0.1:1603; port 0
                       picks a free port; [::1]:PORT for IPv6)
  --port-file FILE     write the bound port number to FILE once listening
  --db FILE            the SQLite database of every account (default :memory:,
                       a private empty database per connection)
  --data-dir DIR       the account NAME of the logon uses DIR/NAME.db, created
                       on first use; NAME is letters, digits, '_' and '-'
  --users FILE         turn authentication on: lines "user:password"
                       ("user:" for an empty password; blank lines and lines
                       starting with '#' are skipped)
  --flags N            capability byte of the logon reply (default 3: bit 0
                       absolute fetch, bit 1 information request and prepare
                       with unbound markers)
  --logon-bytes N      data bytes in the logon reply, 0 to 5 (default 5)
  --no-descriptions    leave the column descriptions out of execute replies
  --block-rows N       at most N rows per row block (default: as many as fit)
  --lazy-rows          answer every fetch with one row announced by an empty
                       "K"; its values are then read with get-data requests
  --max-connections N  connections served at once (default 64)
  --max-request BYTES  largest request payload accepted (default 67108864)
  --idle-timeout SECS  close a connection idle this long (default 0: never)
  --busy-timeout MS    how long SQLite waits for another connection's lock
                       (default 5000)
  --tls-cert FILE      speak TLS only (1.2 or newer), with the certificate
                       chain in FILE (PEM, the server's certificate first);
                       needs --tls-key. A plain client is refused at the
                       handshake. SIGHUP reads both files again; connections
                       already open keep theirs
  --tls-key FILE       the private key of --tls-cert (PEM)
  --quiet              no line per connection on stderr
  --test-functions     add the SQL function q4_sleep(MS), which waits MS
                       milliseconds (at most 60000) and returns MS: for tests
                       of time limits and cancels; off by default
  --seed-sample FILE   create the sample database in FILE (which must not
                       exist yet) and exit
  --version            print the version and exit
  --help               print this text and exit
)";
}

ParseOutcome parse_options(int argc, char** argv, Options* o, std::string* message) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char** out) {
      if (i + 1 >= argc) {
        *message = "option " + arg + " needs a value";
        return false;
      }
      *out = argv[++i];
      return true;
    };
    auto number = [&](long minimum, long maximum, long* out) {
      const char* text = nullptr;
      if (!value(&text)) return false;
      if (!parse_number(text, minimum, maximum, out)) {
        *message = "option " + arg + ": " + text + " is not a number from " +
                   std::to_string(minimum) + " to " + std::to_string(maximum);
        return false;
      }
      return true;
    };
    const char* text = nullptr;
    long n = 0;
    if (arg == "--help" || arg == "-h") {
      std::fputs(usage_text().c_str(), stdout);
      return ParseOutcome::kExit;
    } else if (arg == "--version") {
      std::puts("q4lite 1.0");
      return ParseOutcome::kExit;
    } else if (arg == "--listen") {
      if (!value(&text)) return ParseOutcome::kError;
      if (!parse_listen(text, &o->listen_host, &o->listen_port)) {
        *message = std::string("--listen: expected HOST:PORT, got ") + text;
        return ParseOutcome::kError;
      }
    } else if (arg == "--port-file") {
      if (!value(&text)) return ParseOutcome::kError;
      o->port_file = text;
    } else if (arg == "--db") {
      if (!value(&text)) return ParseOutcome::kError;
      o->db = text;
    } else if (arg == "--data-dir") {
      if (!value(&text)) return ParseOutcome::kError;
      o->data_dir = text;
    } else if (arg == "--users") {
      if (!value(&text)) return ParseOutcome::kError;
      o->users_file = text;
    } else if (arg == "--flags") {
      if (!number(0, 255, &n)) return ParseOutcome::kError;
      o->flags = static_cast<uint8_t>(n);
    } else if (arg == "--logon-bytes") {
      if (!number(0, 5, &n)) return ParseOutcome::kError;
      o->logon_bytes = static_cast<int>(n);
    } else if (arg == "--no-descriptions") {
      o->descriptions = false;
    } else if (arg == "--block-rows") {
      if (!number(1, 1000000, &n)) return ParseOutcome::kError;
      o->block_rows = static_cast<uint32_t>(n);
    } else if (arg == "--lazy-rows") {
      o->lazy_rows = true;
    } else if (arg == "--max-connections") {
      if (!number(1, 10000, &n)) return ParseOutcome::kError;
      o->max_connections = static_cast<int>(n);
    } else if (arg == "--max-request") {
      if (!number(1024, 1L << 30, &n)) return ParseOutcome::kError;
      o->max_request = static_cast<size_t>(n);
    } else if (arg == "--idle-timeout") {
      if (!number(0, 86400 * 365, &n)) return ParseOutcome::kError;
      o->idle_timeout = static_cast<int>(n);
    } else if (arg == "--busy-timeout") {
      if (!number(0, 3600 * 1000, &n)) return ParseOutcome::kError;
      o->busy_timeout = static_cast<int>(n);
    } else if (arg == "--tls-cert") {
      if (!value(&text)) return ParseOutcome::kError;
      o->tls_cert = text;
    } else if (arg == "--tls-key") {
      if (!value(&text)) return ParseOutcome::kError;
      o->tls_key = text;
    } else if (arg == "--quiet") {
      o->quiet = true;
    } else if (arg == "--test-functions") {
      o->test_functions = true;
    } else if (arg == "--seed-sample") {
      if (!value(&text)) return ParseOutcome::kError;
      o->seed_sample = text;
    } else {
      *message = "unknown option " + arg + " (see --help)";
      return ParseOutcome::kError;
    }
  }
  if (o->tls_cert.empty() != o->tls_key.empty()) {
    *message = o->tls_cert.empty() ? "--tls-key needs --tls-cert" : "--tls-cert needs --tls-key";
    return ParseOutcome::kError;
  }
  if (!o->data_dir.empty() && o->db != ":memory:") {
    *message = "--db and --data-dir exclude each other";
    return ParseOutcome::kError;
  }
  return ParseOutcome::kRun;
}

}  // namespace q4::lite
