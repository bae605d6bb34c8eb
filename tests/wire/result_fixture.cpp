#include "result_fixture.h"

#include <cstring>

#include "core/memory.h"
#include "protocol/codec.h"
#include "protocol/wire.h"
#include "results/get_data.h"
#include "statement/cursor.h"
#include "statement/execute.h"

namespace q4::wire {

Bytes int_value(int32_t v) {
  Bytes b(10);
  put_u32(put_u32(put_u16(b.data(), SQL_INTEGER), 4), static_cast<uint32_t>(v));
  return b;
}

Bytes text_value(const std::string& text, int16_t type) {
  Bytes b(6 + text.size());
  uint8_t* at =
      put_u32(put_u16(b.data(), static_cast<uint16_t>(type)), static_cast<uint32_t>(text.size()));
  if (!text.empty()) memcpy(at, text.data(), text.size());
  return b;
}

Bytes null_value() {
  Bytes b(6);
  put_u32(put_u16(b.data(), kNullValueType), 0);
  return b;
}

Bytes join(const std::vector<Bytes>& parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
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
  Bytes b(8);
  put_u32(put_u32(b.data(), columns), rows);
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

Bytes next_block_request(const Statement* stmt) {
  Bytes b(5);
  put_u32(b.data(), statement_id(stmt));
  b[4] = 'X';
  return b;
}

Bytes absolute_request(const Statement* stmt, uint32_t row) {
  Bytes b(9);
  put_u32(b.data(), statement_id(stmt));
  b[4] = 'A';
  put_u32(b.data() + 5, row);
  return b;
}

Bytes get_data_request(const Statement* stmt, uint16_t column, int16_t c_type) {
  Bytes b(8);
  put_u16(put_u16(put_u32(b.data(), statement_id(stmt)), column), static_cast<uint16_t>(c_type));
  return b;
}

void RowServer::serve(ScriptedPeer& peer, int count) {
  peer.step("row server", [this, count](PeerLink& link) -> std::string {
    for (int i = 0; i < count; ++i) {
      ReceivedRequest request;
      std::string why;
      if (!link.read_request(&request, &why)) return why;
      why = answer(link, request);
      if (!why.empty()) return why;
    }
    return "";
  });
}

std::vector<std::string> RowServer::log() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

std::string RowServer::answer(PeerLink& link, const ReceivedRequest& request) {
  std::string why;
  auto block_from_next = [this]() {
    int32_t count = std::min(per_block_, total_ - next_row_ + 1);
    char trailer = next_row_ + count > total_ ? 'W' : 'M';
    Bytes block = numbered_block(next_row_, count, trailer);
    next_row_ += count;
    return block;
  };
  std::string entry;
  bool sent = false;
  uint8_t command = request.command.empty() ? 0 : static_cast<uint8_t>(request.command[0]);
  const Bytes& p = request.payload;
  if (command == kCmdExecute) {
    entry = "exec";
    next_row_ = 1;
    sent = link.send_reply("K", execute_payload(1, total_, block_from_next()), &why);
  } else if (command == kCmdFetch && p.size() == 5 && p[4] == 'X') {
    entry = "X";
    sent = next_row_ > total_ ? link.send_reply("W", {}, &why)
                              : link.send_reply("K", block_from_next(), &why);
  } else if (command == kCmdFetch && p.size() == 9 && p[4] == 'A') {
    uint32_t row = load_u32(p.data() + 5);
    entry = "A" + std::to_string(row);
    next_row_ = static_cast<int32_t>(row);
    sent = next_row_ > total_ ? link.send_reply("W", {}, &why)
                              : link.send_reply("K", block_from_next(), &why);
  } else {
    return "row server: unexpected request, command " + std::to_string(command);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(entry);
  }
  return sent ? "" : why;
}

void ResultLinkTest::SetUp() {
  conn = connect_link(peer.port());
  ASSERT_NE(conn->socket, kInvalidSocket);
  stmt = static_cast<Statement*>(drv_alloc(nullptr, nullptr, sizeof(Statement)));
  stmt->connection = conn.get();
  stmt->getdata_column = -1;
  stmt->retrieve_data = SQL_RD_ON;
  stmt->rowset_size = 1;
}

void ResultLinkTest::TearDown() {
  EXPECT_EQ(peer.finish(), "");
  if (stmt == nullptr) return;
  close_result(stmt);
  for (BoundColumn* c = stmt->bound_columns; c != nullptr;) {
    BoundColumn* next = c->next;
    drv_free(c);
    c = next;
  }
  drv_free(stmt->request_buffer);
  drv_free(stmt->statement_text);
  drv_free(stmt);
}

SQLRETURN ResultLinkTest::execute(const Bytes& reply_payload, const std::string& status) {
  peer.expect_request(kCmdExecute).reply(status, reply_payload);
  return execute_direct(stmt, "SELECT N FROM T", SQL_NTS);
}

int32_t ResultLinkTest::int_at(uint16_t column) {
  SQLINTEGER v = 0;
  SQLLEN length = 0;
  SQLRETURN rc = get_data(stmt, column, SQL_C_LONG, &v, sizeof v, &length);
  return rc == SQL_SUCCESS ? v : INT32_MIN;
}

std::string ResultLinkTest::text_at(uint16_t column, SQLLEN room) {
  std::vector<char> buffer(static_cast<size_t>(room) + 1, '\0');
  SQLLEN length = 0;
  SQLRETURN rc = get_data(stmt, column, SQL_C_CHAR, buffer.data(), room, &length);
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return "<rc " + std::to_string(rc) + ">";
  if (length == SQL_NULL_DATA) return "<null>";
  return buffer.data();
}

}  // namespace q4::wire
