// The statement text scanner: where markers are (and are not) for texts of
// every shape, the pass-through start, the agreement of the token walk,
// SQLNumParams and the execution's markers, and which column each marker meets.

#include "statement/marker_columns.h"
#include "statement/marker_scan.h"
#include "statement/sql_scanner.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

// clang-format off
// Offsets (0-based) of the markers; length -1: the whole text. (Leading blanks and comments, a
// trailing comment, a union, escapes, pass-through after a comment: e2e/pyodbc_text_test.py.)
struct TextCase { std::string text; std::vector<uint64_t> markers; bool pass_through = false; int64_t length = -1; };
const TextCase kTexts[] = {
    {"/* a /* b */ ? */", {13}},                            // comments do not nest
    {"SELECT ? /* unterminated ?", {7}},
    {"SELECT 'it''s ?', ?", {18}},                           // a doubled quote stays inside
    {"SELECT \"a?\"\"b\", ?", {16}},                        // quoted names likewise
    {"SELECT 'unterminated ?", {}},
    {"SELECT a-?, a/?, a--?\n, ?", {9, 14, 24}},            // "-" and "/" alone are operators
    {"SELECT [a?], `b?`, a?b", {9, 15, 20}},                // brackets and backquotes are not quotes
    {"", {}},
    {"  >CALL P(?)", {}, true},
    {"SELECT ?, ?", {7}, false, 9},                           // the length ends the text
    {std::string("SELECT ?\0?", 10), {7}},                  // so does a NUL
};
// clang-format on

std::vector<uint64_t> markers_by_walk(const TextCase& c, uint64_t length) {
  std::vector<uint64_t> found;
  SqlScanner scan(c.text.data(), length);
  for (int64_t at; (at = scan.next_marker()) >= 0;) found.push_back(static_cast<uint64_t>(at));
  return found;
}

std::vector<uint64_t> markers_by_token(const TextCase& c, uint64_t length) {
  std::vector<uint64_t> found;
  SqlScanner scan(c.text.data(), length);
  for (Token t = scan.next_token(); t.kind != TokenKind::kEnd; t = scan.next_token()) {
    if (t.kind == TokenKind::kMarker) found.push_back(t.offset);
  }
  return found;
}

// The marker walk, the token walk, SQLNumParams' count and the markers the
// execution replaces are the same for every text.
TEST(SqlScanner, FindsTheMarkersOfEveryShapeOfText) {
  for (const TextCase& c : kTexts) {
    SCOPED_TRACE("text: " + c.text);
    uint64_t length = c.length < 0 ? c.text.size() : static_cast<uint64_t>(c.length);
    EXPECT_EQ(SqlScanner(c.text.data(), length).pass_through(), c.pass_through);
    std::vector<uint64_t> expected = c.pass_through ? std::vector<uint64_t>{} : c.markers;
    if (!c.pass_through) {
      EXPECT_EQ(markers_by_walk(c, length), expected);
      EXPECT_EQ(markers_by_token(c, length), expected);
    }
    EXPECT_EQ(count_markers(c.text.data(), length), expected.size());

    StatementRecord r;
    std::vector<int64_t> indicators(expected.size() + 1, 0);
    for (size_t i = 0; i < expected.size(); ++i)
      r.bind(static_cast<uint16_t>(i + 1), &indicators[i]);
    MarkerPositions positions;
    ASSERT_EQ(scan_markers(r.stmt, c.text.data(), static_cast<int64_t>(length), &positions), 0);
    EXPECT_EQ(r.stmt->pass_through != 0, c.pass_through);
    ASSERT_EQ(positions.count(), expected.size());
    for (uint32_t i = 0; i < positions.count(); ++i) EXPECT_EQ(positions[i], expected[i]);
  }
  EXPECT_EQ(count_markers(nullptr, 5), 0u);
}

// clang-format off
// Per marker: a column's name, "#k" for the k-th column of the table, "-" for none.
struct TargetCase { std::string text; std::string table; std::vector<std::string> targets; };
const TargetCase kTargets[] = {
    {"INSERT INTO t (a, b) VALUES (?, ?)", "t", {"a", "b"}},
    {"insert into T values (?, ?, 3, ?)", "T", {"#0", "#1", "#3"}},
    {"INSERT INTO t (a, b) SELECT ?, ?", "", {"-", "-"}},
    {"\n  -- load\n  UPDATE t SET a = ?, b = ? + 1, c = (?) WHERE d = ? AND e > ?", "t",
     {"a", "-", "-", "d", "e"}},
    {"DELETE FROM t WHERE a <> ? OR ? >= b", "t", {"a", "b"}},
    {"SELECT * FROM t x WHERE x.a = ? AND t.b = ? AND y.c = ?", "t", {"a", "b", "-"}},
    {"SELECT a FROM t WHERE a BETWEEN ? AND ? AND b NOT IN (?, ?, 3)", "t", {"a", "a", "b", "b"}},
    {"SELECT a FROM t WHERE a IN (SELECT b FROM u WHERE c = ?)", "", {"-"}},
    {"SELECT \"Col\" FROM \"My T\" WHERE \"Col\" = ? AND 'a = ?' = a", "\"My T\"", {"\"Col\""}},
    {"{call p(?)}", "", {"-"}},
};
// clang-format on

TEST(MarkerColumns, NamesTheColumnEachMarkerMeets) {
  for (const TargetCase& c : kTargets) {
    SCOPED_TRACE("text: " + c.text);
    MarkerTargets targets;
    EXPECT_EQ(targets.read(c.text.data(), c.text.size()), !c.table.empty());
    ASSERT_EQ(targets.marker_count(), c.targets.size());
    ASSERT_EQ(count_markers(c.text.data(), c.text.size()), c.targets.size());
    if (!c.table.empty()) {
      EXPECT_EQ(c.text.substr(targets.table().offset, targets.table().length), c.table);
    }
    for (uint32_t k = 0; k < targets.marker_count(); ++k) {
      const MarkerTarget& t = targets[k];
      std::string got = t.kind == MarkerTarget::Kind::kNone ? "-"
                        : t.kind == MarkerTarget::Kind::kColumnNumber
                            ? "#" + std::to_string(t.number)
                            : c.text.substr(t.column.offset, t.column.length);
      EXPECT_EQ(got, c.targets[k]) << "marker " << k + 1;
    }
  }
  MarkerTargets pass_through;
  EXPECT_FALSE(pass_through.read("> SELECT a FROM t WHERE a = ?", 29));
  EXPECT_EQ(pass_through.marker_count(), 0u);
}

}  // namespace
}  // namespace q4
