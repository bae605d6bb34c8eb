// Values delivered at execution through the Driver Manager: a 1 MB blob and a
// 100 KB text sent with SQLPutData in pieces through SQLParamData arrive whole.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <string>

#include "support.h"

namespace q4e2e {
namespace {

using ParamsE2e = Connected;

TEST_F(ParamsE2e, LargeValuesDeliveredInPieces) {
  exec("CREATE TABLE L (K INTEGER, B BLOB, T TEXT)");
  std::string blob(1 << 20, '\0');
  for (size_t n = 0; n < blob.size(); ++n) blob[n] = static_cast<char>((n * 131) ^ (n >> 9));
  std::string text;
  while (text.size() < 100 * 1024) text += "It's piece " + std::to_string(text.size()) + "; ";
  text.resize(100 * 1024);
  int32_t key = 1;
  SQLLEN zero = 0, blob_ind = SQL_LEN_DATA_AT_EXEC(static_cast<SQLLEN>(blob.size())),
         text_ind = SQL_DATA_AT_EXEC;
  const struct {
    SQLSMALLINT c_type, sql_type;
    void* value;
    SQLLEN* indicator;
  } params[] = {{SQL_C_LONG, SQL_INTEGER, &key, &zero},
                {SQL_C_BINARY, SQL_LONGVARBINARY, &blob, &blob_ind},
                {SQL_C_CHAR, SQL_LONGVARCHAR, &text, &text_ind}};
  for (SQLUSMALLINT n = 1; n <= 3; ++n) {
    const auto& p = params[n - 1];
    ASSERT_EQ(SQLBindParameter(stmt_, n, SQL_PARAM_INPUT, p.c_type, p.sql_type, 0, 0, p.value, 0,
                               p.indicator),
              SQL_SUCCESS)
        << diag();
  }
  ASSERT_EQ(SQLExecDirect(stmt_, as_sql("INSERT INTO L VALUES (?, ?, ?)"), SQL_NTS), SQL_NEED_DATA)
      << diag();
  SQLPOINTER token = nullptr;
  SQLRETURN rc;
  while ((rc = SQLParamData(stmt_, &token)) == SQL_NEED_DATA) {
    ASSERT_TRUE(token == &blob || token == &text);
    const std::string& value = *static_cast<std::string*>(token);
    const size_t piece = token == &blob ? 65536 : 10000;
    for (size_t at = 0; at < value.size(); at += piece) {
      ASSERT_EQ(SQLPutData(stmt_, const_cast<char*>(value.data() + at),
                           static_cast<SQLLEN>(std::min(piece, value.size() - at))),
                SQL_SUCCESS)
          << diag();
    }
  }
  ASSERT_TRUE(SQL_SUCCEEDED(rc)) << diag();
  SQLLEN rows = 0;
  ASSERT_EQ(SQLRowCount(stmt_, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 1);
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);
  exec("SELECT B, T FROM L WHERE K = 1");
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << diag();
  const std::string* sent[] = {&blob, &text};
  for (SQLUSMALLINT n = 1; n <= 2; ++n) {
    std::string back(sent[n - 1]->size() + 1, '\0');
    SQLLEN length = 0;
    ASSERT_EQ(SQLGetData(stmt_, n, n == 1 ? SQL_C_BINARY : SQL_C_CHAR, back.data(),
                         static_cast<SQLLEN>(back.size()), &length),
              SQL_SUCCESS)
        << diag();
    back.resize(static_cast<size_t>(std::max<SQLLEN>(length, 0)));
    EXPECT_TRUE(back == *sent[n - 1]) << "column " << n << " came back changed";
  }
}

}  // namespace
}  // namespace q4e2e
