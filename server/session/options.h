// Command-line options of q4lite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace q4::lite {

struct Options {
  std::string listen_host = "127.0.0.1";
  uint16_t listen_port = 1603;
  std::string port_file;        // receives the bound port when set
  std::string db = ":memory:";  // database of every account (unless data_dir)
  std::string data_dir;         // account NAME -> data_dir/NAME.db
  std::string users_file;       // "user:password" lines; authentication on when set
  uint8_t flags = 3;            // capability byte of the logon reply
  int logon_bytes = 5;          // data bytes of the logon reply (0..5)
  bool descriptions = true;     // execute replies carry the "X" section
  uint32_t block_rows = 0;      // rows per block at most; 0 = as many as fit
  bool lazy_rows = false;       // every fetch answers one row as an empty "K"
  bool quiet = false;
  bool test_functions = false;  // q4_sleep(ms) for tests of waits and cancels
  int max_connections = 64;
  size_t max_request = 64u << 20;  // request payload bytes kept at most
  int idle_timeout = 0;            // seconds without a request; 0 = none
  int busy_timeout = 5000;         // milliseconds SQLite waits for a lock
  std::string seed_sample;         // create the sample database here and exit
  // Serve TLS only: the certificate chain and its key (PEM files), both or
  // neither; reloaded on SIGHUP.
  std::string tls_cert;
  std::string tls_key;
  // Limits for the fuzz target, not on the command line: SQLite virtual
  // machine steps per connection (in thousands) and bytes per value. 0 = none.
  uint64_t step_budget_thousands = 0;
  int value_length_limit = 0;
};

enum class ParseOutcome { kRun, kExit, kError };

// Parses argv into *options. kExit after --help or --version (the text has
// been printed), kError with *message set for a bad command line.
ParseOutcome parse_options(int argc, char** argv, Options* options, std::string* message);

// The --help text.
std::string usage_text();

}  // namespace q4::lite
