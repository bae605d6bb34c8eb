// One client connection: its SQLite database, its statements, and the
// request loop that answers every command.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "server/network/link.h"
#include "server/session/logon.h"
#include "server/session/options.h"
#include "server/session/request_parser.h"
#include "server/storage/cursor.h"
#include "server/storage/sql_functions.h"
#include "server/storage/sqlite_handles.h"
#include "server/storage/table_columns.h"

namespace q4::lite {

// A statement of the client, named by the driver's u32 statement id.
struct Statement {
  std::unique_ptr<Cursor> cursor;  // the open result, if any
  bool executed = false;           // false while the result is only prepared
  std::string cursor_name;
  // The row block that the next fetch will most likely ask for, built while
  // the client reads the previous one. Its rows count as sent for the cursor.
  std::vector<uint8_t> ahead;          // empty when none is held
  std::vector<uint32_t> ahead_starts;  // offset of each of its rows
  uint32_t ahead_first = 0;            // row number of its first row

  void drop_result() {
    cursor.reset();
    ahead.clear();
  }
};

class Session {
 public:
  // The answer to a logon when the server serves as many connections as it
  // may; the listener sends it in place of a session.
  static constexpr const char* kTooManyConnections = "ELogon failed: too many connections";

  // The options and users outlive the session; so does the channel.
  Session(const Options& options, const UserTable& users, Channel& channel);
  ~Session();

  // Answers requests until the client disconnects, the stream breaks or the
  // channel fails (shutdown included). Returns why it stopped, for the log.
  std::string run();

  // Cancels a running SQLite call from another thread (server shutdown).
  void interrupt();

  const std::string& user() const { return names_.user; }
  const std::string& account() const { return names_.account; }
  uint64_t requests() const { return requests_; }

 private:
  enum class Next { kContinue, kClose };

  Next dispatch(const Request& request);
  Next on_logon(const Request& request);
  Next on_disconnect();
  Next on_account(const Request& request);
  Next on_allocate(const Request& request);
  Next on_release(const Request& request);
  Next on_execute(const Request& request, bool compile_only);
  Next on_catalog(const Request& request, CatalogKind kind);
  Next on_describe(const Request& request);
  Next on_fetch(const Request& request);
  Next on_get_data(const Request& request);
  Next on_transact(const Request& request);
  Next on_settings(const Request& request);
  Next on_information(const Request& request);

  // Reply helpers; each returns kClose when the channel failed.
  Next reply_status(const std::string& status);
  Next reply_error(int number, const std::string& message);
  Next reply_payload(const char* status, const uint8_t* data, size_t length);
  // The "K" reply of an execute, prepare or catalog request: counts, the
  // description section and, with `rows`, the first row block, within
  // `capacity` payload bytes.
  Next reply_result(Statement& st, bool rows, size_t capacity);

  // Builds the statement's next block ahead (see Statement::ahead), after a
  // reply whose block ended with "more rows".
  void build_ahead(Statement& st);
  // Sends the part of the ahead block that starts at its row `index`.
  Next send_ahead(Statement& st, size_t index);

  // Opens the database of `account` with the session's settings applied.
  bool open_database(const std::string& account, DbHandle* db, std::string* error);
  Statement* find_statement(uint32_t id);
  Statement* statement_for(uint32_t id);  // created on first use; null when too many
  // Closes every open result (their statements end).
  void close_cursors();

  const Options& options_;
  const UserTable& users_;
  Link link_;
  std::mutex db_mutex_;  // guards db_ against interrupt() during a swap
  DbHandle db_;
  TableColumns table_columns_;  // of db_; declared after it, so destroyed before it
  SessionNames names_;
  bool logged_on_ = false;
  bool autocommit_ = true;
  uint64_t requests_ = 0;
  uint64_t steps_left_ = 0;  // see Options::step_budget_thousands
  std::unordered_map<uint32_t, std::unique_ptr<Statement>> statements_;
  std::vector<uint8_t> reply_;  // one reply payload of at most kMaxChunk bytes
};

}  // namespace q4::lite
