#include "server/session/session.h"

#include "protocol/codec.h"
#include "protocol/wire.h"
#include "server/storage/error_map.h"
#include "server/storage/statement.h"

namespace q4::lite {

namespace {
// Statements one connection may hold; a driver releases every statement it
// drops, so only a broken client reaches this.
constexpr size_t kMaxStatements = 4096;
}  // namespace

Session::Session(const Options& options, const UserTable& users, Channel& channel)
    : options_(options),
      users_(users),
      link_(channel, options.max_request),
      reply_(static_cast<size_t>(kMaxChunk)) {}

Session::~Session() {
  // Statements before the database: close_v2 would otherwise linger.
  statements_.clear();
  table_columns_.clear();
  std::lock_guard<std::mutex> lock(db_mutex_);
  db_.reset();
}

void Session::interrupt() {
  std::lock_guard<std::mutex> lock(db_mutex_);
  if (db_) sqlite3_interrupt(db_.get());
}

std::string Session::run() {
  Request request;
  const char* reason = nullptr;
  while (reason == nullptr) {
    const ReadStatus status = link_.read_request(&request);
    if (status == ReadStatus::kClosed) {
      reason = "closed by the client";
    } else if (status == ReadStatus::kBroken) {
      reason = "closed: malformed frame";
    } else {
      ++requests_;
      if (dispatch(request) == Next::kClose) reason = logged_on_ ? "disconnected" : "logon refused";
    }
  }
  // Requests sent ahead of their replies may still have replies held back
  // (the last one, a disconnect's, say).
  link_.flush();
  return reason;
}

Session::Next Session::dispatch(const Request& request) {
  if (request.command.size() != 1) {
    return reply_error(kErrRuntime,
                       "unknown command of " + std::to_string(request.command.size()) + " bytes");
  }
  const uint8_t command = static_cast<uint8_t>(request.command[0]);
  if (request.too_large) {
    return reply_error(kErrRuntime,
                       "request larger than " + std::to_string(options_.max_request) + " bytes");
  }
  if (command == kCmdLogon) return on_logon(request);
  if (command == kCmdDisconnect) return on_disconnect();
  if (!logged_on_) return reply_error(kErrAccessViolation, "not logged on");
  switch (command) {
    case kCmdDescribe:
      return on_describe(request);
    case kCmdFetch:
      return on_fetch(request);
    case kCmdGetData:
      return on_get_data(request);
    case kCmdTypeInfo:
      return on_catalog(request, CatalogKind::kTypeInfo);
    case kCmdTables:
      return on_catalog(request, CatalogKind::kTables);
    case kCmdColumns:
      return on_catalog(request, CatalogKind::kColumns);
    case kCmdExecute:
      return on_execute(request, false);
    case kCmdAllocate:
      return on_allocate(request);
    case kCmdRelease:
      return on_release(request);
    case kCmdAccount:
      return on_account(request);
    case kCmdPrepare:
      return on_execute(request, true);
    case kCmdSpecialColumns:
      return on_catalog(request, CatalogKind::kSpecialColumns);
    case kCmdTransact:
      return on_transact(request);
    case kCmdConnectOptions:
      return on_settings(request);
    case kCmdStatistics:
      return on_catalog(request, CatalogKind::kStatistics);
    case kCmdPrimaryKeys:
      return on_catalog(request, CatalogKind::kPrimaryKeys);
    case kCmdServerInfo:
      return on_information(request);
    default: {
      static const char kHex[] = "0123456789ABCDEF";
      std::string code = "0x";
      code.push_back(kHex[command >> 4]);
      code.push_back(kHex[command & 15]);
      return reply_error(kErrNotSupported, "unknown command " + code);
    }
  }
}

Session::Next Session::reply_status(const std::string& status) {
  return link_.send_status(status) ? Next::kContinue : Next::kClose;
}

Session::Next Session::reply_error(int number, const std::string& message) {
  return reply_status(error_status(number, message));
}

Session::Next Session::reply_payload(const char* status, const uint8_t* data, size_t length) {
  return link_.send_payload(status, data, length) ? Next::kContinue : Next::kClose;
}

Session::Next Session::reply_result(Statement& st, bool rows, size_t capacity) {
  Cursor& cursor = *st.cursor;
  uint8_t* out = reply_.data();
  const std::vector<ColumnInfo>& columns = cursor.columns();
  put_u32(out, static_cast<uint32_t>(columns.size()));
  size_t pos = 8;
  if (options_.descriptions) {
    // A section too large for the reply is left out; the driver then asks
    // for each column with a describe request.
    pos += put_description_section(columns, out + pos, capacity - pos);
  }
  // The row count of a reply with result columns (an execute's, a
  // catalog's) is the rows known to exist when replying: exact when this
  // block ends the result, otherwise a lower bound, and 0 only for an empty
  // result (the driver takes 0 as "no rows" for a block cursor). The driver
  // counts on from it as it reads and shows SQLRowCount -1 until the end;
  // a prepare reply, which runs nothing, says 0. A reply without result
  // columns (on_execute) carries the rows the statement changed instead.
  uint32_t row_count = 0;
  bool more = false;
  if (rows && options_.lazy_rows) {
    // No row travels in the reply; one more row exists unless the result
    // is already known to be empty.
    row_count = cursor.exhausted() ? 0 : 1;
  } else if (rows) {
    // Row count: exact when the whole result fits in this first block,
    // otherwise the rows sent plus one (a row is held back, so at least one
    // more exists); the driver raises its count as it reads further.
    const Cursor::Block block = cursor.fill(out + pos, capacity - pos, options_.block_rows);
    if (block.rows > 0) pos += block.length;
    row_count = block.trailer == Cursor::kMore ? block.rows + 1 : block.rows;
    more = block.rows > 0 && block.trailer == Cursor::kMore;
  }
  put_u32(out + 4, row_count);
  if (reply_payload("K", out, pos) == Next::kClose) return Next::kClose;
  if (more) build_ahead(st);
  return Next::kContinue;
}

void Session::build_ahead(Statement& st) {
  st.ahead.resize(static_cast<size_t>(kMaxChunk));
  const Cursor::Block block =
      st.cursor->fill(st.ahead.data(), st.ahead.size(), options_.block_rows, &st.ahead_starts);
  if (block.rows == 0) {
    // The end, an error or a row too large for a block: the next fetch
    // meets the same state in the cursor and answers it.
    st.ahead.clear();
    return;
  }
  st.ahead.resize(block.length);
  st.ahead_first = block.first_row;
}

Session::Next Session::send_ahead(Statement& st, size_t index) {
  const size_t offset = st.ahead_starts[index];
  const bool more = st.ahead.back() == Cursor::kMore;
  if (reply_payload("K", st.ahead.data() + offset, st.ahead.size() - offset) == Next::kClose) {
    return Next::kClose;
  }
  st.ahead.clear();
  if (more) build_ahead(st);
  return Next::kContinue;
}

bool Session::open_database(const std::string& account, DbHandle* db, std::string* error) {
  std::string path;
  if (!database_for_account(options_.db, options_.data_dir, account, &path, error)) return false;
  sqlite3* raw = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX |
                    (options_.data_dir.empty() ? SQLITE_OPEN_URI : 0);
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  DbHandle handle(raw);
  if (rc != SQLITE_OK) {
    *error = "cannot open the database of account " + account + ": " +
             (raw != nullptr ? sqlite3_errmsg(raw) : "out of memory");
    return false;
  }
  sqlite3_busy_timeout(raw, options_.busy_timeout);
  if (options_.value_length_limit > 0) {
    sqlite3_limit(raw, SQLITE_LIMIT_LENGTH, options_.value_length_limit);
  }
  if (options_.step_budget_thousands > 0) {
    steps_left_ = options_.step_budget_thousands;
    sqlite3_progress_handler(
        raw, 1000,
        [](void* left) -> int {
          uint64_t* n = static_cast<uint64_t*>(left);
          return *n == 0 ? 1 : (--*n, 0);
        },
        &steps_left_);
  }
  sqlite3_extended_result_codes(raw, 1);
  if (register_sql_functions(raw, &names_) != SQLITE_OK ||
      (options_.test_functions && register_test_functions(raw) != SQLITE_OK)) {
    *error = "cannot register the server's SQL functions";
    return false;
  }
  // Readers must not block the writers of other connections for as long as
  // a client takes to fetch a result: a file database runs in WAL mode
  // (the call is a no-op for in-memory databases).
  sqlite3_exec(raw, "PRAGMA journal_mode=WAL; PRAGMA foreign_keys=ON;", nullptr, nullptr, nullptr);
  *db = std::move(handle);
  return true;
}

Statement* Session::find_statement(uint32_t id) {
  const auto it = statements_.find(id);
  return it == statements_.end() ? nullptr : it->second.get();
}

Statement* Session::statement_for(uint32_t id) {
  Statement* st = find_statement(id);
  if (st != nullptr || statements_.size() >= kMaxStatements) return st;
  auto created = std::make_unique<Statement>();
  st = created.get();
  statements_.emplace(id, std::move(created));
  return st;
}

void Session::close_cursors() {
  for (auto& entry : statements_) entry.second->drop_result();
}

}  // namespace q4::lite
