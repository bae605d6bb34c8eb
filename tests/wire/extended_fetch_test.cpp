// Rowsets of SQLExtendedFetch against a model server of 25 one-column rows
// (value = row number) sent 7 a block, rowset size 10, column-wise binding:
// where each fetch type starts its rowset, with and without the server's
// absolute fetch form, and the statuses and counts of short rowsets.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

#include "protocol/wire.h"
#include "result_fixture.h"
#include "results/extended_fetch.h"
#include "results/get_data.h"
#include "statement/execute.h"

namespace q4::wire {
namespace {

constexpr int32_t kRows = 25;
constexpr uint32_t kRowset = 10;

struct Call {
  SQLUSMALLINT type;
  int32_t irow;
  SQLRETURN result;
  int32_t first;  // first row of the rowset (its bound value)
  SQLULEN count;  // rows in the rowset
};

struct StartCase {
  const char* name;
  std::vector<Call> calls;
  int requests;  // requests the server answers, the execution included
  int requests_emulated;
};

class ExtendedFetch : public ResultLinkTest,
                      public ::testing::WithParamInterface<std::tuple<StartCase, bool>> {
 protected:
  RowServer small{kRows, 7};
};

TEST_P(ExtendedFetch, StartsEachRowsetWhereItsFetchTypeSays) {
  const StartCase& c = std::get<0>(GetParam());
  bool absolute_form = std::get<1>(GetParam());
  conn->server_flags = absolute_form ? kFlagAbsoluteFetch : 0;
  small.serve(peer, absolute_form ? c.requests : c.requests_emulated);
  ASSERT_EQ(execute_direct(stmt, "SELECT N FROM T", SQL_NTS), SQL_SUCCESS);
  stmt->rowset_size = kRowset;
  SQLINTEGER values[kRowset];
  SQLLEN indicators[kRowset];
  ASSERT_EQ(bind_column(stmt, 1, SQL_C_LONG, values, sizeof(SQLINTEGER), indicators), SQL_SUCCESS);

  for (size_t k = 0; k < c.calls.size(); ++k) {
    const Call& call = c.calls[k];
    SCOPED_TRACE("call " + std::to_string(k));
    for (auto& v : values) v = -1;
    SQLUSMALLINT statuses[kRowset];
    for (auto& s : statuses) s = 99;
    SQLULEN count = 12345;
    ASSERT_EQ(extended_fetch(stmt, call.type, call.irow, &count, statuses), call.result);
    if (call.result != SQL_SUCCESS) {
      EXPECT_EQ(count, 12345u) << "no count for an empty rowset";
      continue;
    }
    EXPECT_EQ(count, call.count);
    EXPECT_EQ(stmt->row_number, static_cast<uint32_t>(call.first));
    for (uint32_t i = 0; i < kRowset; ++i) {
      if (i < call.count) {
        EXPECT_EQ(statuses[i], SQL_ROW_SUCCESS) << i;
        EXPECT_EQ(values[i], call.first + static_cast<int32_t>(i)) << i;
      } else {
        EXPECT_EQ(statuses[i], SQL_ROW_NOROW) << i;
        EXPECT_EQ(values[i], -1) << "nothing written past the rowset's rows";
      }
    }
  }
  int served = absolute_form ? c.requests : c.requests_emulated;
  EXPECT_EQ(peer.finish(), "");
  EXPECT_EQ(static_cast<int>(small.log().size()), served);
}

constexpr SQLRETURN kOk = SQL_SUCCESS;
constexpr SQLRETURN kNone = SQL_NO_DATA_FOUND;

// clang-format off
const std::vector<StartCase> start_cases = {
  {"NextThreeTimesThenNoData", {{SQL_FETCH_NEXT, 0, kOk, 1, 10}, {SQL_FETCH_NEXT, 0, kOk, 11, 10},
      {SQL_FETCH_NEXT, 0, kOk, 21, 5}, {SQL_FETCH_NEXT, 0, kNone, 0, 0}}, 5, 5},
  {"LastThenPriorTwiceThenNoData", {{SQL_FETCH_LAST, 0, kOk, 16, 10}, {SQL_FETCH_PRIOR, 0, kOk, 6, 10},
      {SQL_FETCH_PRIOR, 0, kOk, 1, 10}, {SQL_FETCH_PRIOR, 0, kNone, 0, 0}}, 11, 14},
  {"AbsoluteFromTheEnd", {{SQL_FETCH_ABSOLUTE, -3, kOk, 23, 3}}, 5, 8},
  {"AbsoluteZeroAndPastTheEnd", {{SQL_FETCH_ABSOLUTE, 0, kNone, 0, 0},
      {SQL_FETCH_ABSOLUTE, 30, kNone, 0, 0}}, 4, 4},
  {"PriorAfterTheEndGivesTheLastRowset", {{SQL_FETCH_NEXT, 0, kOk, 1, 10}, {SQL_FETCH_NEXT, 0, kOk, 11, 10},
      {SQL_FETCH_NEXT, 0, kOk, 21, 5}, {SQL_FETCH_NEXT, 0, kNone, 0, 0},
      {SQL_FETCH_PRIOR, 0, kOk, 16, 10}}, 7, 9},
  {"RelativeBackOverTheStartClampsToRowOne", {{SQL_FETCH_ABSOLUTE, 3, kOk, 3, 10},
      {SQL_FETCH_RELATIVE, -5, kOk, 1, 10}}, 4, 4},
  {"FirstAfterMoving", {{SQL_FETCH_ABSOLUTE, 12, kOk, 12, 10}, {SQL_FETCH_FIRST, 0, kOk, 1, 10},
      {SQL_FETCH_RELATIVE, 20, kOk, 21, 5}, {SQL_FETCH_BOOKMARK, 7, kOk, 7, 10}}, 9, 10},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Types, ExtendedFetch,
                         ::testing::Combine(::testing::ValuesIn(start_cases), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_Absolute" : "_Emulated");
                         });

TEST_F(ResultLinkTest, ExtendedFetchDisabledRefusesAllButNext) {
  rows.serve(peer, 1);
  ASSERT_EQ(execute_direct(stmt, "SELECT N FROM T", SQL_NTS), SQL_SUCCESS);
  stmt->ext_fetch_disabled = 1;
  stmt->rowset_size = 3;
  SQLUSMALLINT statuses[3] = {};
  SQLULEN count = 0;
  EXPECT_EQ(extended_fetch(stmt, SQL_FETCH_FIRST, 0, &count, statuses), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "S1000");
  EXPECT_NE(message().find("Extended fetch disabled for this DSN"), std::string::npos);
  EXPECT_EQ(extended_fetch(stmt, SQL_FETCH_NEXT, 0, &count, statuses), SQL_SUCCESS);
  EXPECT_EQ(count, 3u);
}

TEST_F(ResultLinkTest, EmptyResultHasNoRowsetForAnyFetchType) {
  peer.expect_request(kCmdExecute).reply("K", execute_payload(1, 0));
  ASSERT_EQ(execute_direct(stmt, "SELECT N FROM T", SQL_NTS), SQL_SUCCESS);
  stmt->rowset_size = 10;
  for (SQLUSMALLINT type = SQL_FETCH_NEXT; type <= SQL_FETCH_BOOKMARK; ++type) {
    EXPECT_EQ(extended_fetch(stmt, type, 1, nullptr, nullptr), SQL_NO_DATA_FOUND) << type;
  }
}

TEST_F(ResultLinkTest, UnsupportedFetchTypesAreNotCapable) {
  rows.serve(peer, 1);
  ASSERT_EQ(execute_direct(stmt, "SELECT N FROM T", SQL_NTS), SQL_SUCCESS);
  for (SQLUSMALLINT type : {0, 7, 9}) {
    EXPECT_EQ(extended_fetch(stmt, type, 1, nullptr, nullptr), SQL_ERROR) << type;
    EXPECT_EQ(sqlstate(), "S1C00");
  }
  EXPECT_EQ(set_position(stmt), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "S1C00");
}

}  // namespace
}  // namespace q4::wire
