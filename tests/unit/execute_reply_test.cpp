// Execute replies the wire tests cannot reach (short, damaged, out of memory); column attributes.
#include "protocol/codec.h"
#include "results/description_cache.h"
#include "results/execute_reply.h"
#include "results/result_set.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

// Builder of server payloads (big-endian fields).
// clang-format off
struct Bytes {
  std::vector<uint8_t> data;
  Bytes& u8(uint8_t v) { return data.push_back(v), *this; }
  Bytes& u16(uint16_t v) { return u8(v >> 8).u8(v & 0xFF); }
  Bytes& u32(uint32_t v) { return u16(v >> 16).u16(v & 0xFFFF); }
  Bytes& text(const std::string& s) { return data.insert(data.end(), s.begin(), s.end()), *this; }
  Bytes& cstring(const std::string& s) { return text(s).u8(0); }
  Bytes& bytes(const Bytes& b) { return data.insert(data.end(), b.data.begin(), b.data.end()), *this; }
  int32_t size() const { return static_cast<int32_t>(data.size()); }
  const uint8_t* ptr() const { return data.data(); }
};
// clang-format on

// "X", the section length and entries, each length counting itself.
inline Bytes description_section(const std::string& name, uint16_t type) {
  Bytes record = Bytes().cstring(name).u16(type).u32(10).u16(0).u16(0);
  Bytes entries = Bytes().u32(static_cast<uint32_t>(record.size() + 4)).bytes(record);
  return Bytes().u8('X').u32(static_cast<uint32_t>(entries.size() + 4)).bytes(entries);
}

inline Bytes row_value(uint16_t type, const std::string& data) {
  return Bytes().u16(type).u32(static_cast<uint32_t>(data.size())).text(data);
}

Bytes counts(uint32_t columns, uint32_t rows) {
  return Bytes().u32(columns).u32(rows);
}

SQLRETURN reply(StatementRecord& r, const Bytes& payload) {
  strcpy(r.stmt->reply_status, "K");
  return handle_execute_reply(r.stmt, payload.ptr(), payload.size());
}

// Under eight bytes: no columns, no rows (io_buffer's stale counts unread); 0xFFFFFFFF rows is
// -1. Rows never outlive the execution that sent them.
TEST(ExecuteReply, CountsAndRows) {
  StatementRecord r;
  r.stmt->column_count = 7;
  put_u32(put_u32(r.stmt->io_buffer, 5), 6);
  strcpy(r.stmt->reply_status, "K");
  EXPECT_EQ(handle_execute_reply(r.stmt, r.stmt->io_buffer, 7), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->column_count + r.stmt->row_count, 0);
  EXPECT_EQ(r.stmt->cursor_open, 1);
  Bytes rows = row_value(kSqlInteger, "1").u8('W');
  ASSERT_EQ(reply(r, counts(1, 1).bytes(rows)), SQL_SUCCESS);  // rows at offset 8
  RowBlock& stored = result_set(r.stmt).block;
  ASSERT_EQ(stored.length(), rows.size());
  EXPECT_EQ(memcmp(stored.bytes(), rows.ptr(), rows.size()), 0);
  ASSERT_EQ(reply(r, counts(1, 5)), SQL_SUCCESS);
  EXPECT_FALSE(stored.held());
  ASSERT_EQ(reply(r, counts(3, 0xFFFFFFFFu)), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->row_count, -1);
}

// A damaged section, or counts the reply cannot back, change nothing and size nothing.
TEST(ExecuteReply, DamagedReplyChangesNothing) {
  const Bytes cases[] = {
      counts(1, 0).u8('X').u32(200).u32(10),   // claims 200 bytes, carries 4
      counts(1, 0).u8('X').u32(4 + 4).u32(2),  // an entry shorter than its length
      counts(1, 0).u8('X').u32(4 + 4 + 5).u32(4 + 5).text("ABCDE"),  // name without NUL
      counts(32768, 0),                                              // more than 16 bits number
      counts(1, 0x7FFFFFFF),  // no room left to number the row after the last
      counts(2, 1).bytes(row_value(kSqlInteger, "1").u8('W')),  // a block too short for one row
  };
  for (const Bytes& p : cases) {
    StatementRecord r;
    r.stmt->column_count = 4;
    EXPECT_EQ(outcome(reply(r, p), r.stmt), "ERROR S1000 General error");
    EXPECT_EQ(r.stmt->column_count, 4);
    EXPECT_EQ(r.stmt->cursor_open + r.stmt->descriptions_cached + result_set(r.stmt).block.held(),
              0);
  }
}

// Column 0 answers only its type (its "S1002" has an empty text on purpose); then count, attribute.
TEST(ColAttributes, ChecksColumnAndAttribute) {
  StatementRecord r;
  SQLLEN value = 0;
  auto attribute = [&](SQLUSMALLINT icol, SQLUSMALLINT type) {
    return taken(SQLColAttributes(r.stmt, icol, type, nullptr, 0, nullptr, &value), r.stmt);
  };
  EXPECT_EQ(attribute(1, SQL_COLUMN_TYPE).substr(0, 11), "ERROR S1002") << "no result";
  r.stmt->column_count = 1;
  store_descriptions(r.stmt, description_section("T.A", kSqlVarbinary).ptr());
  EXPECT_EQ(attribute(0, SQL_COLUMN_TYPE), "OK");
  EXPECT_EQ(value, SQL_INTEGER);
  EXPECT_EQ(attribute(0, SQL_COLUMN_NAME), "ERROR S1002 ") << "the message text is empty";
  EXPECT_EQ(attribute(2, SQL_COLUMN_TYPE).substr(0, 11), "ERROR S1002");
  EXPECT_EQ(attribute(1, 19).substr(0, 11), "ERROR S1091");
  EXPECT_EQ(attribute(1, SQL_DESC_OCTET_LENGTH), "OK") << "the one ODBC 3 field answered";
  EXPECT_EQ(attribute(1, SQL_DESC_OCTET_LENGTH + 1).substr(0, 11), "ERROR S1091");
  EXPECT_EQ(r.stmt->call.state, 0u);
  EXPECT_EQ(diag(r.conn), "") << "a request reached the link";
}

}  // namespace
}  // namespace q4
