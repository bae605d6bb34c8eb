// SQLBindParameter's list of bindings and data-at-execution sequences that
// stop before anything is sent (those that send are in the wire tests).
#include "platform/heap.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

const char kRange[] = "ERROR 22003 Numeric value out of range";
const char kSequence[] = "ERROR S1010 Function sequence error";

class ParamApi : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(r.stmt->in_call, 0) << "every return must clear in_call";
    EXPECT_EQ(diag(r.conn), "") << "a request reached the link";
  }
  SQLRETURN bind(SQLUSMALLINT ipar, SQLSMALLINT c_type = SQL_C_CHAR,
                 SQLSMALLINT sql_type = SQL_VARCHAR, void* value = nullptr,
                 SQLLEN* indicator = nullptr) {
    return SQLBindParameter(r.stmt, ipar, SQL_PARAM_INPUT, c_type, sql_type, 10, 2, value, 0,
                            indicator);
  }
  std::string exec(const char* text) { return result(SQLExecDirect(r.stmt, sql(text), SQL_NTS)); }
  std::string put(const void* data, SQLLEN length) {
    return result(SQLPutData(r.stmt, const_cast<void*>(data), length));
  }
  std::string param_data() {
    SQLPOINTER token = nullptr;
    return result(SQLParamData(r.stmt, &token));
  }
  std::string result(SQLRETURN rc) {
    std::string text = outcome(rc, r.stmt);
    clear_diagnostic(r.stmt->sqlstate, r.stmt->message);
    return text;
  }
  // Binds parameter 1 for data at execution, executes "SELECT ?" and takes
  // the first announcement.
  void start(SQLSMALLINT c_type, SQLSMALLINT sql_type) {
    ASSERT_EQ(bind(1, c_type, sql_type, this, &at_exec), SQL_SUCCESS);
    ASSERT_EQ(exec("SELECT ?"), "NEED_DATA");
    ASSERT_EQ(param_data(), "NEED_DATA");
  }
  std::string collected() {
    ParamBinding* b = r.stmt->parameters;
    return std::string(reinterpret_cast<char*>(b->buffer), b->buffer ? b->piece_length : 0);
  }

  StatementRecord r;
  SQLLEN at_exec = SQL_DATA_AT_EXEC;
};

// The list stays in ascending order; rebinding replaces the description in
// place and clears the data-at-execution marks, keeping the buffer.
TEST_F(ParamApi, BindingList) {
  for (SQLUSMALLINT ipar : {5, 2, 1}) ASSERT_EQ(bind(ipar), SQL_SUCCESS);
  ParamBinding* b = r.stmt->parameters;
  EXPECT_EQ(b->number * 100 + b->next->number * 10 + b->next->next->number, 125);
  b->complete = b->piece_seen = 1;
  uint8_t* buffer = b->buffer = static_cast<uint8_t*>(drv_alloc(nullptr, nullptr, 4));
  int32_t other = 0;
  ASSERT_EQ(bind(1, SQL_C_LONG, SQL_INTEGER, &other), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->parameters, b);
  EXPECT_EQ(b->value, &other);
  EXPECT_EQ(b->complete + b->piece_seen, 0);
  EXPECT_EQ(b->buffer, buffer);
}

// Out of memory and a pending cancel ("S1000", not "S1008") bind nothing;
// SQLSetParam succeeds but binds nothing, so its marker stays unbound.
TEST_F(ParamApi, RefusedBindingsAndFunctionsNotOffered) {
  heap_fail_after(0);
  EXPECT_EQ(result(bind(1)), "ERROR S1001 Memory allocation failure");
  r.stmt->cancel_requested = 1;
  EXPECT_EQ(result(bind(1)), "ERROR S1000 General error");
  r.stmt->cancel_requested = 0;
  EXPECT_EQ(r.stmt->parameters, nullptr);
  SQLULEN row = 0;
  EXPECT_EQ(result(SQLParamOptions(r.stmt, 10, &row)), "ERROR IM001 Not Supported");
  int32_t value = 1;
  SQLLEN indicator = 4;
  EXPECT_EQ(SQLSetParam(r.stmt, 1, SQL_C_LONG, SQL_INTEGER, 4, 0, &value, &indicator), SQL_SUCCESS);
  EXPECT_EQ(exec("SELECT ?"), "ERROR 07001 Wrong number of parameters");
}

// A one-piece value (any non-character C type, or character data for a
// number) takes exactly one non-empty SQLPutData and is used in place.
TEST_F(ParamApi, OnePieceValues) {
  int32_t value = 7;
  start(SQL_C_LONG, SQL_INTEGER);
  EXPECT_EQ(put(&value, 0), "OK");
  EXPECT_EQ(param_data(), "NEED_DATA") << "zero bytes: asked again";
  EXPECT_EQ(put(&value, 4), "OK");
  EXPECT_EQ(put(&value, 4), kRange);
  EXPECT_EQ(r.stmt->parameters->piece_data, &value);
  start(SQL_C_CHAR, SQL_INTEGER);
  EXPECT_EQ(put("12", SQL_NTS), "OK");
  EXPECT_EQ(put("34", SQL_NTS), kRange);
}

// Nothing waiting; NULL and data do not mix; bad lengths are refused.
TEST_F(ParamApi, PieceRefusals) {
  EXPECT_EQ(param_data(), "ERROR S1000 General error");
  start(SQL_C_CHAR, SQL_VARCHAR);
  EXPECT_EQ(put("a", -7), "ERROR S1090 Invalid string or buffer length");
  ASSERT_EQ(put("a", 1), "OK");
  EXPECT_EQ(put(nullptr, SQL_NULL_DATA), kSequence);
  EXPECT_EQ(collected(), "a");
  start(SQL_C_CHAR, SQL_VARCHAR);
  ASSERT_EQ(put(nullptr, SQL_NULL_DATA), "OK");
  EXPECT_EQ(put("a", 1), kSequence);
}

// Out of memory while appending keeps what was collected; a piece taken from
// the binding's own buffer survives the buffer's growth.
TEST_F(ParamApi, CollectingPieces) {
  start(SQL_C_CHAR, SQL_VARCHAR);
  ASSERT_EQ(put("abcd", 4), "OK");
  std::string big(5000, 'q');
  heap_fail_after(0);
  EXPECT_EQ(put(big.data(), 100), "ERROR S1001 Memory allocation failure");
  EXPECT_EQ(collected(), "abcd");
  ParamBinding* b = r.stmt->parameters;
  ASSERT_EQ(put(b->buffer, 4), "OK");
  ASSERT_EQ(put(big.data(), 5000), "OK");
  ASSERT_EQ(put(b->buffer + 2, 4), "OK");
  EXPECT_EQ(collected(), "abcdabcd" + big + "cdab");
}

// A pending cancel fails SQLPutData and SQLParamData with "S1008".
TEST_F(ParamApi, PendingCancel) {
  start(SQL_C_CHAR, SQL_VARCHAR);
  r.stmt->cancel_requested = 1;
  EXPECT_EQ(put("a", 1), "ERROR S1008 Operation cancelled");
  EXPECT_EQ(param_data(), "ERROR S1008 Operation cancelled");
}

}  // namespace
}  // namespace q4
