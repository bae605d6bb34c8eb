// Dates and times as an ODBC 3 application sees them through unixODBC: a timestamp keeps its
// nanoseconds both ways, what a target cannot hold is cut with "01S07", and a date structure
// the calendar does not have is refused before anything is sent.
#include <cstring>
#include <string>

#include "q4lite_app.h"

namespace q4e2e {
namespace {

class Datetimes : public Q4liteApp {
 protected:
  void SetUp() override {
    Q4liteApp::SetUp();
    if (HasFatalFailure()) return;
    exec("DROP TABLE IF EXISTS moments");
    exec("CREATE TABLE moments (k INTEGER, ts TIMESTAMP, d DATE)");
  }
};

TEST_F(Datetimes, NanosecondsBothWaysAndCutsAreReported) {
  SQL_TIMESTAMP_STRUCT in{2024, 2, 29, 10, 11, 15, 123456789};
  SQL_DATE_STRUCT day{1, 1, 1};
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP,
                             29, 9, &in, 0, nullptr),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, &day,
                             0, nullptr),
            SQL_SUCCESS);
  exec("INSERT INTO moments VALUES (1, ?, ?)");
  SQLFreeStmt(stmt_, SQL_RESET_PARAMS);

  // One column per read: a column whose value was delivered whole has no more data.
  exec("SELECT ts, ts, ts, ts, ts, d, d FROM moments");
  SQLSMALLINT type = 0, digits = 0;
  SQLULEN size = 0;
  ASSERT_EQ(SQLDescribeCol(stmt_, 1, nullptr, 0, nullptr, &type, &size, &digits, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(type, SQL_TYPE_TIMESTAMP);  // unixODBC's ODBC 3 form of the driver's SQL_TIMESTAMP
  EXPECT_EQ(size, 29u);
  EXPECT_EQ(digits, 9);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << diag();

  SQL_TIMESTAMP_STRUCT out{};
  ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_TYPE_TIMESTAMP, &out, sizeof out, nullptr), SQL_SUCCESS);
  EXPECT_EQ(memcmp(&out, &in, sizeof out), 0) << out.fraction;
  char text[40] = {0};
  SQLLEN length = 0;
  ASSERT_EQ(SQLGetData(stmt_, 2, SQL_C_CHAR, text, sizeof text, &length), SQL_SUCCESS);
  EXPECT_STREQ(text, "2024-02-29 10:11:15.123456789");
  EXPECT_EQ(length, 29);
  // The date of a timestamp with a time, the time of one with a fraction: cut, with a warning.
  SQL_DATE_STRUCT date{};
  EXPECT_EQ(SQLGetData(stmt_, 3, SQL_C_TYPE_DATE, &date, sizeof date, nullptr),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(diag(), "01S07 [Halvex Software][ODBC Q4 Driver]Fractional truncation");
  EXPECT_EQ(date.year * 10000 + date.month * 100 + date.day, 20240229);
  SQL_TIME_STRUCT time{};
  EXPECT_EQ(SQLGetData(stmt_, 4, SQL_C_TYPE_TIME, &time, sizeof time, nullptr),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(diag().substr(0, 5), "01S07");
  EXPECT_EQ(time.hour * 10000 + time.minute * 100 + time.second, 101115);
  // A fraction cut from text is a cut of text.
  char short_text[24] = {0};
  EXPECT_EQ(SQLGetData(stmt_, 5, SQL_C_CHAR, short_text, sizeof short_text, &length),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(short_text, "2024-02-29 10:11:15.123");
  EXPECT_EQ(diag().substr(0, 5), "01004");
  // The year 1 has four digits.
  ASSERT_EQ(SQLGetData(stmt_, 6, SQL_C_CHAR, text, sizeof text, nullptr), SQL_SUCCESS);
  EXPECT_STREQ(text, "0001-01-01");
  SQL_DATE_STRUCT back{};
  ASSERT_EQ(SQLGetData(stmt_, 7, SQL_C_TYPE_DATE, &back, sizeof back, nullptr), SQL_SUCCESS);
  EXPECT_EQ(back.year * 10000 + back.month * 100 + back.day, 10101);
}

TEST_F(Datetimes, DatesTheCalendarHasNotAreRefusedBeforeSending) {
  SQL_DATE_STRUCT day{2023, 2, 29};
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, &day,
                             0, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(SQLExecDirect(stmt_, as_sql("INSERT INTO moments (k, d) VALUES (2, ?)"), SQL_NTS),
            SQL_ERROR);
  EXPECT_EQ(diag(), "22008 [Halvex Software][ODBC Q4 Driver]Datetime field overflow");
  day.year = 2024;
  exec("INSERT INTO moments (k, d) VALUES (2, ?)");
  SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
  // Text the server would not read back as a date is refused by the server.
  EXPECT_EQ(
      SQLExecDirect(stmt_, as_sql("INSERT INTO moments (k, d) VALUES (3, '1-01-01')"), SQL_NTS),
      SQL_ERROR);
  EXPECT_EQ(diag(), "22007 [Halvex Software][ODBC Q4 Driver]Invalid datetime format");
}

}  // namespace
}  // namespace q4e2e
