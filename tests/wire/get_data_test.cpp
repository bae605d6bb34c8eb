// SQLGetData against a scripted server: values from the stored block and
// values fetched on demand, piecewise reads, long values whose reply grows
// its buffer, and the failures of the get-data request.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

#include "core/handles.h"
#include "protocol/wire.h"
#include "result_fixture.h"
#include "results/fetch.h"
#include "results/get_data.h"

namespace q4::wire {
namespace {

// Where the current row's values are: in the stored block, or on the server
// (a row sent without data), in which case every read is one request.
enum class Source { kBlock, kServer };

class GetDataFrom : public ResultLinkTest, public ::testing::WithParamInterface<Source> {
 protected:
  // Makes a one-column row holding `value` current.
  void make_current(const Bytes& value) {
    if (GetParam() == Source::kBlock) {
      ASSERT_EQ(execute(execute_payload(1, 1, block_of({value}, 'W'))), SQL_SUCCESS);
      ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
    } else {
      ASSERT_EQ(execute(execute_payload(1, 1)), SQL_SUCCESS);
      peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("K");
      ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
    }
    value_ = value;
  }
  // Every read from the server asks for the whole value again.
  void expect_read(int16_t c_type) {
    if (GetParam() == Source::kServer) {
      peer.expect_request(kCmdGetData, get_data_request(stmt, 1, c_type)).reply("K", value_);
    }
  }

  Bytes value_;
};

struct Piece {
  SQLRETURN rc;
  std::string text;
  SQLLEN length;
};

TEST_P(GetDataFrom, TenCharactersThroughAFourByteBuffer) {
  make_current(text_value("abcdefghij"));
  const std::vector<Piece> pieces = {{SQL_SUCCESS_WITH_INFO, "abc", 10},
                                     {SQL_SUCCESS_WITH_INFO, "def", 7},
                                     {SQL_SUCCESS_WITH_INFO, "ghi", 4},
                                     {SQL_SUCCESS, "j", 1},
                                     {SQL_SUCCESS, "", 0}};
  for (const Piece& p : pieces) {
    expect_read(SQL_C_CHAR);
    char buffer[4] = {'?', '?', '?', '?'};
    SQLLEN length = -7;
    ASSERT_EQ(get_data(stmt, 1, SQL_C_CHAR, buffer, sizeof buffer, &length), p.rc) << p.text;
    EXPECT_EQ(std::string(buffer), p.text);
    EXPECT_EQ(length, p.length);
    if (p.rc == SQL_SUCCESS_WITH_INFO) {
      EXPECT_EQ(sqlstate(), "01004");
    }
  }
}

TEST_P(GetDataFrom, BinaryInPiecesReportsTheRemainder) {
  make_current(text_value(std::string("\x01\x02\x03\x04\x05", 5), SQL_VARBINARY));
  const std::vector<std::pair<SQLRETURN, SQLLEN>> pieces = {
      {SQL_SUCCESS_WITH_INFO, 5}, {SQL_SUCCESS_WITH_INFO, 3}, {SQL_SUCCESS, 1}, {SQL_SUCCESS, 0}};
  std::string got;
  for (const auto& [rc, remaining] : pieces) {
    expect_read(SQL_C_DEFAULT);
    char buffer[2];
    SQLLEN length = -7;
    ASSERT_EQ(get_data(stmt, 1, SQL_C_DEFAULT, buffer, sizeof buffer, &length), rc);
    EXPECT_EQ(length, remaining);
    got.append(buffer, static_cast<size_t>(std::min<SQLLEN>(remaining, 2)));
  }
  EXPECT_EQ(got, std::string("\x01\x02\x03\x04\x05", 5));
}

TEST_P(GetDataFrom, AnIntegerReadTwiceHasNoMoreData) {
  make_current(int_value(42));
  expect_read(SQL_C_LONG);
  EXPECT_EQ(int_at(1), 42);
  expect_read(SQL_C_LONG);
  SQLINTEGER v = 0;
  EXPECT_EQ(get_data(stmt, 1, SQL_C_LONG, &v, sizeof v, nullptr), SQL_NO_DATA_FOUND);
}

TEST_P(GetDataFrom, NullLeavesTheBufferAndReportsNullData) {
  make_current(null_value());
  expect_read(SQL_C_CHAR);
  char buffer[4] = {'a', 'b', 'c', '\0'};
  SQLLEN length = 0;
  EXPECT_EQ(get_data(stmt, 1, SQL_C_CHAR, buffer, sizeof buffer, &length), SQL_SUCCESS);
  EXPECT_EQ(length, SQL_NULL_DATA);
  EXPECT_STREQ(buffer, "abc");
}

INSTANTIATE_TEST_SUITE_P(Sources, GetDataFrom, ::testing::Values(Source::kBlock, Source::kServer),
                         [](const auto& info) {
                           return std::string(info.param == Source::kBlock ? "Block" : "Server");
                         });

// Values fetched on demand land in io_buffer while they leave a byte free
// for the conversion's terminator, and in a grown block beyond that; read in
// pieces of 7,000 bytes, every byte must come back in place.
class LongValue : public ResultLinkTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(LongValue, ArrivesWholeAndReadsBackInPieces) {
  const size_t size = GetParam();
  std::string text(size, '\0');
  Bytes pattern = pattern_bytes(size, 7);
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + pattern[i] % 26);
  ASSERT_EQ(execute(execute_payload(1, 1)), SQL_SUCCESS);
  peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("K");
  ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);

  std::string got;
  std::vector<char> buffer(7001);
  for (;;) {
    peer.expect_request(kCmdGetData, get_data_request(stmt, 1, SQL_C_CHAR))
        .reply("K", text_value(text));
    SQLLEN length = 0;
    SQLRETURN rc =
        get_data(stmt, 1, SQL_C_CHAR, buffer.data(), static_cast<SQLLEN>(buffer.size()), &length);
    ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << sqlstate() << message();
    EXPECT_EQ(static_cast<size_t>(length), size - got.size());
    got += buffer.data();
    if (rc == SQL_SUCCESS) break;
  }
  EXPECT_EQ(got, text);
}

// 20,473 bytes fill io_buffer's 20,479 but one; 20,474 need exactly one
// frame's 20,480 and grow; the others take several frames.
INSTANTIATE_TEST_SUITE_P(Sizes, LongValue,
                         ::testing::Values(size_t{20473}, size_t{20474}, size_t{20475},
                                           size_t{40954}, size_t{100000}));

TEST_F(ResultLinkTest, BookmarkColumnIsTheRowNumber) {
  ASSERT_EQ(execute(execute_payload(1, 3, numbered_block(1, 3, 'W'))), SQL_SUCCESS);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  SQLINTEGER v = 0;
  SQLLEN length = 0;
  ASSERT_EQ(get_data(stmt, 0, SQL_C_LONG, &v, sizeof v, &length), SQL_SUCCESS);
  EXPECT_EQ(v, 3);
  EXPECT_EQ(length, 4);
}

TEST_F(ResultLinkTest, BeforeTheFirstRowOfAStoredBlockIsAnInvalidCursorState) {
  ASSERT_EQ(execute(execute_payload(1, 3, numbered_block(1, 3, 'W'))), SQL_SUCCESS);
  SQLINTEGER v = 0;
  EXPECT_EQ(get_data(stmt, 1, SQL_C_LONG, &v, sizeof v, nullptr), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "24000");
  EXPECT_EQ(message(), kPrefix);
}

TEST_F(ResultLinkTest, ColumnPastTheLastIsInvalid) {
  ASSERT_EQ(execute(execute_payload(1, 3, numbered_block(1, 3, 'W'))), SQL_SUCCESS);
  ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  SQLINTEGER v = 0;
  EXPECT_EQ(get_data(stmt, 2, SQL_C_LONG, &v, sizeof v, nullptr), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "S1002");
  EXPECT_EQ(message(), kPrefix);
}

// After the end the block is used up, so the value is asked of the server,
// which has no current row.
TEST_F(ResultLinkTest, AfterTheEndTheServersRefusalIsReported) {
  ASSERT_EQ(execute(execute_payload(1, 1, numbered_block(1, 1, 'W'))), SQL_SUCCESS);
  ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  ASSERT_EQ(fetch_row(stmt), SQL_NO_DATA_FOUND);
  peer.expect_request(kCmdGetData, get_data_request(stmt, 1, SQL_C_LONG))
      .reply("E25no current row");
  SQLINTEGER v = 0;
  EXPECT_EQ(get_data(stmt, 1, SQL_C_LONG, &v, sizeof v, nullptr), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "S1000");
  EXPECT_EQ(message(), kPrefix + "25no current row");
}

struct DamagedReply {
  const char* name;
  Bytes payload;
};

class DamagedGetData : public ResultLinkTest, public ::testing::WithParamInterface<DamagedReply> {};

TEST_P(DamagedGetData, IsACommunicationFaultOnTheStatement) {
  ASSERT_EQ(execute(execute_payload(1, 1)), SQL_SUCCESS);
  peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("K");
  ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  peer.expect_request(kCmdGetData).reply("K", GetParam().payload);
  char buffer[16] = "untouched";
  SQLLEN length = 99;
  EXPECT_EQ(get_data(stmt, 1, SQL_C_CHAR, buffer, sizeof buffer, &length), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "08S01");
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(length, 99);
}

Bytes claiming(uint32_t length, const std::string& data) {
  Bytes b = text_value(data);
  b[2] = static_cast<uint8_t>(length >> 24);
  b[3] = static_cast<uint8_t>(length >> 16);
  b[4] = static_cast<uint8_t>(length >> 8);
  b[5] = static_cast<uint8_t>(length);
  return b;
}

INSTANTIATE_TEST_SUITE_P(Damage, DamagedGetData,
                         ::testing::Values(DamagedReply{"ShorterThanAHeader", Bytes{0x00, 0x0C}},
                                           DamagedReply{"LengthPastThePayload", claiming(9, "abc")},
                                           DamagedReply{"HugeLength", claiming(0xFFFFFFFFu, "a")}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ResultLinkTest, BrokenLinkDuringGetDataIsReportedOnTheConnection) {
  ASSERT_EQ(execute(execute_payload(1, 1)), SQL_SUCCESS);
  peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("K");
  ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  peer.expect_request(kCmdGetData).close();
  SQLINTEGER v = 0;
  EXPECT_EQ(get_data(stmt, 1, SQL_C_LONG, &v, sizeof v, nullptr), SQL_ERROR);
  EXPECT_STREQ(conn->sqlstate, "08S01");
}

}  // namespace
}  // namespace q4::wire
