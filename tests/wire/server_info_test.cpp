// SQLGetInfo's server answers against the scripted peer: the request bytes,
// what each kind of reply becomes, which servers are asked at all, and a
// failed exchange.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>

#include "core/diagnostics.h"
#include "loopback.h"
#include "metadata/driver_info.h"
#include "protocol/wire.h"
#include "scripted_peer.h"

namespace q4::wire {
namespace {

constexpr unsigned char kGuard = 0xA5;

Bytes u32_bytes(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

// The driver's side: a connection to the peer at a server level that may be
// asked, and one SQLGetInfo call at a time.
struct InfoClient {
  explicit InfoClient(const ScriptedPeer& peer, uint32_t version = 710, uint32_t flags = 2)
      : conn(connect_link(peer.port())) {
    conn->server_version = version;
    conn->server_flags = flags;
  }

  SQLRETURN ask(unsigned type) {
    memset(buffer, kGuard, sizeof buffer);
    length = -7;
    return get_info(conn.get(), static_cast<SQLUSMALLINT>(type), buffer, sizeof buffer, &length);
  }
  uint32_t answer() const {
    SQLUINTEGER v;
    memcpy(&v, buffer, sizeof v);
    return v;
  }
  bool buffer_untouched() const {
    for (unsigned char b : buffer)
      if (b != kGuard) return false;
    return true;
  }
  // Reads and empties the connection's slot.
  std::string take_state() {
    std::string state = conn->sqlstate;
    message = conn->message;
    clear_diagnostic(conn->sqlstate, conn->message);
    return state;
  }

  ConnectionPtr conn;
  unsigned char buffer[16];
  SQLSMALLINT length;
  std::string message;
};

// Function masks are asked as (type, 0), conversions as (48, type).
TEST(ServerInfo, RequestCarriesTheTwoCodesBigEndian) {
  struct Case {
    unsigned type;
    Bytes payload;
  };
  const Case cases[] = {
      {SQL_NUMERIC_FUNCTIONS, {0x00, 0x31, 0x00, 0x00}},
      {SQL_STRING_FUNCTIONS, {0x00, 0x32, 0x00, 0x00}},
      {SQL_TIMEDATE_FUNCTIONS, {0x00, 0x34, 0x00, 0x00}},
      {SQL_CONVERT_BIGINT, {0x00, 0x30, 0x00, 0x35}},
      {SQL_CONVERT_CHAR, {0x00, 0x30, 0x00, 0x38}},
      {SQL_CONVERT_LONGVARBINARY, {0x00, 0x30, 0x00, 0x47}},
  };
  ScriptedPeer peer;
  uint32_t mask = 0x10;
  for (const Case& c : cases)
    peer.expect_request(kCmdServerInfo, c.payload).reply("K", u32_bytes(mask++));
  InfoClient client(peer);
  mask = 0x10;
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.type));
    ASSERT_EQ(client.ask(c.type), SQL_SUCCESS);
    EXPECT_EQ(client.answer(), mask++);
    EXPECT_EQ(client.length, 4);
  }
  EXPECT_EQ(peer.finish(), "");
  for (const ReceivedRequest& r : peer.requests()) EXPECT_EQ(r.frame_lengths.size(), 1u);
}

// What each reply becomes: the value of "K" (all bits set included: only a
// failed exchange is an error), 0 for "E" without a diagnostic, no answer for
// -9999, and 0 with "Unable to retrieve requested info" for anything else.
TEST(ServerInfo, RepliesBecomeAnswers) {
  struct Case {
    const char* what;
    std::string status;
    Bytes payload;
    bool written;
    uint32_t answer;
    const char* state;
  };
  const Case cases[] = {
      {"K value", "K", u32_bytes(0x00FF00FF), true, 0x00FF00FF, ""},
      {"K all bits", "K", u32_bytes(0xFFFFFFFF), true, 0xFFFFFFFF, ""},
      {"K zero", "K", u32_bytes(0), true, 0, ""},
      {"K with slack", "K", {0x00, 0x00, 0x01, 0x02, 0xEE, 0xEE}, true, 0x0102, ""},
      {"K no answer", "K", u32_bytes(0xFFFFD8F1), false, 0, ""},
      {"E declines", "E", {}, true, 0, ""},
      {"E with number", "E1042", u32_bytes(7), true, 0, ""},
      {"W", "W", u32_bytes(5), true, 0, "S1000"},
      {"unknown letter", "X", u32_bytes(5), true, 0, "S1000"},
      {"K without value", "K", {0x00, 0x01}, true, 0, "S1000"},
      {"K without payload", "K", {}, true, 0, "S1000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedPeer peer;
    peer.expect_request(kCmdServerInfo).reply(c.status, c.payload);
    InfoClient client(peer);
    ASSERT_EQ(client.ask(SQL_STRING_FUNCTIONS), SQL_SUCCESS);
    if (c.written) {
      EXPECT_EQ(client.length, 4);
      EXPECT_EQ(client.answer(), c.answer);
    } else {
      EXPECT_EQ(client.length, 0);
      EXPECT_TRUE(client.buffer_untouched());
    }
    EXPECT_EQ(client.take_state(), c.state);
    if (*c.state != '\0') {
      EXPECT_EQ(client.message, std::string(kMessagePrefix) + "Unable to retrieve requested info");
    }
    EXPECT_EQ(client.conn->link_lost, 0) << "a complete reply keeps the link";
    EXPECT_EQ(peer.finish(), "");
  }
}

// Only servers at level 710 or later that announced the capability are asked.
TEST(ServerInfo, OnlyCapableServersFromLevel710AreAsked) {
  struct Case {
    uint32_t version;
    uint32_t flags;
    bool asked;
  };
  const Case cases[] = {{700, 2, false}, {709, 3, false}, {710, 1, false},  {754, 0, false},
                        {710, 2, true},  {720, 3, true},  {754, 0xFF, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE("version " + std::to_string(c.version) + " flags " + std::to_string(c.flags));
    ScriptedPeer peer;
    if (c.asked) {
      peer.expect_request(kCmdServerInfo).reply("K", u32_bytes(0x55));
    } else {
      peer.stay_silent();
    }
    InfoClient client(peer, c.version, c.flags);
    ASSERT_EQ(client.ask(SQL_TIMEDATE_FUNCTIONS), SQL_SUCCESS);
    EXPECT_EQ(client.answer(), c.asked ? 0x55u : 0u);
    EXPECT_EQ(peer.finish(), "");
    EXPECT_EQ(peer.requests().size(), c.asked ? 1u : 0u);
  }
}

// A failed exchange is SQL_ERROR with "08S01" on the connection (not an
// answer with every bit set), the link is dropped, and later server
// questions fail at once without a request.
TEST(ServerInfo, FailedExchangeIsErrorWithCommunicationLinkFailure) {
  struct Case {
    const char* what;
    void (*script)(ScriptedPeer&);
  };
  const Case cases[] = {
      {"closed before the reply",
       [](ScriptedPeer& p) { p.expect_request(kCmdServerInfo).close(); }},
      {"reset before the reply", [](ScriptedPeer& p) { p.expect_request(kCmdServerInfo).reset(); }},
      {"reply larger than its 10-byte area",
       [](ScriptedPeer& p) { p.expect_request(kCmdServerInfo).reply("K", Bytes(11, 0)); }},
      {"status longer than its 16-byte area",
       [](ScriptedPeer& p) {
         p.expect_request(kCmdServerInfo).reply("K1234567890123456", u32_bytes(1));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedPeer peer;
    c.script(peer);
    InfoClient client(peer);
    EXPECT_EQ(client.ask(SQL_CONVERT_INTEGER), SQL_ERROR);
    EXPECT_EQ(client.length, -7) << "no length for a failed answer";
    EXPECT_TRUE(client.buffer_untouched());
    EXPECT_EQ(client.take_state(), "08S01");
    EXPECT_EQ(client.message, std::string(kMessagePrefix) + "Communications_ERROR");
    EXPECT_NE(client.conn->link_lost, 0);
    EXPECT_EQ(peer.finish(), "");

    EXPECT_EQ(client.ask(SQL_NUMERIC_FUNCTIONS), SQL_ERROR);
    EXPECT_EQ(client.take_state(), "08S01");
    // Answers that need no server still work on the broken connection.
    EXPECT_EQ(client.ask(SQL_DBMS_NAME), SQL_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char*>(client.buffer), "Q4");
  }
}

}  // namespace
}  // namespace q4::wire
