// Data-at-execution sequences that stop before anything is sent: the
// announcements of SQLParamData and what SQLPutData collects or refuses. The
// connection has no link; the sequences that end in a request are in the wire
// tests.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>

#include "param_fixture.h"
#include "platform/heap.h"

namespace q4 {
namespace {

SQLCHAR* sql(const char* text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

class DataAtExec : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(r.stmt->in_call, 0) << "every return must clear in_call";
    EXPECT_STREQ(r.conn->sqlstate, "") << "a request reached the link";
  }

  SQLRETURN bind(SQLUSMALLINT ipar, SQLSMALLINT c_type, SQLSMALLINT sql_type, void* token,
                 SQLLEN* indicator) {
    return SQLBindParameter(r.stmt, ipar, SQL_PARAM_INPUT, c_type, sql_type, 0, 0, token, 0,
                            indicator);
  }
  SQLRETURN exec(const char* text) { return SQLExecDirect(r.stmt, sql(text), SQL_NTS); }
  SQLRETURN put(const void* data, SQLLEN length) {
    return SQLPutData(r.stmt, const_cast<void*>(data), length);
  }
  SQLPOINTER param_data(SQLRETURN expected) {
    SQLPOINTER token = nullptr;
    EXPECT_EQ(SQLParamData(r.stmt, &token), expected) << r.message();
    return token;
  }
  std::string collected(uint16_t number) {
    for (ParamBinding* b = r.stmt->parameters; b != nullptr; b = b->next) {
      if (b->number == number && b->piece_length > 0) {
        return std::string(reinterpret_cast<char*>(b->buffer), b->piece_length);
      }
    }
    return "";
  }

  ParamRecord r;
  SQLLEN at_exec = SQL_DATA_AT_EXEC;
  SQLLEN at_exec2 = SQL_DATA_AT_EXEC;
  void* token1 = reinterpret_cast<void*>(0x1111);
  void* token2 = reinterpret_cast<void*>(0x2222);
};

// Calling SQLParamData again without data announces the same parameter.
TEST_F(DataAtExec, RepeatedParamDataAnnouncesTheSameParameter) {
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_LONGVARCHAR, token1, &at_exec), SQL_SUCCESS);
  EXPECT_EQ(exec("INSERT INTO T VALUES (?)"), SQL_NEED_DATA);
  EXPECT_EQ(r.stmt->pending_parameter, 501u);
  EXPECT_EQ(param_data(SQL_NEED_DATA), token1);
  EXPECT_EQ(param_data(SQL_NEED_DATA), token1);
  EXPECT_EQ(r.stmt->pending_parameter, 501u);
}

// A one-piece value takes exactly one SQLPutData.
TEST_F(DataAtExec, SecondPutForAOnePieceValueIsRefused) {
  int32_t value = 7;
  ASSERT_EQ(bind(1, SQL_C_LONG, SQL_INTEGER, token1, &at_exec), SQL_SUCCESS);
  ASSERT_EQ(exec("SELECT ?"), SQL_NEED_DATA);
  param_data(SQL_NEED_DATA);
  EXPECT_EQ(put(&value, 4), SQL_SUCCESS);
  EXPECT_EQ(put(&value, 4), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "22003");
  EXPECT_EQ(r.message(), kPrefix + "Numeric value out of range");
  // Used in place, not copied.
  EXPECT_EQ(r.stmt->parameters->piece_data, &value);
  EXPECT_EQ(r.stmt->parameters->buffer, nullptr);
}

// Character data bound to a non-character SQL type is a one-piece value.
TEST_F(DataAtExec, CharacterValueOfANumberTypeIsOnePiece) {
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_INTEGER, token1, &at_exec), SQL_SUCCESS);
  ASSERT_EQ(exec("SELECT ?"), SQL_NEED_DATA);
  param_data(SQL_NEED_DATA);
  EXPECT_EQ(put("12", SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(put("34", SQL_NTS), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "22003");
}

TEST_F(DataAtExec, PutWithNothingWaitingIsRefused) {
  EXPECT_EQ(put("x", 1), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "22003");
  EXPECT_EQ(r.message(), kPrefix + "Numeric value out of range");
}

// Markers are counted by order, parameters looked up by number: with 1 and 3
// bound the second marker wants "parameter 2", which does not exist.
TEST_F(DataAtExec, GapInNumbersLeavesTheSecondMarkerWithoutBinding) {
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_VARCHAR, token1, &at_exec), SQL_SUCCESS);
  ASSERT_EQ(bind(3, SQL_C_CHAR, SQL_VARCHAR, token2, &at_exec2), SQL_SUCCESS);
  ASSERT_EQ(exec("SELECT ?, ?"), SQL_NEED_DATA);
  param_data(SQL_NEED_DATA);
  ASSERT_EQ(put("a", 1), SQL_SUCCESS);
  param_data(SQL_NEED_DATA);
  EXPECT_EQ(r.stmt->pending_parameter, 502u);
  EXPECT_EQ(put("b", 1), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "22003");
}

// Zero bytes in all leave SQL_DATA_AT_EXEC in the indicator: asked again.
TEST_F(DataAtExec, ParameterWithoutBytesIsAskedAgain) {
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_VARCHAR, token1, &at_exec), SQL_SUCCESS);
  ASSERT_EQ(exec("SELECT ?"), SQL_NEED_DATA);
  param_data(SQL_NEED_DATA);
  ASSERT_EQ(put("", 0), SQL_SUCCESS);
  EXPECT_EQ(param_data(SQL_NEED_DATA), token1);
  EXPECT_EQ(at_exec, SQL_DATA_AT_EXEC);
}

TEST_F(DataAtExec, OnePieceValueOfZeroBytesIsAskedAgain) {
  int32_t value = 1;
  ASSERT_EQ(bind(1, SQL_C_LONG, SQL_INTEGER, token1, &at_exec), SQL_SUCCESS);
  ASSERT_EQ(exec("SELECT ?"), SQL_NEED_DATA);
  param_data(SQL_NEED_DATA);
  ASSERT_EQ(put(&value, 0), SQL_SUCCESS);
  EXPECT_EQ(param_data(SQL_NEED_DATA), token1);
  EXPECT_EQ(put(&value, 4), SQL_SUCCESS) << "the new announcement takes data again";
}

// NULL and data cannot be mixed in one value.
TEST_F(DataAtExec, NullAndDataDoNotMix) {
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_VARCHAR, token1, &at_exec), SQL_SUCCESS);
  ASSERT_EQ(exec("SELECT ?"), SQL_NEED_DATA);
  param_data(SQL_NEED_DATA);
  ASSERT_EQ(put("a", 1), SQL_SUCCESS);
  EXPECT_EQ(put(nullptr, SQL_NULL_DATA), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "S1010");
  EXPECT_EQ(collected(1), "a");
}

TEST_F(DataAtExec, DataAfterNullIsRefused) {
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_VARCHAR, token1, &at_exec), SQL_SUCCESS);
  ASSERT_EQ(exec("SELECT ?"), SQL_NEED_DATA);
  param_data(SQL_NEED_DATA);
  ASSERT_EQ(put(nullptr, SQL_NULL_DATA), SQL_SUCCESS);
  EXPECT_EQ(put("a", 1), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "S1010");
}

TEST_F(DataAtExec, InvalidPieceLengthsAreRefused) {
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_VARCHAR, token1, &at_exec), SQL_SUCCESS);
  ASSERT_EQ(exec("SELECT ?"), SQL_NEED_DATA);
  param_data(SQL_NEED_DATA);
  EXPECT_EQ(put("a", -7), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "S1090");
  EXPECT_EQ(put(nullptr, 5), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "S1009");
  EXPECT_EQ(collected(1), "");
}

// Running out of memory while appending keeps what was collected.
TEST_F(DataAtExec, OutOfMemoryKeepsTheCollectedData) {
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_VARCHAR, token1, &at_exec), SQL_SUCCESS);
  ASSERT_EQ(exec("SELECT ?"), SQL_NEED_DATA);
  param_data(SQL_NEED_DATA);
  ASSERT_EQ(put("abc", 3), SQL_SUCCESS);
  std::string more(100, 'x');
  heap_fail_after(0);
  EXPECT_EQ(put(more.data(), 100), SQL_ERROR);
  heap_fail_after(-1);
  EXPECT_EQ(r.sqlstate(), "S1001");
  EXPECT_EQ(collected(1), "abc");
}

// A piece taken from the driver's own buffer (the token of a parameter asked
// again) survives the buffer's growth.
TEST_F(DataAtExec, PieceFromTheBindingsOwnBufferIsCopiedSafely) {
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_VARCHAR, token1, &at_exec), SQL_SUCCESS);
  ASSERT_EQ(exec("SELECT ?"), SQL_NEED_DATA);
  param_data(SQL_NEED_DATA);
  ASSERT_EQ(put("abcd", 4), SQL_SUCCESS);
  ParamBinding* b = r.stmt->parameters;
  std::string big(5000, 'q');
  ASSERT_EQ(put(b->buffer, 4), SQL_SUCCESS);
  ASSERT_EQ(put(big.data(), 5000), SQL_SUCCESS);
  ASSERT_EQ(put(b->buffer + 2, 4), SQL_SUCCESS);
  EXPECT_EQ(collected(1), "abcdabcd" + big + "cdab");
}

TEST_F(DataAtExec, ParamDataWithoutAStatementIsAGeneralError) {
  EXPECT_EQ(param_data(SQL_ERROR), nullptr);
  EXPECT_EQ(r.sqlstate(), "S1000");
  EXPECT_EQ(r.message(), kPrefix + "General error");
}

// Each execution starts over: marks cleared, so parameters marked
// SQL_LEN_DATA_AT_EXEC are asked again.
TEST_F(DataAtExec, NewExecutionAsksForLengthMarkedParametersAgain) {
  SQLLEN len_at_exec = SQL_LEN_DATA_AT_EXEC(10);
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_VARCHAR, token1, &len_at_exec), SQL_SUCCESS);
  ASSERT_EQ(bind(2, SQL_C_CHAR, SQL_VARCHAR, token2, &at_exec2), SQL_SUCCESS);
  ASSERT_EQ(exec("SELECT ?, ?"), SQL_NEED_DATA);
  param_data(SQL_NEED_DATA);
  ASSERT_EQ(put("", 0), SQL_SUCCESS);
  EXPECT_EQ(param_data(SQL_NEED_DATA), token2) << "a complete empty value is not asked again";
  ASSERT_EQ(exec("SELECT ?, ?"), SQL_NEED_DATA);
  EXPECT_EQ(r.stmt->pending_parameter, 501u);
}

TEST_F(DataAtExec, PendingCancelFailsPutAndParamDataWithS1008) {
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_VARCHAR, token1, &at_exec), SQL_SUCCESS);
  ASSERT_EQ(exec("SELECT ?"), SQL_NEED_DATA);
  r.stmt->cancel_requested = 1;
  EXPECT_EQ(put("a", 1), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "S1008");
  EXPECT_EQ(param_data(SQL_ERROR), nullptr);
  EXPECT_EQ(r.sqlstate(), "S1008");
  EXPECT_EQ(collected(1), "");
}

}  // namespace
}  // namespace q4
