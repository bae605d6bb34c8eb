// Building the execute request: marker scanning, payload bytes, the block's room, memory failures.
#include "platform/heap.h"
#include "protocol/codec.h"
#include "statement/marker_scan.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

constexpr int64_t kNone = INT64_MIN, kDae = SQL_DATA_AT_EXEC;  // kNone: no indicator

// clang-format off
// length -1: the whole text; positions per binding, 0: not reached.
struct ScanCase { std::string text; int64_t length; std::vector<uint16_t> numbers; std::vector<int64_t> indicators;
                  int32_t result; uint32_t markers; bool pass_through; std::vector<uint32_t> positions; };
const ScanCase kScanCases[] = {
    {"SELECT '?', ?", -1, {1}, {kNone}, 0, 1, false, {13}},        // quoted markers are text
    {"SELECT 'O''Brien?' , ?", -1, {1}, {kNone}, 0, 1, false, {22}},  // '' keeps it open
    {"  >CALL P(?)", -1, {}, {}, 0, 0, true, {}},  // pass-through starts
    {"(SELECT ?)", -1, {1}, {kNone}, 0, 0, false, {0}},  // other non-letters: no scan
    {"SELECT ?, ?", -1, {1, 3}, {kNone, kNone}, 0, 2, false, {8, 11}},  // by order, not number
    {"SELECT ?, ?", -1, {1}, {kNone}, kMarkersUnbound, 1, false, {8}},
    {"SELECT ?, ?", 9, {1}, {kNone}, 0, 1, false, {8}},  // the length ends the scan
    {std::string("SELECT ?\0?", 10), -1, {1}, {kNone}, 0, 1, false, {8}},  // so does a NUL
    {"SELECT ?, ?, ?", -1, {1, 2, 3}, {kNone, kDae, kNone}, 2, 2, false, {8, 11, 0}},
};
// clang-format on

TEST(MarkerScan, FindsMarkersAndPairsBindings) {
  for (ScanCase c : kScanCases) {
    SCOPED_TRACE(c.text);
    StatementRecord r;
    for (size_t i = 0; i < c.numbers.size(); ++i) {
      r.bind(c.numbers[i], c.indicators[i] == kNone ? nullptr : &c.indicators[i]);
    }
    r.stmt->pass_through = 1;   // left from an earlier text
    r.stmt->marker_count = 99;  // likewise
    int64_t length = c.length < 0 ? static_cast<int64_t>(c.text.size()) : c.length;
    MarkerPositions positions;
    positions.add(r.stmt, 1234);  // left from an earlier text
    EXPECT_EQ(scan_markers(r.stmt, c.text.data(), length, &positions), c.result);
    EXPECT_EQ(r.stmt->marker_count, c.markers);
    EXPECT_EQ(positions.count(), c.markers);
    EXPECT_EQ(r.stmt->pass_through != 0, c.pass_through);
    for (uint32_t i = 0; i < c.positions.size(); ++i)  // 1-based in the table
      EXPECT_EQ(i < positions.count() ? positions[i] + 1 : 0, c.positions[i]);
    // The message is written without the prefix.
    EXPECT_EQ(std::string(r.stmt->sqlstate) + r.stmt->message,
              c.result == kMarkersUnbound ? "07001Wrong number of parameters" : "");
  }
  EXPECT_EQ(count_question_marks("SELECT '?', ?") + count_question_marks("{call p(?, ?, ?)}"), 5u);
}

std::string payload_after_id(const Statement* stmt) {
  EXPECT_EQ(load_u32(stmt->request_buffer), statement_id(stmt));
  return std::string(reinterpret_cast<const char*>(stmt->request_buffer) + 4,
                     stmt->request_length - 4);
}

SQLRETURN build(StatementRecord& r, const std::string& text) {
  return build_request(r.stmt, text.data(), static_cast<int64_t>(text.size()));
}

// id, text, NUL, then a NUL or the cursor name and three NULs; a failed build still completes it.
TEST(BuildRequest, PayloadBytes) {
  int32_t value = -42;
  int64_t zero = 0;
  // clang-format off
  struct Case { const char* cursor; bool bound; std::string text; const char* outcome; std::string payload; } cases[] = {
      {"C1", false, "SELECT A FROM T", "OK", std::string("SELECT A FROM T\0C1\0\0\0", 21)},
      {"", false, "SELECT ? FROM T", "ERROR 07001 Wrong number of parameters", std::string("SELECT ? FROM T\0\0", 17)},
      {"", true, "SELECT 1", "OK", std::string("SELECT 1\0\0", 10)},  // no marker: not converted
  };
  // clang-format on
  for (const Case& c : cases) {
    StatementRecord r;
    strcpy(r.stmt->cursor_name, c.cursor);
    if (c.bound) r.bind(1, &zero, SQL_C_LONG, SQL_INTEGER, &value);
    EXPECT_EQ(outcome(build(r, c.text), r.stmt), c.outcome) << c.text;
    EXPECT_EQ(payload_after_id(r.stmt), c.payload);
  }
}

// The block holds the text plus 2583 bytes, replaced only when a text no longer leaves that room.
TEST(BuildRequest, RequestBlockRoom) {
  StatementRecord r;
  heap_fail_after(0);
  EXPECT_EQ(outcome(build(r, "SELECT 1"), r.stmt), "ERROR S1001 Memory allocation failure");
  EXPECT_EQ(r.stmt->request_buffer, nullptr);
  ASSERT_EQ(build(r, std::string(100, 'A')), SQL_SUCCESS);
  uint8_t* first = r.stmt->request_buffer;
  ASSERT_EQ(build(r, std::string(40, 'B')), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->request_buffer, first);
  ASSERT_EQ(build(r, std::string(101, 'C')), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->request_capacity, 101u + 2583u);
}

// Literals beyond the slack grow the block mid-text; what was written before them stays, and a
// failed growth leaves no binary block pending. Texts with more markers than the scan keeps
// inline move the positions to a block of their own.
TEST(BuildRequest, GrowsPastTheSlack) {
  StatementRecord r;
  int64_t two = 2, nts = SQL_NTS, four = 4;
  std::string value(6000, 'a');  // 6,002 bytes as a literal
  int32_t number = 7;
  r.bind(1, &two, SQL_C_BINARY, SQL_VARBINARY, "\x01\x02");
  r.bind(2, &nts, SQL_C_CHAR, SQL_VARCHAR, value.c_str());
  ASSERT_EQ(outcome(build(r, "SELECT ?, ?"), r.stmt), "OK");
  EXPECT_EQ(payload_after_id(r.stmt), "SELECT 0x0, '" + value + "'" +
                                          std::string("\0"
                                                      "2\0\x01\x02\0\0",
                                                      7));
  EXPECT_GT(r.stmt->request_capacity, 11u + 2583u);
  StatementRecord small;  // the block fits the text: the literal must grow it
  small.bind(1, &two, SQL_C_BINARY, SQL_VARBINARY, "\x01\x02");
  small.bind(2, &nts, SQL_C_CHAR, SQL_VARCHAR, value.c_str());
  ASSERT_EQ(build(small, "SELECT 1234"), SQL_SUCCESS);  // as long as the text below
  heap_fail_after(3);  // the two tables, the block, then the request's growth
  EXPECT_EQ(outcome(build(small, "SELECT ?, ?"), small.stmt),
            "ERROR S1001 Memory allocation failure");
  EXPECT_EQ(small.stmt->binary_count, 0);

  StatementRecord many;
  std::string text = "SELECT ?";
  for (int i = 1; i < 100; ++i) text += ",?";
  for (uint16_t i = 1; i <= 100; ++i) many.bind(i, &four, SQL_C_LONG, SQL_INTEGER, &number);
  ASSERT_EQ(build(many, std::string(text.size(), 'x')), SQL_SUCCESS);
  heap_fail_after(0);  // the positions' block
  EXPECT_EQ(outcome(build(many, text), many.stmt), "ERROR S1001 Memory allocation failure");
  clear_diagnostic(many.stmt->sqlstate, many.stmt->message);
  ASSERT_EQ(outcome(build(many, text), many.stmt), "OK");
  std::string expected = "SELECT 7";
  for (int i = 1; i < 100; ++i) expected += ",7";
  EXPECT_EQ(payload_after_id(many.stmt), expected + std::string("\0\0", 2));
}

// Out of memory at any binary block fails the build with "S1001", leaving nothing pending.
TEST(Substitution, OutOfMemoryForABlock) {
  StatementRecord r;
  int64_t one = 1;
  r.bind(1, &one, SQL_C_BINARY, SQL_VARBINARY, "z");
  r.bind(2, &one, SQL_C_BINARY, SQL_VARBINARY, "y");
  ASSERT_EQ(build(r, "SELECT 1"), SQL_SUCCESS);  // the request block exists now
  for (long countdown : {0, 1}) {
    heap_fail_after(countdown);
    EXPECT_EQ(outcome(build(r, "SELECT ?, ?"), r.stmt), "ERROR S1001 Memory allocation failure");
    EXPECT_EQ(r.stmt->binary_count, 0);
  }
}

}  // namespace
}  // namespace q4
