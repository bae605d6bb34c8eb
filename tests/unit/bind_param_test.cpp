// SQLBindParameter's list of bindings and the parameter functions that do
// nothing, through the exported entry points.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

#include "param_fixture.h"
#include "platform/heap.h"

namespace q4 {
namespace {

SQLCHAR* sql(const char* text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

class BindParameter : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(r.stmt->in_call, 0) << "every return must clear in_call"; }

  SQLRETURN bind(SQLUSMALLINT ipar, SQLSMALLINT c_type = SQL_C_CHAR,
                 SQLSMALLINT sql_type = SQL_VARCHAR, void* value = nullptr,
                 SQLLEN* indicator = nullptr) {
    return SQLBindParameter(r.stmt, ipar, SQL_PARAM_INPUT, c_type, sql_type, 10, 2, value, 0,
                            indicator);
  }

  std::vector<uint16_t> numbers() const {
    std::vector<uint16_t> out;
    for (ParamBinding* b = r.stmt->parameters; b != nullptr; b = b->next) out.push_back(b->number);
    return out;
  }

  ParamRecord r;
};

TEST_F(BindParameter, ListStaysInAscendingNumberOrder) {
  for (SQLUSMALLINT ipar : {5, 2, 9, 1, 3}) ASSERT_EQ(bind(ipar), SQL_SUCCESS);
  EXPECT_EQ(numbers(), (std::vector<uint16_t>{1, 2, 3, 5, 9}));
}

// Rebinding replaces the description in place and clears the
// data-at-execution marks; the accumulation buffer and position stay.
TEST_F(BindParameter, RebindingReplacesInPlace) {
  ASSERT_EQ(bind(1), SQL_SUCCESS);
  ParamBinding* b = r.stmt->parameters;
  b->complete = 1;
  b->piece_seen = 1;
  b->position = 8;
  b->buffer = static_cast<uint8_t*>(drv_alloc(nullptr, nullptr, 4));
  b->buffer_capacity = 4;
  uint8_t* buffer = b->buffer;
  int32_t other = 0;
  ASSERT_EQ(bind(1, SQL_C_LONG, SQL_INTEGER, &other), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->parameters, b);
  EXPECT_EQ(b->next, nullptr);
  EXPECT_EQ(b->c_type, SQL_C_LONG);
  EXPECT_EQ(b->value, &other);
  EXPECT_EQ(b->complete, 0);
  EXPECT_EQ(b->piece_seen, 0);
  EXPECT_EQ(b->buffer, buffer);
  EXPECT_EQ(b->position, 8u);
}

TEST_F(BindParameter, NumberZeroIsRefusedAsInvalidScale) {
  EXPECT_EQ(bind(0), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "S1094");
  EXPECT_EQ(r.message(), kPrefix + "Invalid Scale");
  EXPECT_EQ(r.stmt->parameters, nullptr);
}

TEST_F(BindParameter, OutOfMemoryPostsS1001AndBindsNothing) {
  heap_fail_after(0);
  EXPECT_EQ(bind(1), SQL_ERROR);
  heap_fail_after(-1);
  EXPECT_EQ(r.sqlstate(), "S1001");
  EXPECT_EQ(r.stmt->parameters, nullptr);
}

// Binding acts on a pending cancel with "S1000", not "S1008".
TEST_F(BindParameter, PendingCancelIsAGeneralError) {
  r.stmt->cancel_requested = 1;
  EXPECT_EQ(bind(1), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "S1000");
  EXPECT_EQ(r.message(), kPrefix + "General error");
  EXPECT_EQ(r.stmt->parameters, nullptr);
}

TEST_F(BindParameter, DescribeParamAndParamOptionsAreNotSupported) {
  SQLSMALLINT type = 0;
  SQLULEN size = 0;
  SQLULEN row = 0;
  EXPECT_EQ(SQLDescribeParam(r.stmt, 1, &type, &size, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "IM001");
  EXPECT_EQ(r.message(), kPrefix + "Not Supported");
  clear_diagnostic(r.stmt->sqlstate, r.stmt->message);
  EXPECT_EQ(SQLParamOptions(r.stmt, 10, &row), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "IM001");
  EXPECT_EQ(r.message(), kPrefix + "Not Supported");
}

// SQLSetParam succeeds and binds nothing, so the marker stays unbound.
TEST_F(BindParameter, SetParamBindsNothing) {
  int32_t value = 1;
  SQLLEN indicator = 4;
  EXPECT_EQ(SQLSetParam(r.stmt, 1, SQL_C_LONG, SQL_INTEGER, 4, 0, &value, &indicator), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->parameters, nullptr);
  EXPECT_EQ(SQLExecDirect(r.stmt, sql("SELECT ?"), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "07001");
  EXPECT_STREQ(r.conn->sqlstate, "") << "nothing may have been sent";
}

TEST(ParamApiNullHandles, AreInvalidHandles) {
  SQLPOINTER token = nullptr;
  EXPECT_EQ(SQLBindParameter(nullptr, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_CHAR, 0, 0, nullptr, 0,
                             nullptr),
            SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLDescribeParam(nullptr, 1, nullptr, nullptr, nullptr, nullptr), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLParamOptions(nullptr, 1, nullptr), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLSetParam(nullptr, 1, SQL_C_CHAR, SQL_CHAR, 0, 0, nullptr, nullptr),
            SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLParamData(nullptr, &token), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLPutData(nullptr, nullptr, 0), SQL_INVALID_HANDLE);
}

}  // namespace
}  // namespace q4
