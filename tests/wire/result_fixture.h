// Reply parts and request payloads as sent, data sources naming a scripted
// peer, and a statement on one.
#pragma once

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <map>
#include <string>
#include <vector>

#include "../unit/connect_test_support.h"
#include "../unit/private_odbc_ini.h"
#include "core/diagnostics.h"
#include "core/memory.h"
#include "core/records.h"
#include "protocol/wire.h"
#include "results/get_data.h"
#include "results/result_set.h"
#include "scripted_peer.h"
#include "statement/execute.h"
#include "statement/lifecycle.h"

namespace q4::wire {

inline const std::string kPrefix = kMessagePrefix;
using Keys = std::map<std::string, std::string>;

// A data source in the private ODBC.INI for a peer on `port`, with `keys` and,
// unless `bare`, a user, both passwords, a machine and numeric marks.
inline std::string peer_dsn(uint16_t port, Keys keys = {}, bool bare = false) {
  // clang-format off
  keys.insert({{"SERVER", "127.0.0.1"}, {"PORTNUMBER", std::to_string(port)}, {"ACCOUNT", "acc"},
               {"LoginTimeout", "5"}});
  if (!bare) keys.insert({{"USER", "joe"}, {"PASSWORD", scrambled("Pw-Secret-17", false)},
                          {"VIRTUALMACHINE", "vm"}, {"ACPASSWORD", scrambled("Ac-Secret-42", false)},
                          {"NUMERICFORMAT", "$/,/."}});
  // clang-format on
  return PrivateOdbcIni::get().add_dsn(keys);
}

struct Wire {
  static Bytes be16(uint16_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }
  static Bytes be32(uint32_t v) { return join({be16(uint16_t(v >> 16)), be16(uint16_t(v))}); }
  static Bytes cstr(const std::string& text) { return join({bytes_of(text), {0}}); }
  static Bytes join(const std::vector<Bytes>& parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
  }
  // type | u32 length | data
  static Bytes text_value(const std::string& data, int16_t type = SQL_VARCHAR) {
    return join({be16(uint16_t(type)), be32(uint32_t(data.size())), bytes_of(data)});
  }
  static Bytes int_value(int32_t v) { return join({be16(SQL_INTEGER), be32(4), be32(v)}); }
  // `count` lowercase letters in no order: a misplaced piece shows.
  static std::string letters(size_t count, uint32_t seed) {
    Bytes pattern = pattern_bytes(count, seed);
    std::string text(count, 'a');
    for (size_t i = 0; i < count; ++i) text[i] = static_cast<char>('a' + pattern[i] % 26);
    return text;
  }
  // Rows between "K", then the trailer.
  static Bytes block_of(const std::vector<Bytes>& rows, char trailer) {
    Bytes b;
    for (const Bytes& row : rows) b = join({b, b.empty() ? Bytes{} : Bytes{'K'}, row});
    return join({b, {uint8_t(trailer)}});
  }
  // One integer column holding the row number.
  static Bytes numbered_block(int32_t first, int32_t count, char trailer) {
    std::vector<Bytes> rows;
    for (int32_t i = 0; i < count; ++i) rows.push_back(int_value(first + i));
    return block_of(rows, trailer);
  }
  static Bytes execute_payload(uint32_t columns, uint32_t rows, const Bytes& rest = {}) {
    return join({be32(columns), be32(rows), rest});
  }
  static Bytes id(const Statement* stmt) { return be32(statement_id(stmt)); }
  // An execute request: the text, its NUL, the binary blocks, the cursor trailer's NUL.
  static Bytes text_request(const Statement* stmt, const std::string& text,
                            const std::string& blocks = "") {
    return join({id(stmt), bytes_of(text), {0}, bytes_of(blocks), {0}});
  }
  static Bytes next_block_request(const Statement* stmt) { return join({id(stmt), {'X'}}); }
  // Allocate and release.
  static Bytes statement_request(const Statement* stmt) { return join({id(stmt), be16(1)}); }
};

// A statement as after SQLAllocStmt at level 754; TearDown checks the script.
class StatementTest : public ::testing::Test, public Wire {
 protected:
  void SetUp() override {
    conn = connect_link(peer.port());
    ASSERT_NE(conn->link, nullptr);
    conn->server_version = 754;
    stmt = static_cast<Statement*>(drv_alloc(nullptr, nullptr, sizeof(Statement)));
    stmt->connection = conn.get();
    conn->statements = stmt;  // where a cancel of the idle statement finds it
    stmt->getdata_column = -1;
    stmt->retrieve_data = SQL_RD_ON;
    app_row_desc(stmt).array_size = 1;
  }
  void TearDown() override {
    EXPECT_EQ(peer.finish(), "");
    if (stmt == nullptr) return;
    free_statement(stmt, SQL_UNBIND);
    free_statement(stmt, SQL_RESET_PARAMS);
    close_result(stmt);
    drv_free(stmt->binary_blocks);
    drv_free(stmt->binary_lengths);
    drv_free(stmt->statement_text);
    drv_free(stmt->param_descriptions);
    discard_dropped_statement(stmt);
  }
  // The peer answers "K" with `reply_payload`.
  SQLRETURN execute(const Bytes& reply_payload) {
    peer.expect_request(kCmdExecute).reply("K", reply_payload);
    return execute_direct(stmt, "SELECT N FROM T", SQL_NTS);
  }
  SQLRETURN exec_direct(const std::string& text) {
    return SQLExecDirect(stmt, sql_text(text.c_str()), SQL_NTS);
  }
  // SQLGetData as SQL_C_LONG; INT32_MIN unless it succeeds.
  int32_t int_at(uint16_t column) {
    SQLINTEGER v = 0;
    SQLLEN length = 0;
    return deliver_value(stmt, column, SQL_C_LONG, &v, sizeof v, &length) == SQL_SUCCESS
               ? v
               : INT32_MIN;
  }
  std::string sqlstate() const { return stmt->sqlstate; }
  std::string diag() const { return std::string(stmt->sqlstate) + " " + stmt->message; }

  ScriptedPeer peer;
  ConnectionPtr conn;
  Statement* stmt = nullptr;
};

}  // namespace q4::wire
