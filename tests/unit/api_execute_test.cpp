// Parameter, marker description and data-at-execution calls without a server (a request would
// show as 08S01).
#include "statement/param_description.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

const char kSequence[] = "ERROR S1010 Function sequence error";

class ApiExecute : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(r.stmt->call.state, 0u) << "every return must give the statement back";
    EXPECT_EQ(diag(r.conn), "") << "a request reached the link";
  }
  SQLRETURN bind(SQLUSMALLINT ipar, SQLSMALLINT c_type = SQL_C_CHAR,
                 SQLSMALLINT sql_type = SQL_VARCHAR, void* value = nullptr,
                 SQLLEN* indicator = nullptr, SQLULEN size = 10) {
    return SQLBindParameter(r.stmt, ipar, SQL_PARAM_INPUT, c_type, sql_type, size, 2, value, 0,
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
  std::string result(SQLRETURN rc) { return taken(rc, r.stmt); }
  // Binds parameter 1 for data at execution, executes "SELECT ?", takes the first announcement.
  void start(SQLSMALLINT c_type, SQLSMALLINT sql_type) {
    ASSERT_EQ(bind(1, c_type, sql_type, this, &at_exec), SQL_SUCCESS);
    ASSERT_EQ(exec("SELECT ?"), "NEED_DATA");
    ASSERT_EQ(param_data(), "NEED_DATA");
  }
  // "type size digits nullable", or the outcome of a refusal.
  std::string describe(SQLUSMALLINT ipar) {
    SQLSMALLINT type = -1, digits = -1, nullable = -1;
    SQLULEN size = 0;
    SQLRETURN rc = SQLDescribeParam(r.stmt, ipar, &type, &size, &digits, &nullable);
    if (rc != SQL_SUCCESS) return result(rc);
    return std::to_string(type) + " " + std::to_string(size) + " " + std::to_string(digits) + " " +
           std::to_string(nullable);
  }
  std::string collected() {
    ParamBinding* b = app_param_desc(r.stmt).records;
    return std::string(reinterpret_cast<char*>(b->buffer), b->buffer ? b->piece_length : 0);
  }

  StatementRecord r;
  SQLLEN at_exec = SQL_DATA_AT_EXEC;
};

// A pending cancel ("S1000", not "S1008") binds nothing; so does SQLSetParam.
TEST_F(ApiExecute, RefusedBindingsAndSetParam) {
  r.stmt->call.state = kCancelRequested;
  EXPECT_EQ(result(bind(1)), "ERROR S1000 General error");
  r.stmt->call.state = 0;
  EXPECT_EQ(app_param_desc(r.stmt).records, nullptr);
  int32_t value = 1;
  SQLLEN indicator = 4;
  EXPECT_EQ(SQLSetParam(r.stmt, 1, SQL_C_LONG, SQL_INTEGER, 4, 0, &value, &indicator), SQL_SUCCESS);
  EXPECT_EQ(exec("SELECT ?"), "ERROR 07001 Wrong number of parameters");
}

// Nothing waiting; one-piece values take one SQLPutData; NULL and data do not mix; cancels.
TEST_F(ApiExecute, PieceRefusals) {
  EXPECT_EQ(param_data(), "ERROR S1000 General error");
  start(SQL_C_CHAR, SQL_INTEGER);
  EXPECT_EQ(put("12", SQL_NTS), "OK");
  EXPECT_EQ(put("34", SQL_NTS), "ERROR 22003 Numeric value out of range");
  start(SQL_C_DEFAULT, SQL_VARCHAR);  // only SQL_C_CHAR and SQL_C_BINARY collect pieces
  EXPECT_EQ(put("12", SQL_NTS), "OK");
  EXPECT_EQ(put("34", SQL_NTS), "ERROR 22003 Numeric value out of range");
  start(SQL_C_CHAR, SQL_VARCHAR);
  EXPECT_EQ(put("a", -7), "ERROR S1090 Invalid string or buffer length");
  ASSERT_EQ(put("a", 1), "OK");
  EXPECT_EQ(put(nullptr, SQL_NULL_DATA), kSequence);
  EXPECT_EQ(collected(), "a");
  start(SQL_C_CHAR, SQL_VARCHAR);
  ASSERT_EQ(put(nullptr, SQL_NULL_DATA), "OK");
  EXPECT_EQ(put("a", 1), kSequence);
  r.stmt->call.state = kCancelRequested;  // each request is taken by the call that meets it
  EXPECT_EQ(put("a", 1), "ERROR S1008 Operation cancelled");
  r.stmt->call.state = kCancelRequested;
  EXPECT_EQ(param_data(), "ERROR S1008 Operation cancelled");
}

// A piece of the binding's own buffer survives its growth (out of memory keeps what was collected:
// allocation_failure_test.cpp).
TEST_F(ApiExecute, CollectingPieces) {
  start(SQL_C_CHAR, SQL_VARCHAR);
  ASSERT_EQ(put("abcd", 4), "OK");
  std::string big(5000, 'q');
  ParamBinding* b = app_param_desc(r.stmt).records;
  ASSERT_EQ(put(b->buffer, 4), "OK");
  ASSERT_EQ(put(big.data(), 5000), "OK");
  ASSERT_EQ(put(b->buffer + 2, 4), "OK");
  EXPECT_EQ(collected(), "abcdabcd" + big + "cdab");
}

// Numbers run to SQLNumParams' count (the markers the execution replaces: not
// the quoted "?"); bound ones are described by their binding, the others,
// meeting no column here, as text of up to 255 characters with the nine
// decimal digits of a timestamp's fraction; SQLNumParams and SQLDescribeParam
// agree with the execution.
TEST_F(ApiExecute, DescribeParamAnswersForEveryMarkerSQLNumParamsCounts) {
  EXPECT_EQ(describe(1), "ERROR S1010 Function sequence error");
  ASSERT_EQ(SQLPrepare(r.stmt, sql("\n  -- ?\n  SELECT ?, '?' FROM T WHERE f(A) = ?"), SQL_NTS),
            SQL_SUCCESS);
  SQLSMALLINT count = -1;
  ASSERT_EQ(SQLNumParams(r.stmt, &count), SQL_SUCCESS);
  EXPECT_EQ(count, 2);
  SQLLEN zero = 0;
  int32_t v = 0;
  ASSERT_EQ(bind(2, SQL_C_LONG, SQL_DECIMAL, &v, &zero, 12), SQL_SUCCESS);
  EXPECT_EQ(describe(2), "3 12 2 " + std::to_string(SQL_NULLABLE_UNKNOWN));
  EXPECT_EQ(describe(0), "ERROR S1093 Invalid parameter number");
  EXPECT_EQ(SQLDescribeParam(r.stmt, 2, nullptr, nullptr, nullptr, nullptr), SQL_SUCCESS);
}

// Refused before anything is sent: data at execution in any row (SQL_LEN_DATA_AT_EXEC too),
// character rows without a cbValueMax to step by.
TEST_F(ApiExecute, ArraysRefusedBeforeAnyRowIsSent) {
  SQLULEN done = 77;
  ASSERT_EQ(SQLParamOptions(r.stmt, 3, &done), SQL_SUCCESS);
  int32_t ids[3] = {1, 2, 3};
  SQLLEN id_ind[3] = {SQL_LEN_DATA_AT_EXEC(4), 0, 0};
  char names[3][4] = {"a", "b", "c"};
  SQLLEN name_ind[3] = {SQL_NTS, SQL_NTS, SQL_NTS};
  ASSERT_EQ(bind(1, SQL_C_LONG, SQL_INTEGER, ids, id_ind), SQL_SUCCESS);
  ASSERT_EQ(bind(2, SQL_C_CHAR, SQL_VARCHAR, names, name_ind), SQL_SUCCESS);
  const char* text = "INSERT INTO T VALUES (?, ?)";
  EXPECT_EQ(exec(text), "ERROR S1C00 Driver Not Capable");
  EXPECT_EQ(r.stmt->pending_parameter, 0u) << "nothing may wait for SQLParamData";
  id_ind[0] = 0;
  EXPECT_EQ(exec(text), "ERROR S1090 Invalid string or buffer length");
  EXPECT_EQ(done, 1u);
  EXPECT_EQ(r.stmt->param_row, 0u);
}

}  // namespace
}  // namespace q4
