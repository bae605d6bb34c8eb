#include "result_fixture.h"

#include <algorithm>
#include <cstring>

#include "core/memory.h"
#include "protocol/codec.h"
#include "protocol/wire.h"
#include "results/get_data.h"
#include "statement/cursor.h"
#include "statement/execute.h"
#include "statement/lifecycle.h"

namespace q4::wire {

Bytes be16(uint16_t v) {
  return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

Bytes be32(uint32_t v) {
  Bytes b(4);
  put_u32(b.data(), v);
  return b;
}

Bytes cstr(const std::string& text) {
  return join({bytes_of(text), Bytes{0}});
}

Bytes join(const std::vector<Bytes>& parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

Bytes text_value(const std::string& data, int16_t type) {
  return join({be16(static_cast<uint16_t>(type)), be32(static_cast<uint32_t>(data.size())),
               bytes_of(data)});
}

Bytes int_value(int32_t v) {
  return join({be16(SQL_INTEGER), be32(4), be32(static_cast<uint32_t>(v))});
}

Bytes null_value() {
  return text_value("", kNullValueType);
}

Bytes block_of(const std::vector<Bytes>& rows, char trailer) {
  Bytes b;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (i > 0) b.push_back('K');
    b.insert(b.end(), rows[i].begin(), rows[i].end());
  }
  b.push_back(static_cast<uint8_t>(trailer));
  return b;
}

Bytes numbered_block(int32_t first, int32_t count, char trailer) {
  std::vector<Bytes> rows;
  for (int32_t i = 0; i < count; ++i) rows.push_back(int_value(first + i));
  return block_of(rows, trailer);
}

Bytes execute_payload(uint32_t columns, uint32_t rows, const Bytes& rest) {
  return join({be32(columns), be32(rows), rest});
}

Bytes description(const std::string& name, uint16_t type, uint32_t precision, uint16_t scale,
                  uint16_t nullable) {
  return join({cstr(name), be16(type), be32(precision), be16(scale), be16(nullable)});
}

Bytes description_section(const std::vector<Bytes>& records) {
  Bytes entries;
  for (const Bytes& r : records) entries = join({entries, be32(uint32_t(r.size() + 4)), r});
  return join({Bytes{'X'}, be32(uint32_t(entries.size() + 4)), entries});
}

Bytes next_block_request(const Statement* stmt) {
  return join({be32(statement_id(stmt)), Bytes{'X'}});
}

Bytes get_data_request(const Statement* stmt, uint16_t column, int16_t c_type) {
  return join({be32(statement_id(stmt)), be16(column), be16(static_cast<uint16_t>(c_type))});
}

Bytes statement_request(const Statement* stmt) {
  return join({be32(statement_id(stmt)), be16(1)});
}

void RowServer::serve(ScriptedPeer& peer, int count) {
  peer.serve(count, [this](const ReceivedRequest& request, std::string* status, Bytes* payload) {
    return answer(request, status, payload);
  });
}

std::vector<std::string> RowServer::log() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

std::string RowServer::answer(const ReceivedRequest& request, std::string* status, Bytes* payload) {
  uint8_t command = request.command.empty() ? 0 : static_cast<uint8_t>(request.command[0]);
  const Bytes& p = request.payload;
  std::string entry;
  if (command == kCmdExecute) {
    entry = "exec";
    next_row_ = 1;
  } else if (command == kCmdFetch && p.size() == 5 && p[4] == 'X') {
    entry = "X";
  } else if (command == kCmdFetch && p.size() == 9 && p[4] == 'A') {
    next_row_ = static_cast<int32_t>(load_u32(p.data() + 5));
    entry = "A" + std::to_string(next_row_);
  } else {
    return "row server: unexpected request, command " + std::to_string(command);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(entry);
  }
  Bytes block;
  if (next_row_ <= total_) {
    int32_t count = std::min(per_block_, total_ - next_row_ + 1);
    block = numbered_block(next_row_, count, next_row_ + count > total_ ? 'W' : 'M');
    next_row_ += count;
  }
  *status = command == kCmdExecute || !block.empty() ? "K" : "W";
  *payload = command == kCmdExecute ? execute_payload(1, total_, block) : block;
  return "";
}

void StatementTest::SetUp() {
  conn = connect_link(peer.port());
  ASSERT_NE(conn->socket, kInvalidSocket);
  conn->server_version = 754;
  stmt = static_cast<Statement*>(drv_alloc(nullptr, nullptr, sizeof(Statement)));
  stmt->connection = conn.get();
  stmt->getdata_column = -1;
  stmt->retrieve_data = SQL_RD_ON;
  stmt->rowset_size = 1;
}

void StatementTest::TearDown() {
  EXPECT_EQ(peer.finish(), "");
  if (stmt == nullptr) return;
  free_statement(stmt, SQL_UNBIND);
  free_statement(stmt, SQL_RESET_PARAMS);
  close_result(stmt);
  drv_free(stmt->binary_blocks);
  drv_free(stmt->binary_lengths);
  drv_free(stmt->statement_text);
  discard_dropped_statement(stmt);
}

SQLRETURN StatementTest::execute(const Bytes& reply_payload, const std::string& status) {
  peer.expect_request(kCmdExecute).reply(status, reply_payload);
  return execute_direct(stmt, "SELECT N FROM T", SQL_NTS);
}

int32_t StatementTest::int_at(uint16_t column) {
  SQLINTEGER v = 0;
  SQLLEN length = 0;
  return get_data(stmt, column, SQL_C_LONG, &v, sizeof v, &length) == SQL_SUCCESS ? v : INT32_MIN;
}

std::string StatementTest::text_at(uint16_t column, SQLLEN room) {
  std::vector<char> buffer(static_cast<size_t>(room) + 1, '\0');
  SQLLEN length = 0;
  SQLRETURN rc = get_data(stmt, column, SQL_C_CHAR, buffer.data(), room, &length);
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return "<rc " + std::to_string(rc) + ">";
  return length == SQL_NULL_DATA ? "<null>" : buffer.data();
}

}  // namespace q4::wire
