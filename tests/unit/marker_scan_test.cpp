#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

#include "statement/marker_scan.h"
#include "exec_fixture.h"

namespace q4 {
namespace {

constexpr int64_t kNoIndicator = INT64_MIN;

struct ScanCase {
  const char* label;
  std::string text;
  int64_t length;                   // -1: the whole text
  std::vector<uint16_t> numbers;    // bound parameter numbers, in list order
  std::vector<int64_t> indicators;  // per binding; kNoIndicator: none
  std::vector<int> complete;        // per binding; missing entries: 0
  int32_t result;
  uint32_t markers;
  bool pass_through;
  std::vector<uint32_t> positions;  // per binding; 0: not reached
};

void PrintTo(const ScanCase& c, std::ostream* os) {
  *os << c.label;
}

const ScanCase kCases[] = {
    {"plain marker", "SELECT * FROM t WHERE a = ?", -1, {1}, {}, {}, 0, 1, false, {27}},
    {"marker between apostrophes is text", "SELECT '?', ?", -1, {1}, {}, {}, 0, 1, false, {13}},
    {"marker between double quotes is text",
     "SELECT \"a?\", ?",
     -1,
     {1},
     {},
     {},
     0,
     1,
     false,
     {14}},
    {"apostrophe inside double quotes opens nothing",
     "SELECT \"it's\" FROM t WHERE a = ?",
     -1,
     {1},
     {},
     {},
     0,
     1,
     false,
     {32}},
    {"double quote inside apostrophes opens nothing",
     "SELECT 'say \"hi' , ?",
     -1,
     {1},
     {},
     {},
     0,
     1,
     false,
     {20}},
    {"doubled apostrophe keeps the string open",
     "SELECT 'O''Brien?' , ?",
     -1,
     {1},
     {},
     {},
     0,
     1,
     false,
     {22}},
    {"leading spaces count in positions", "   SELECT ?", -1, {1}, {}, {}, 0, 1, false, {11}},
    {"greater-than starts a pass-through text", "  >CALL P(?)", -1, {}, {}, {}, 0, 0, true, {}},
    {"bracket starts a pass-through text", "[LIST ?", -1, {1}, {}, {}, 0, 0, true, {0}},
    {"closing bracket starts a pass-through text", "]X ?", -1, {}, {}, {}, 0, 0, true, {}},
    {"brace start is not scanned", "{call p(?)}", -1, {}, {}, {}, 0, 0, false, {}},
    {"parenthesis start is not scanned", "(SELECT ?)", -1, {1}, {}, {}, 0, 0, false, {0}},
    {"digit start is not scanned", "1?", -1, {}, {}, {}, 0, 0, false, {}},
    {"empty text", "", -1, {}, {}, {}, 0, 0, false, {}},
    {"only spaces", "   ", -1, {}, {}, {}, 0, 0, false, {}},
    {"markers take bindings by order, not number",
     "SELECT ?, ?",
     -1,
     {1, 3},
     {},
     {},
     0,
     2,
     false,
     {8, 11}},
    {"surplus bindings are left alone", "SELECT ?", -1, {1, 2}, {}, {}, 0, 1, false, {8, 0}},
    {"more markers than bindings", "SELECT ?, ?", -1, {1}, {}, {}, kMarkersUnbound, 1, false, {8}},
    {"markers without any binding", "SELECT ?", -1, {}, {}, {}, kMarkersUnbound, 0, false, {}},
    {"length ends the scan", "SELECT ?, ?", 9, {1}, {}, {}, 0, 1, false, {8}},
    {"NUL ends the scan", std::string("SELECT ?\0?", 10), -1, {1}, {}, {}, 0, 1, false, {8}},
    {"data at execution stops at its marker",
     "SELECT ?, ?, ?",
     -1,
     {1, 2, 3},
     {kNoIndicator, SQL_DATA_AT_EXEC, kNoIndicator},
     {},
     2,
     2,
     false,
     {8, 11, 0}},
    {"length at execution stops until complete",
     "SELECT ?",
     -1,
     {1},
     {SQL_LEN_DATA_AT_EXEC(10)},
     {0},
     1,
     1,
     false,
     {8}},
    {"completed length at execution passes",
     "SELECT ?",
     -1,
     {1},
     {SQL_LEN_DATA_AT_EXEC(0)},
     {1},
     0,
     1,
     false,
     {8}},
    {"data at execution ignores completion",
     "SELECT ?",
     -1,
     {1},
     {SQL_DATA_AT_EXEC},
     {1},
     1,
     1,
     false,
     {8}},
    {"ordinary lengths pass",
     "SELECT ?, ?",
     -1,
     {1, 2},
     {-99, SQL_NULL_DATA},
     {},
     0,
     2,
     false,
     {8, 11}},
};

class MarkerScanTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(MarkerScanTest, FindsMarkersAndPairsBindings) {
  const ScanCase& c = GetParam();
  StatementRecord r;
  std::vector<int64_t> indicators = c.indicators;
  indicators.resize(c.numbers.size(), kNoIndicator);
  std::vector<ParamBinding*> bindings;
  for (size_t i = 0; i < c.numbers.size(); ++i) {
    ParamBinding* b =
        r.bind(c.numbers[i], indicators[i] == kNoIndicator ? nullptr : &indicators[i]);
    b->complete = i < c.complete.size() ? c.complete[i] : 0;
    bindings.push_back(b);
  }
  r.stmt->pass_through = 1;   // left from an earlier text
  r.stmt->marker_count = 99;  // likewise

  int64_t length = c.length < 0 ? static_cast<int64_t>(c.text.size()) : c.length;
  EXPECT_EQ(scan_markers(r.stmt, c.text.data(), length), c.result);
  EXPECT_EQ(r.stmt->marker_count, c.markers);
  EXPECT_EQ(r.stmt->pass_through != 0, c.pass_through);
  for (size_t i = 0; i < c.positions.size(); ++i) {
    EXPECT_EQ(bindings[i]->position, c.positions[i]) << "binding " << i;
  }
  if (c.result == kMarkersUnbound) {
    EXPECT_EQ(r.sqlstate(), "07001");
    EXPECT_EQ(r.message(), "Wrong number of parameters") << "written without the prefix";
  } else {
    EXPECT_EQ(r.sqlstate(), "");
  }
}

INSTANTIATE_TEST_SUITE_P(Texts, MarkerScanTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ScanCase>& info) {
                           std::string name;
                           for (const char* p = info.param.label; *p; ++p) {
                             name += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           }
                           return name;
                         });

TEST(CountQuestionMarks, CountsQuotedMarksAndIgnoresTheStart) {
  EXPECT_EQ(count_question_marks("SELECT '?', ?"), 2u);
  EXPECT_EQ(count_question_marks("{call p(?, ?, ?)}"), 3u);
  EXPECT_EQ(count_question_marks(""), 0u);
  EXPECT_EQ(count_question_marks(nullptr), 0u);
}

}  // namespace
}  // namespace q4
