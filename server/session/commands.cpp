// The command handlers of a session, one per request of the protocol.
#include <cstring>

#include "protocol/codec.h"
#include "protocol/wire.h"
#include "server/session/request_parser.h"
#include "server/session/session.h"
#include "server/storage/catalog.h"
#include "server/storage/error_map.h"
#include "server/storage/statement.h"
#include "server/translation/scalar_functions.h"

namespace q4::lite {

namespace {
// The version bytes of the logon reply (7.1.0.0) and where the capability
// byte follows them.
const uint8_t kVersionBytes[4] = {7, 1, 0, 0};

std::string statement_text(uint32_t id) {
  return "unknown statement id " + std::to_string(id);
}
}  // namespace

Session::Next Session::on_logon(const Request& request) {
  // A refusal ends the connection: the client closes its socket anyway, and
  // nobody gets to try passwords in a loop on one connection.
  if (logged_on_) return reply_status("ELogon failed: already logged on");
  LogonRequest logon;
  if (!parse_logon(request.payload.data(), request.payload.size(), &logon)) {
    reply_status("ELogon failed: malformed logon text");
    return Next::kClose;
  }
  if (!users_.accepts(logon.user, logon.password)) {
    reply_status("ELogon failed: user or password not accepted");
    return Next::kClose;
  }
  names_.user.assign(logon.user);
  names_.account.assign(logon.account);
  DbHandle db;
  std::string error;
  if (!open_database(names_.account, &db, &error)) {
    reply_status("ELogon failed: " + error);
    return Next::kClose;
  }
  {
    std::lock_guard<std::mutex> lock(db_mutex_);
    db_ = std::move(db);
  }
  logged_on_ = true;
  uint8_t data[5];
  std::memcpy(data, kVersionBytes, 4);
  data[4] = options_.flags;
  return reply_payload("K", data, static_cast<size_t>(options_.logon_bytes));
}

Session::Next Session::on_disconnect() {
  reply_status("K");
  return Next::kClose;
}

Session::Next Session::on_account(const Request& request) {
  AccountRequest account;
  if (!parse_account(request.payload.data(), request.payload.size(), &account)) {
    return reply_error(kErrRuntime, "malformed account request");
  }
  if (options_.data_dir.empty()) {
    // Every account shares the one database: only the name changes.
    names_.account.assign(account.account);
    return reply_status("K");
  }
  // Switching closes the current database; work not yet committed would be
  // lost, so the switch waits for a commit or rollback.
  if (!sqlite3_get_autocommit(db_.get())) {
    return reply_error(kErrRuntime, "commit or roll back before changing the account");
  }
  DbHandle db;
  std::string error;
  const std::string name(account.account);
  if (!open_database(name, &db, &error)) return reply_error(kErrCannotOpen, error);
  statements_.clear();
  table_columns_.clear();
  {
    std::lock_guard<std::mutex> lock(db_mutex_);
    db_ = std::move(db);
  }
  names_.account = name;
  return reply_status("K");
}

Session::Next Session::on_allocate(const Request& request) {
  uint32_t id = 0;
  if (!parse_statement_id(request.payload.data(), request.payload.size(), &id)) {
    return reply_error(kErrRuntime, "malformed allocate request");
  }
  if (statement_for(id) == nullptr) return reply_error(kErrRuntime, "too many statements");
  return reply_status("K");
}

Session::Next Session::on_release(const Request& request) {
  uint32_t id = 0;
  if (!parse_statement_id(request.payload.data(), request.payload.size(), &id)) {
    return reply_error(kErrRuntime, "malformed release request");
  }
  // Releasing an id the server never saw succeeds: the driver releases every
  // statement it drops, including those that never reached the server.
  statements_.erase(id);
  return reply_status("K");
}

Session::Next Session::on_execute(const Request& request, bool compile_only) {
  ExecuteRequest execute;
  if (!parse_execute(request.payload.data(), request.payload.size(), &execute)) {
    return reply_error(kErrRuntime, "malformed execute request");
  }
  Statement* st = statement_for(execute.statement_id);
  if (st == nullptr) return reply_error(kErrRuntime, "too many statements");
  // The previous result goes first, so that its read transaction ends
  // before the new statement runs.
  st->drop_result();
  st->executed = false;
  st->cursor_name.assign(execute.cursor_name);
  sqlite3* db = db_.get();
  if (!compile_only && !autocommit_ && sqlite3_get_autocommit(db) &&
      !manages_transactions(execute.text)) {
    const int rc = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      return reply_error(map_sqlite_error(rc, sqlite3_errmsg(db)), sqlite3_errmsg(db));
    }
  }
  Outcome outcome = run_text(db, execute.text, execute.binaries, compile_only, &table_columns_);
  if (!outcome.ok) return reply_status(outcome.error_status);
  if (!outcome.cursor) {
    // No result columns: the row count is the rows the last statement
    // inserted, updated or deleted (0 for DDL), which SQLRowCount shows as
    // it is. A result's count is reply_result's.
    uint8_t counts[8];
    put_u32(counts, 0);
    put_u32(counts + 4, static_cast<uint32_t>(outcome.changes));
    return reply_payload("K", counts, sizeof counts);
  }
  st->cursor = std::move(outcome.cursor);
  st->executed = !compile_only;
  return reply_result(*st, !compile_only, kMaxChunk);
}

Session::Next Session::on_catalog(const Request& request, CatalogKind kind) {
  CatalogRequest catalog;
  if (!parse_catalog(kind, request.payload.data(), request.payload.size(), &catalog)) {
    return reply_error(kErrRuntime, "malformed catalog request");
  }
  Statement* st = statement_for(catalog.statement_id);
  if (st == nullptr) return reply_error(kErrRuntime, "too many statements");
  st->drop_result();
  std::string failure;
  st->cursor = open_catalog(db_.get(), catalog, &failure);
  if (!st->cursor) return reply_status(failure);
  st->executed = true;
  // The driver reads a catalog reply into 20479 bytes (one less than an
  // execute reply).
  return reply_result(*st, true, kMaxChunk - 1);
}

Session::Next Session::on_describe(const Request& request) {
  DescribeRequest describe;
  if (!parse_describe(request.payload.data(), request.payload.size(), &describe)) {
    return reply_error(kErrRuntime, "malformed describe request");
  }
  Statement* st = find_statement(describe.statement_id);
  if (st == nullptr) return reply_error(kErrRuntime, statement_text(describe.statement_id));
  if (!st->cursor) return reply_error(kErrRuntime, "the statement has no result columns");
  const std::vector<ColumnInfo>& columns = st->cursor->columns();
  if (describe.column == 0 || describe.column > columns.size()) {
    return reply_error(kErrColumnNotFound,
                       "column " + std::to_string(describe.column) + " out of range");
  }
  const size_t n =
      put_column_description(columns[describe.column - 1u], reply_.data(), reply_.size());
  return reply_payload("K", reply_.data(), n);
}

Session::Next Session::on_fetch(const Request& request) {
  FetchRequest fetch;
  if (!parse_fetch(request.payload.data(), request.payload.size(), &fetch)) {
    return reply_error(kErrRuntime, "malformed fetch request");
  }
  Statement* st = find_statement(fetch.statement_id);
  if (st == nullptr) return reply_error(kErrRuntime, statement_text(fetch.statement_id));
  if (!st->cursor) return reply_error(kErrRuntime, "the statement has no open result");
  if (!st->executed) return reply_error(kErrRuntime, "the statement is prepared, not executed");
  Cursor& cursor = *st->cursor;
  auto failed = [&] {
    return reply_error(map_sqlite_error(cursor.error_code(), cursor.error_message()),
                       cursor.error_message());
  };
  if (!st->ahead.empty()) {
    const uint32_t first = st->ahead_first;
    const size_t count = st->ahead_starts.size();
    if (!fetch.absolute) return send_ahead(*st, 0);
    if (fetch.row >= first && fetch.row - first < count) return send_ahead(*st, fetch.row - first);
    // Elsewhere: the held rows count as sent, and the cursor moves on (or
    // starts again) from where it stands.
    st->ahead.clear();
  }
  if (fetch.absolute) {
    const Cursor::Seek seek = cursor.seek(fetch.row);
    if (seek == Cursor::Seek::kPastEnd) return reply_status("W");
    if (seek == Cursor::Seek::kError) return failed();
  }
  if (!options_.lazy_rows) {
    const Cursor::Block block = cursor.fill(reply_.data(), reply_.size(), options_.block_rows);
    if (block.rows > 0) {
      if (reply_payload("K", reply_.data(), block.length) == Next::kClose) return Next::kClose;
      if (block.trailer == Cursor::kMore) build_ahead(*st);
      return Next::kContinue;
    }
    if (block.trailer == Cursor::kEnd) return reply_status("W");
    if (block.trailer == Cursor::kError) return failed();
    // The next row alone outgrows a block: it is announced without data and
    // its values are read with get-data requests.
  }
  switch (cursor.announce()) {
    case Cursor::kMore:
      return reply_status("K");
    case Cursor::kEnd:
      return reply_status("W");
    default:
      return failed();
  }
}

Session::Next Session::on_get_data(const Request& request) {
  GetDataRequest get;
  if (!parse_get_data(request.payload.data(), request.payload.size(), &get)) {
    return reply_error(kErrRuntime, "malformed get-data request");
  }
  Statement* st = find_statement(get.statement_id);
  if (st == nullptr) return reply_error(kErrRuntime, statement_text(get.statement_id));
  if (!st->cursor || !st->cursor->has_current_row()) {
    return reply_error(kErrRuntime, "no current row");
  }
  const Cursor& cursor = *st->cursor;
  if (get.column == 0 || get.column > cursor.columns().size()) {
    return reply_error(kErrColumnNotFound,
                       "column " + std::to_string(get.column) + " out of range");
  }
  // The value travels in its own type; the driver converts it to the C
  // type it asked for, so the requested C type is not needed here.
  uint8_t scratch[kValueScratch];
  const ValueView v = cursor.value(get.column - 1, scratch);
  uint8_t header[6];
  put_u32(put_u16(header, v.type), v.length);
  const Piece pieces[2] = {{header, sizeof header}, {v.data, v.length}};
  return link_.send_reply("K", pieces, 2) ? Next::kContinue : Next::kClose;
}

Session::Next Session::on_transact(const Request& request) {
  bool commit = false;
  if (!parse_transact(request.payload.data(), request.payload.size(), &commit)) {
    return reply_error(kErrRuntime, "malformed commit request");
  }
  sqlite3* db = db_.get();
  if (sqlite3_get_autocommit(db)) return reply_status("K");  // nothing open
  const char* sql = commit ? "COMMIT" : "ROLLBACK";
  int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  if ((rc & 0xFF) == SQLITE_BUSY && !sqlite3_get_autocommit(db)) {
    // A result still being read can hold the transaction open; results do
    // not survive a commit or rollback (the driver reports SQL_CB_CLOSE).
    close_cursors();
    rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  }
  if (rc != SQLITE_OK)
    return reply_error(map_sqlite_error(rc, sqlite3_errmsg(db)), sqlite3_errmsg(db));
  return reply_status("K");
}

Session::Next Session::on_settings(const Request& request) {
  SettingsRequest settings;
  if (!parse_settings(request.payload.data(), request.payload.size(), &settings)) {
    return reply_error(kErrRuntime, "malformed connection settings");
  }
  sqlite3* db = db_.get();
  // Switching autocommit on commits the open transaction, as ODBC asks.
  if (settings.autocommit && !autocommit_ && !sqlite3_get_autocommit(db)) {
    const int rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      return reply_error(map_sqlite_error(rc, sqlite3_errmsg(db)), sqlite3_errmsg(db));
    }
  }
  autocommit_ = settings.autocommit;
  // Read-only access refuses changes; the isolation level is accepted as it
  // is: SQLite transactions are serializable, which satisfies every level.
  sqlite3_exec(db, settings.read_only ? "PRAGMA query_only=1" : "PRAGMA query_only=0", nullptr,
               nullptr, nullptr);
  return reply_status("K");
}

Session::Next Session::on_information(const Request& request) {
  uint16_t first = 0;
  uint16_t second = 0;
  // The driver reads this reply's status into 16 bytes: keep "E" texts short.
  if (!parse_information(request.payload.data(), request.payload.size(), &first, &second)) {
    return reply_status("E25 malformed");
  }
  uint8_t value[4];
  put_u32(value, static_cast<uint32_t>(server_information(first, second)));
  return reply_payload("K", value, sizeof value);
}

}  // namespace q4::lite
