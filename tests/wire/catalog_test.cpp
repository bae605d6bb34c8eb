// The catalog functions against the scripted peer: the request bytes of each
// function, the refusals that send nothing, what each kind of reply leaves on
// the statement and the connection, and the functions that do nothing.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <sys/socket.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/diagnostics.h"
#include "core/memory.h"
#include "loopback.h"
#include "protocol/codec.h"
#include "protocol/wire.h"
#include "results/description_cache.h"
#include "scripted_peer.h"
#include "statement/cursor.h"

namespace q4::wire {
namespace {

const std::string kPrefix = kMessagePrefix;

Bytes u16_bytes(uint16_t v) {
  return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}
Bytes u32_bytes(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}
// Joins byte strings; a std::string part contributes its bytes and its NUL.
struct Cat {
  Bytes bytes;
  Cat& b(const Bytes& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return *this;
  }
  Cat& s(const std::string& text) {
    b(bytes_of(text));
    bytes.push_back(0);
    return *this;
  }
  Cat& u8(uint8_t v) {
    bytes.push_back(v);
    return *this;
  }
};

SQLCHAR* text(const char* s) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s));
}

// The driver's side: a statement on a connection to the peer.
struct CatalogClient {
  explicit CatalogClient(const ScriptedPeer& peer, uint32_t version = 754)
      : conn(connect_link(peer.port())) {
    conn->server_version = version;
    stmt = static_cast<Statement*>(drv_alloc(nullptr, nullptr, sizeof(Statement)));
    stmt->connection = conn.get();
    stmt->getdata_column = -1;
  }
  ~CatalogClient() {
    close_result(stmt);
    drv_free(stmt);
  }
  CatalogClient(const CatalogClient&) = delete;
  CatalogClient& operator=(const CatalogClient&) = delete;

  // What a request payload for this statement starts with.
  Bytes id() const { return u32_bytes(statement_id(stmt)); }
  std::string state() const { return stmt->sqlstate; }
  std::string message() const { return stmt->message; }

  ConnectionPtr conn;
  Statement* stmt;
};

// A reply payload with `columns` and `rows` and nothing else.
Bytes counts(uint32_t columns, uint32_t rows) {
  return Cat().b(u32_bytes(columns)).b(u32_bytes(rows)).bytes;
}

// For calls that must send nothing: the first byte from the driver fails the
// step (the peer then closes the link, so a driver waiting for an answer is
// not left hanging); the end of the driver's stream passes it. The test ends
// the stream with end_stream() once the call has returned.
void expect_no_request(ScriptedPeer& peer) {
  peer.step("no request", [](PeerLink& link) -> std::string {
    Bytes byte;
    std::string why;
    return link.read_exact(1, &byte, &why) ? "the driver sent a request" : "";
  });
}
void end_stream(const CatalogClient& client) {
  shutdown(client.conn->socket, SHUT_WR);
}

using Call = std::function<SQLRETURN(SQLHSTMT)>;

TEST(CatalogRequest, EachFunctionSendsItsArgumentsInOrder) {
  struct Case {
    const char* what;
    uint32_t version;
    Call call;
    uint8_t command;
    Bytes body;  // after the statement id, end mark included
  };
  const Case cases[] = {
      {"tables, all null: four patterns", 754,
       [](SQLHSTMT h) { return SQLTables(h, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0); },
       kCmdTables, Cat().s("%").s("%").s("%").s("%").u8(1).bytes},
      {"tables: empty owner stays empty, length cuts the type", 754,
       [](SQLHSTMT h) {
         return SQLTables(h, nullptr, SQL_NTS, text(""), SQL_NTS, text("ORD%"), SQL_NTS,
                          text("TABLEX"), 5);
       },
       kCmdTables, Cat().s("%").s("").s("ORD%").s("TABLE").u8(1).bytes},
      {"columns: a length of 3 sends three characters", 754,
       [](SQLHSTMT h) {
         return SQLColumns(h, nullptr, 0, nullptr, 0, text("ORDERS"), 3, text("AMOUNT"), SQL_NTS);
       },
       kCmdColumns, Cat().s("%").s("%").s("ORD").s("AMOUNT").u8(1).bytes},
      {"columns: a NUL before the length ends the name", 754,
       [](SQLHSTMT h) {
         return SQLColumns(h, text("Q"), 1, text("O"), 0, text("AB\0CD"), 5, nullptr, -1);
       },
       kCmdColumns, Cat().s("Q").s("").s("AB").s("%").u8(1).bytes},
      {"statistics from 710: names, low bytes of the options, 0x00", 710,
       [](SQLHSTMT h) {
         return SQLStatistics(h, nullptr, 0, nullptr, 0, text("ORDERS"), SQL_NTS, SQL_INDEX_ALL,
                              0x0101);
       },
       kCmdStatistics, Cat().s("%").s("%").s("ORDERS").u8(1).u8(1).u8(0).u8(1).bytes},
      {"statistics before 710: one 0x00 whatever the names", 700,
       [](SQLHSTMT h) {
         return SQLStatistics(h, text("Q"), -1, nullptr, 0, text("ORDERS"), SQL_NTS,
                              SQL_INDEX_UNIQUE, SQL_QUICK);
       },
       kCmdStatistics, Cat().u8(0).u8(1).bytes},
      {"primary keys from 710", 710,
       [](SQLHSTMT h) {
         return SQLPrimaryKeys(h, nullptr, 0, text("main"), SQL_NTS, text("ORDERS"), SQL_NTS);
       },
       kCmdPrimaryKeys, Cat().s("%").s("main").s("ORDERS").u8(1).bytes},
      {"special columns: names, then scope, nullable, column type, 0x00", 700,
       [](SQLHSTMT h) {
         return SQLSpecialColumns(h, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, text("ORDERS"),
                                  SQL_NTS, SQL_SCOPE_SESSION, SQL_NULLABLE);
       },
       kCmdSpecialColumns,
       Cat()
           .s("%")
           .s("%")
           .s("ORDERS")
           .b(u16_bytes(2))
           .b(u16_bytes(1))
           .b(u16_bytes(1))
           .u8(0)
           .u8(1)
           .bytes},
      {"type info, all types", 754, [](SQLHSTMT h) { return SQLGetTypeInfo(h, SQL_ALL_TYPES); },
       kCmdTypeInfo, Cat().u8(0).u8(0).u8(0).u8(1).bytes},
      {"type info, a negative type in two's complement", 700,
       [](SQLHSTMT h) { return SQLGetTypeInfo(h, SQL_VARBINARY); }, kCmdTypeInfo,
       Cat().u8(0xFF).u8(0xFD).u8(0).u8(1).bytes},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedPeer peer;
    CatalogClient client(peer, c.version);
    Bytes want = Cat().b(client.id()).b(c.body).bytes;
    peer.expect_request(
            c.command,
            [want](const ReceivedRequest& r) { return first_difference(r.payload, want); })
        .reply("K", counts(0, 0));
    EXPECT_EQ(c.call(client.stmt), SQL_SUCCESS) << client.message();
    EXPECT_EQ(peer.finish(), "");
  }
}

// Refusals happen before anything is sent and leave the earlier result alone.
TEST(CatalogRequest, RefusedArgumentsSendNothing) {
  static const std::string too_long(20480, 'T');
  struct Case {
    const char* what;
    uint32_t version;
    Call call;
    const char* state;
    std::string text;
  };
  const Case cases[] = {
      {"tables: owner length -1", 754,
       [](SQLHSTMT h) { return SQLTables(h, nullptr, 0, text("O"), -1, nullptr, 0, nullptr, 0); },
       "S1090", "Invalid string or buffer length"},
      {"columns: column length -2", 754,
       [](SQLHSTMT h) {
         return SQLColumns(h, nullptr, 0, nullptr, 0, text("T"), SQL_NTS, text("C"), -2);
       },
       "S1090", "Invalid string or buffer length"},
      {"special columns: table length -1", 754,
       [](SQLHSTMT h) {
         return SQLSpecialColumns(h, SQL_ROWVER, nullptr, 0, nullptr, 0, text("T"), -1, 0, 0);
       },
       "S1090", "Invalid string or buffer length"},
      {"statistics from 710: qualifier length -1", 710,
       [](SQLHSTMT h) {
         return SQLStatistics(h, text("Q"), -1, nullptr, 0, text("T"), SQL_NTS, 0, 0);
       },
       "S1090", "Invalid string or buffer length"},
      {"primary keys on a 700 server", 700,
       [](SQLHSTMT h) { return SQLPrimaryKeys(h, nullptr, 0, nullptr, 0, text("T"), SQL_NTS); },
       "S1000", "Q4 7.0 Server does not support this function"},
      {"primary keys on a 709 server, even with a bad length", 709,
       [](SQLHSTMT h) { return SQLPrimaryKeys(h, nullptr, 0, nullptr, 0, text("T"), -1); }, "S1000",
       "Q4 7.0 Server does not support this function"},
      {"a name longer than the request buffer", 754,
       [](SQLHSTMT h) {
         return SQLTables(h, nullptr, 0, nullptr, 0, text(too_long.c_str()), SQL_NTS, nullptr, 0);
       },
       "S1090", "Invalid string or buffer length"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedPeer peer;
    expect_no_request(peer);
    CatalogClient client(peer, c.version);
    client.stmt->column_count = 3;
    client.stmt->row_count = 7;
    client.stmt->cursor_open = 1;
    EXPECT_EQ(c.call(client.stmt), SQL_ERROR);
    EXPECT_EQ(client.state(), c.state);
    EXPECT_EQ(client.message(), kPrefix + c.text);
    EXPECT_EQ(client.stmt->column_count, 3);
    EXPECT_EQ(client.stmt->row_count, 7);
    EXPECT_EQ(client.stmt->cursor_open, 1);
    end_stream(client);
    EXPECT_EQ(peer.finish(), "");
  }
}

// The request (statement id, arguments, end mark) may fill io_buffer's 20480
// bytes exactly; one byte more is refused. The fixed fields after the names
// count too.
TEST(CatalogRequest, LongestArgumentsThatFitAreSent) {
  struct Case {
    const char* what;
    uint8_t command;
    size_t longest;  // table name length that makes the request 20480 bytes
    std::function<SQLRETURN(SQLHSTMT, SQLCHAR*)> call;
  };
  const Case cases[] = {
      {"tables (4 + 2 + 2 + n + 1 + 2 + 1)", kCmdTables, 20468,
       [](SQLHSTMT h, SQLCHAR* name) {
         return SQLTables(h, nullptr, 0, nullptr, 0, name, SQL_NTS, nullptr, 0);
       }},
      {"special columns (4 + 2 + 2 + n + 1 + 7 + 1)", kCmdSpecialColumns, 20463,
       [](SQLHSTMT h, SQLCHAR* name) {
         return SQLSpecialColumns(h, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, name, SQL_NTS, 0, 0);
       }},
      {"statistics (4 + 2 + 2 + n + 1 + 3 + 1)", kCmdStatistics, 20467,
       [](SQLHSTMT h, SQLCHAR* name) {
         return SQLStatistics(h, nullptr, 0, nullptr, 0, name, SQL_NTS, 0, 0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string name(c.longest + 1, 'N');
    {
      ScriptedPeer peer;
      expect_no_request(peer);
      CatalogClient client(peer);
      EXPECT_EQ(c.call(client.stmt, text(name.c_str())), SQL_ERROR);
      EXPECT_EQ(client.state(), "S1090");
      end_stream(client);
      EXPECT_EQ(peer.finish(), "");
    }
    name.pop_back();
    ScriptedPeer peer;
    peer.expect_request(c.command,
                        [](const ReceivedRequest& r) -> std::string {
                          if (r.payload.size() != 20480) {
                            return "payload of " + std::to_string(r.payload.size()) + " bytes";
                          }
                          return r.payload.back() == 1 ? "" : "no end mark";
                        })
        .reply("K", counts(0, 0));
    CatalogClient client(peer);
    EXPECT_EQ(c.call(client.stmt, text(name.c_str())), SQL_SUCCESS) << client.message();
    EXPECT_EQ(peer.finish(), "");
  }
}

// One column description record and a description section of them.
Bytes description_record(const std::string& name, uint16_t type, uint32_t precision) {
  return Cat()
      .s(name)
      .b(u16_bytes(type))
      .b(u32_bytes(precision))
      .b(u16_bytes(0))
      .b(u16_bytes(1))
      .bytes;
}
Bytes description_section(const std::vector<Bytes>& records) {
  Cat entries;
  for (const Bytes& r : records) entries.b(u32_bytes(static_cast<uint32_t>(r.size() + 4))).b(r);
  return Cat()
      .u8('X')
      .b(u32_bytes(static_cast<uint32_t>(entries.bytes.size() + 4)))
      .b(entries.bytes)
      .bytes;
}
// One row value.
Bytes row_value(uint16_t type, const std::string& data) {
  return Cat()
      .b(u16_bytes(type))
      .b(u32_bytes(static_cast<uint32_t>(data.size())))
      .b(bytes_of(data))
      .bytes;
}

TEST(CatalogReply, SuccessStoresCountsDescriptionsAndFirstBlock) {
  Bytes rows = Cat()
                   .b(row_value(kSqlVarchar, "CUSTOMERS"))
                   .b(row_value(kSqlVarchar, "TABLE"))
                   .u8('K')
                   .b(row_value(kSqlVarchar, "ORDERS"))
                   .b(row_value(kNullValueType, ""))
                   .u8('W')
                   .bytes;
  Bytes section = description_section({description_record("TABLE_NAME", kSqlVarchar, 128),
                                       description_record("TABLE_TYPE", kSqlVarchar, 32)});
  ScriptedPeer peer;
  peer.expect_request(kCmdTables).reply("K", Cat().b(counts(2, 2)).b(section).b(rows).bytes);
  CatalogClient client(peer);
  // Earlier cursor state is not the catalog reply's to reset.
  client.stmt->cursor_row = 4;

  ASSERT_EQ(SQLTables(client.stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  EXPECT_EQ(client.stmt->column_count, 2);
  EXPECT_EQ(client.stmt->row_count, 2);
  EXPECT_EQ(client.stmt->cursor_open, 1);
  EXPECT_EQ(client.stmt->cursor_row, 4);
  EXPECT_EQ(client.stmt->in_call, 0);
  ASSERT_EQ(client.stmt->descriptions_cached, 1);
  ColumnDescription d;
  ASSERT_TRUE(find_cached_description(client.stmt, 2, &d));
  EXPECT_EQ(std::string(d.name, d.name_length), "TABLE_TYPE");
  EXPECT_EQ(d.precision, 32u);
  ASSERT_EQ(client.stmt->cache_valid, 1);
  ASSERT_EQ(client.stmt->row_block_length, static_cast<int32_t>(rows.size()));
  EXPECT_EQ(memcmp(client.stmt->row_buffer, rows.data(), rows.size()), 0);
  EXPECT_EQ(client.stmt->value_table[2], nullptr) << "the first fetch must read the first row";
  EXPECT_EQ(client.state(), "");
  EXPECT_EQ(peer.finish(), "");
}

// Any letter but "K" is a refusal: the server's text with "08S01" on the
// statement, no columns, and the link stays up.
TEST(CatalogReply, OtherStatusLettersPostTheServersText) {
  struct Case {
    std::string status;
    std::string text;
  };
  const Case cases[] = {{"Eno such table ORDERS", "no such table ORDERS"},
                        {"E", ""},
                        {"Wsomething to say", "something to say"},
                        {"k", ""},
                        {"Q1042", "1042"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    ScriptedPeer peer;
    peer.expect_request(kCmdColumns).reply(c.status, counts(4, 4));
    CatalogClient client(peer);
    client.stmt->column_count = 5;
    EXPECT_EQ(SQLColumns(client.stmt, nullptr, 0, nullptr, 0, text("ORDERS"), SQL_NTS, nullptr, 0),
              SQL_ERROR);
    EXPECT_EQ(client.state(), "08S01");
    EXPECT_EQ(client.message(), kPrefix + c.text);
    EXPECT_EQ(client.stmt->column_count, 0);
    EXPECT_EQ(client.stmt->cache_valid, 0);
    EXPECT_STREQ(client.conn->sqlstate, "");
    EXPECT_EQ(client.conn->link_lost, 0);
    EXPECT_EQ(peer.finish(), "");
  }
}

// A broken link is the connection's failure: "08S01" there, the socket
// closed, and nothing on the statement. The reply may carry 20479 payload
// bytes; one more breaks the exchange.
TEST(CatalogReply, BrokenLinkIsReportedOnTheConnection) {
  struct Case {
    const char* what;
    void (*script)(ScriptedPeer&);
  };
  const Case cases[] = {
      {"closed before the reply", [](ScriptedPeer& p) { p.expect_request(kCmdTables).close(); }},
      {"reset before the reply", [](ScriptedPeer& p) { p.expect_request(kCmdTables).reset(); }},
      {"reply of 20480 bytes",
       [](ScriptedPeer& p) { p.expect_request(kCmdTables).reply("K", Bytes(20480, 0)); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedPeer peer;
    c.script(peer);
    CatalogClient client(peer);
    EXPECT_EQ(SQLTables(client.stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_ERROR);
    EXPECT_EQ(client.state(), "");
    EXPECT_STREQ(client.conn->sqlstate, "08S01");
    EXPECT_EQ(client.conn->message, kPrefix + "Communications_ERROR");
    EXPECT_NE(client.conn->link_lost, 0);
    EXPECT_EQ(peer.finish(), "");
  }
}

TEST(CatalogReply, ReplyOf20479BytesIsTakenWhole) {
  Bytes rows = Cat().b(row_value(kSqlChar, std::string(20479 - 8 - 6 - 1, 'r'))).u8('W').bytes;
  ScriptedPeer peer;
  peer.expect_request(kCmdTables).reply("K", Cat().b(counts(1, 1)).b(rows).bytes);
  CatalogClient client(peer);
  ASSERT_EQ(SQLTables(client.stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  EXPECT_EQ(client.stmt->row_block_length, 20479 - 8);
  EXPECT_EQ(peer.finish(), "");
}

TEST(CatalogEntry, PendingCancelIsReportedAsCancelAndSendsNothing) {
  ScriptedPeer peer;
  expect_no_request(peer);
  CatalogClient client(peer);
  client.stmt->cancel_requested = 1;
  EXPECT_EQ(SQLGetTypeInfo(client.stmt, SQL_ALL_TYPES), SQL_ERROR);
  EXPECT_EQ(client.state(), "S1008");
  EXPECT_EQ(client.message(), kPrefix + "Operation cancelled");
  EXPECT_EQ(client.stmt->in_call, 0);
  end_stream(client);
  EXPECT_EQ(peer.finish(), "");
}

// The five level 2 functions the server cannot answer succeed at once and
// change nothing: no request, no cancel check, no diagnostic, no result.
TEST(CatalogEntry, FunctionsWithoutServerSupportLeaveTheStatementAsItWas) {
  ScriptedPeer peer;
  expect_no_request(peer);
  CatalogClient client(peer);
  Statement* s = client.stmt;
  s->column_count = 3;
  s->cursor_open = 1;
  s->cancel_requested = 1;
  strcpy(s->sqlstate, "01004");
  std::vector<uint8_t> before(reinterpret_cast<uint8_t*>(s),
                              reinterpret_cast<uint8_t*>(s) + sizeof(Statement));
  SQLCHAR* t = text("T");
  EXPECT_EQ(SQLColumnPrivileges(s, t, 1, t, 1, t, 1, t, -1), SQL_SUCCESS);
  EXPECT_EQ(SQLForeignKeys(s, t, 1, t, 1, t, 1, t, 1, t, 1, t, -7), SQL_SUCCESS);
  EXPECT_EQ(SQLProcedureColumns(s, nullptr, 0, nullptr, 0, t, SQL_NTS, t, -1), SQL_SUCCESS);
  EXPECT_EQ(SQLProcedures(s, nullptr, 0, nullptr, 0, t, -1), SQL_SUCCESS);
  EXPECT_EQ(SQLTablePrivileges(s, nullptr, 0, nullptr, 0, t, -1), SQL_SUCCESS);
  EXPECT_EQ(memcmp(before.data(), s, sizeof(Statement)), 0);
  end_stream(client);
  EXPECT_EQ(peer.finish(), "");
}

}  // namespace
}  // namespace q4::wire
