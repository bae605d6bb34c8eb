#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/heap.h"
#include "statement/request.h"
#include "exec_fixture.h"

namespace q4 {
namespace {

std::vector<uint8_t> payload(const Statement* stmt) {
  return std::vector<uint8_t>(stmt->request_buffer, stmt->request_buffer + stmt->request_length);
}

std::vector<uint8_t> expected(const Statement* stmt, const std::string& rest) {
  Bytes b;
  b.u32(statement_id(stmt)).text(rest);
  return b.data;
}

SQLRETURN build(StatementRecord& r, const std::string& text) {
  return build_request(r.stmt, text.data(), static_cast<int64_t>(text.size()));
}

struct TrailerCase {
  const char* cursor_name;
  std::string tail;  // what follows the text
};

void PrintTo(const TrailerCase& c, std::ostream* os) {
  *os << "cursor name '" << c.cursor_name << "'";
}

class RequestTrailerTest : public ::testing::TestWithParam<TrailerCase> {};

// id, text, NUL, then one NUL without a cursor name, or the name and three
// NULs with one: n + 6 and n + s + 8 bytes.
TEST_P(RequestTrailerTest, PayloadIsIdTextNulAndTrailer) {
  StatementRecord r;
  strcpy(r.stmt->cursor_name, GetParam().cursor_name);
  const std::string text = "SELECT A FROM T";
  ASSERT_EQ(build(r, text), SQL_SUCCESS);
  EXPECT_EQ(payload(r.stmt), expected(r.stmt, text + std::string(1, '\0') + GetParam().tail));
}

INSTANTIATE_TEST_SUITE_P(CursorNames, RequestTrailerTest,
                         ::testing::Values(TrailerCase{"", std::string(1, '\0')},
                                           TrailerCase{"C1", std::string("C1\0\0\0", 5)},
                                           TrailerCase{
                                               "ABCDEFGHIJKLMNOPQR",
                                               std::string("ABCDEFGHIJKLMNOPQR\0\0\0", 21)}));

TEST(BuildRequest, StatementIdIsLowHalfOfTheHandleBigEndian) {
  StatementRecord r;
  ASSERT_EQ(build(r, "X"), SQL_SUCCESS);
  uint32_t id = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(r.stmt));
  EXPECT_EQ(load_u32(r.stmt->request_buffer), id);
  EXPECT_EQ(r.stmt->request_length, 1u + 6u);
}

TEST(BuildRequest, PassThroughTextGoesOutUnchangedWhateverIsBound) {
  StatementRecord r;
  r.bind(1);
  const std::string text = " >LIST T WITH A = ?";
  ASSERT_EQ(build(r, text), SQL_SUCCESS);
  EXPECT_EQ(payload(r.stmt), expected(r.stmt, text + std::string(2, '\0')));
}

TEST(BuildRequest, NonLetterStartKeepsMarkersWhateverIsBound) {
  StatementRecord r;
  r.bind(1);
  const std::string text = "{call p(?)}";
  ASSERT_EQ(build(r, text), SQL_SUCCESS);
  EXPECT_EQ(payload(r.stmt), expected(r.stmt, text + std::string(2, '\0')));
}

// The payload stays complete so that SQLPrepare can send the text with its
// open markers.
TEST(BuildRequest, UnboundMarkersFailButCompleteThePayload) {
  StatementRecord r;
  const std::string text = "SELECT ? FROM T";
  EXPECT_EQ(build(r, text), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "07001");
  EXPECT_EQ(payload(r.stmt), expected(r.stmt, text + std::string(2, '\0')));
}

// Until literals can be written, a bound marker must never reach the server
// as "?" or as anything else.
TEST(BuildRequest, BoundMarkersAreRefusedNotSentRaw) {
  StatementRecord r;
  int64_t length = 3;
  r.bind(1, &length);
  EXPECT_EQ(build(r, "SELECT ?"), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "S1C00");
  EXPECT_EQ(r.message(), kPrefix + "Driver Not Capable");
}

TEST(BuildRequest, BindingsWithoutMarkersAreNotConverted) {
  StatementRecord r;
  r.bind(1);
  ASSERT_EQ(build(r, "SELECT 1"), SQL_SUCCESS);
  EXPECT_EQ(r.sqlstate(), "");
}

TEST(BuildRequest, DataAtExecutionStopsWithPendingParameter) {
  StatementRecord r;
  int64_t ready = 4;
  int64_t later = SQL_DATA_AT_EXEC;
  r.bind(1, &ready);
  r.bind(2, &later);
  r.stmt->request_length = 77;
  EXPECT_EQ(build(r, "UPDATE T SET A = ?, B = ?"), SQL_NEED_DATA);
  EXPECT_EQ(r.stmt->pending_parameter, 502u);
  EXPECT_EQ(r.stmt->request_length, 77u) << "an unfinished payload must not look complete";
}

TEST(BuildRequest, PendingParameterIsClearedByTheNextBuild) {
  StatementRecord r;
  r.stmt->pending_parameter = 501;
  ASSERT_EQ(build(r, "SELECT 1"), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->pending_parameter, 0u);
}

TEST(BuildRequest, NullTextIsAnInvalidArgument) {
  StatementRecord r;
  EXPECT_EQ(build_request(r.stmt, nullptr, 0), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "S1009");
  EXPECT_EQ(r.message(), kPrefix + "Invalid argument value");
}

TEST(BuildRequest, NegativeLengthIsRefused) {
  StatementRecord r;
  EXPECT_EQ(build_request(r.stmt, "SELECT 1", -7), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "S1090");
}

// The block holds the text plus 2583 bytes; it is replaced only when a text
// no longer leaves that room.
TEST(BuildRequest, BufferIsSizedForTextPlusSlackAndReused) {
  StatementRecord r;
  ASSERT_EQ(build(r, std::string(100, 'A')), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->request_capacity, 100u + 2583u);
  uint8_t* first = r.stmt->request_buffer;
  ASSERT_EQ(build(r, std::string(40, 'B')), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->request_buffer, first);
  EXPECT_EQ(r.stmt->request_capacity, 100u + 2583u);
  ASSERT_EQ(build(r, std::string(101, 'C')), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->request_capacity, 101u + 2583u);
  EXPECT_EQ(payload(r.stmt), expected(r.stmt, std::string(101, 'C') + std::string(2, '\0')));
}

TEST(BuildRequest, OutOfMemoryLeavesNoBuffer) {
  StatementRecord r;
  heap_fail_after(0);
  EXPECT_EQ(build(r, "SELECT 1"), SQL_ERROR);
  heap_fail_after(-1);
  EXPECT_EQ(r.sqlstate(), "S1001");
  EXPECT_EQ(r.stmt->request_capacity, 0u);
  EXPECT_EQ(r.stmt->request_buffer, nullptr);
}

// Literals longer than their markers grow the block instead of writing
// past it; what was written so far survives the move.
TEST(ReserveRequest, GrowsKeepingTheWrittenBytes) {
  StatementRecord r;
  ASSERT_EQ(build(r, "SELECT 1"), SQL_SUCCESS);
  uint64_t written = r.stmt->request_length;
  std::vector<uint8_t> before = payload(r.stmt);
  uint64_t needed = r.stmt->request_capacity + 5000;
  ASSERT_TRUE(reserve_request(r.stmt, written, needed));
  EXPECT_GE(r.stmt->request_capacity, needed);
  EXPECT_EQ(payload(r.stmt), before);
  memset(r.stmt->request_buffer, 'z', needed);  // the whole room is usable
}

TEST(ReserveRequest, FailedGrowthKeepsTheOldBlock) {
  StatementRecord r;
  ASSERT_EQ(build(r, "SELECT 1"), SQL_SUCCESS);
  uint8_t* old = r.stmt->request_buffer;
  uint64_t capacity = r.stmt->request_capacity;
  heap_fail_after(0);
  EXPECT_FALSE(reserve_request(r.stmt, r.stmt->request_length, capacity + 1));
  heap_fail_after(-1);
  EXPECT_EQ(r.stmt->request_buffer, old);
  EXPECT_EQ(r.stmt->request_capacity, capacity);
  EXPECT_EQ(r.sqlstate(), "S1001");
}

}  // namespace
}  // namespace q4
