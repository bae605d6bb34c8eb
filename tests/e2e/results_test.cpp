// Reading results through the unixODBC Driver Manager against q4lite: every
// wire type into the C types that take it, NULLs, long values read in pieces,
// a million rows through bound columns, and closing and re-executing.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "support.h"

namespace q4e2e {
namespace {

SQLCHAR* sql(const std::string& text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str()));
}

// One connection to a fresh in-memory q4lite database per test.
class Results : public ::testing::Test {
 protected:
  void SetUp() override { start({}); }

  void start(const std::vector<std::string>& server_args) {
    server_ = std::make_unique<Q4lite>(server_args);
    ASSERT_TRUE(server_->running());
    // unixODBC keeps what it read from odbc.ini for a while: every server
    // gets a data source name of its own.
    static int servers = 0;
    const std::string dsn = "q4results" + std::to_string(++servers);
    config_.add_server_dsn(dsn, *server_);
    ASSERT_EQ(SQLAllocEnv(&env_), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocConnect(env_, &dbc_), SQL_SUCCESS);
    ASSERT_EQ(SQLConnect(dbc_, sql(dsn), SQL_NTS, sql("test"), SQL_NTS, sql("secret"), SQL_NTS),
              SQL_SUCCESS)
        << diagnostic(env_, dbc_, nullptr);
    ASSERT_EQ(SQLAllocStmt(dbc_, &stmt_), SQL_SUCCESS);
  }

  void TearDown() override {
    if (stmt_ != nullptr) SQLFreeStmt(stmt_, SQL_DROP);
    if (dbc_ != nullptr) {
      SQLDisconnect(dbc_);
      SQLFreeConnect(dbc_);
    }
    if (env_ != nullptr) SQLFreeEnv(env_);
  }

  std::string diag() { return diagnostic(env_, dbc_, stmt_); }

  void run(const std::string& text) {
    ASSERT_EQ(SQLExecDirect(stmt_, sql(text), SQL_NTS), SQL_SUCCESS) << text << ": " << diag();
    SQLFreeStmt(stmt_, SQL_CLOSE);
  }

  OdbcConfig config_;
  std::unique_ptr<Q4lite> server_;
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
  SQLHSTMT stmt_ = nullptr;
};

// --- Every wire type into each C type that makes sense.

// The C value in a buffer, written out: numbers in decimal, structures in
// their usual text form, binary values in hexadecimal.
std::string render(SQLSMALLINT c_type, const void* buffer, SQLLEN length) {
  char text[128];
  const auto* b = static_cast<const unsigned char*>(buffer);
  switch (c_type) {
    case SQL_C_CHAR:
      return std::string(static_cast<const char*>(buffer));
    case SQL_C_LONG:
      return std::to_string(*static_cast<const SQLINTEGER*>(buffer));
    case SQL_C_SHORT:
      return std::to_string(*static_cast<const SQLSMALLINT*>(buffer));
    case SQL_C_TINYINT:
      return std::to_string(*static_cast<const SQLSCHAR*>(buffer));
    case SQL_C_BIT:
      return std::to_string(b[0]);
    case SQL_C_FLOAT:
      snprintf(text, sizeof text, "%g", *static_cast<const float*>(buffer));
      return text;
    case SQL_C_DOUBLE:
      snprintf(text, sizeof text, "%g", *static_cast<const double*>(buffer));
      return text;
    case SQL_C_DATE: {
      const auto* d = static_cast<const DATE_STRUCT*>(buffer);
      snprintf(text, sizeof text, "%04d-%02d-%02d", d->year, d->month, d->day);
      return text;
    }
    case SQL_C_TIME: {
      const auto* t = static_cast<const TIME_STRUCT*>(buffer);
      snprintf(text, sizeof text, "%02d:%02d:%02d", t->hour, t->minute, t->second);
      return text;
    }
    case SQL_C_TIMESTAMP: {
      const auto* ts = static_cast<const TIMESTAMP_STRUCT*>(buffer);
      snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%u", ts->year, ts->month, ts->day,
               ts->hour, ts->minute, ts->second, static_cast<unsigned>(ts->fraction));
      return text;
    }
    case SQL_C_BINARY: {
      std::string hex;
      for (SQLLEN i = 0; i < length; ++i) {
        snprintf(text, sizeof text, "%02x", b[i]);
        hex += text;
      }
      return hex;
    }
    default:
      return "?";
  }
}

std::string utc_today() {
  time_t now = time(nullptr);
  struct tm day;
  gmtime_r(&now, &day);
  char text[16];
  strftime(text, sizeof text, "%Y-%m-%d", &day);
  return text;
}

struct TypeCase {
  const char* column;
  SQLSMALLINT c_type;
  std::string expected;
};

TEST_F(Results, EveryWireTypeIntoEachCType) {
  run("CREATE TABLE every_type (i INTEGER, s SMALLINT, c CHAR(4), v VARCHAR(30), "
      "vn VARCHAR(10), n NUMERIC(9,3), d DATE, t TIME, ts TIMESTAMP, vb VARBINARY(8), lb BLOB)");
  run("INSERT INTO every_type VALUES (42, -7, 'ab', 'O''Brien', '12.5', 3.5, '2024-02-29', "
      "'07:08:09', '2024-01-02 03:04:05', x'00ff10', x'cafe')");
  const std::vector<TypeCase> cases = {
      {"i", SQL_C_CHAR, "42"},
      {"i", SQL_C_LONG, "42"},
      {"i", SQL_C_SHORT, "42"},
      {"i", SQL_C_TINYINT, "42"},
      {"i", SQL_C_DOUBLE, "42"},
      {"i", SQL_C_FLOAT, "42"},
      {"i", SQL_C_DEFAULT, "42"},
      {"s", SQL_C_CHAR, "-7"},
      {"s", SQL_C_SHORT, "-7"},
      {"s", SQL_C_LONG, "-7"},
      {"s", SQL_C_DOUBLE, "-7"},
      {"c", SQL_C_CHAR, "ab"},
      {"c", SQL_C_BINARY, "6162"},
      {"v", SQL_C_CHAR, "O'Brien"},
      {"v", SQL_C_DEFAULT, "O'Brien"},
      {"vn", SQL_C_DOUBLE, "12.5"},
      {"vn", SQL_C_FLOAT, "12.5"},
      {"n", SQL_C_CHAR, "3.500"},
      {"n", SQL_C_DOUBLE, "3.5"},
      {"n", SQL_C_FLOAT, "3.5"},
      {"n", SQL_C_DEFAULT, "3.500"},
      {"d", SQL_C_CHAR, "2024-02-29"},
      {"d", SQL_C_DATE, "2024-02-29"},
      {"d", SQL_C_TIMESTAMP, "2024-02-29 00:00:00.0"},
      {"t", SQL_C_CHAR, "07:08:09"},
      {"t", SQL_C_TIME, "07:08:09"},
      {"t", SQL_C_TIMESTAMP, utc_today() + " 07:08:09.0"},
      {"ts", SQL_C_CHAR, "2024-01-02 03:04:05"},
      {"ts", SQL_C_DATE, "2024-01-02"},
      {"ts", SQL_C_TIME, "03:04:05"},
      {"ts", SQL_C_TIMESTAMP, "2024-01-02 03:04:05.0"},
      {"vb", SQL_C_CHAR, "00ff10"},
      {"vb", SQL_C_BINARY, "00ff10"},
      {"vb", SQL_C_DEFAULT, "00ff10"},
      {"lb", SQL_C_CHAR, "cafe"},
      {"lb", SQL_C_BINARY, "cafe"},
  };
  for (const TypeCase& c : cases) {
    SCOPED_TRACE(std::string(c.column) + " as C type " + std::to_string(c.c_type));
    ASSERT_EQ(SQLExecDirect(stmt_, sql(std::string("SELECT ") + c.column + " FROM every_type"),
                            SQL_NTS),
              SQL_SUCCESS)
        << diag();
    ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << diag();
    SQLSMALLINT rendered_type = c.c_type;
    if (c.c_type == SQL_C_DEFAULT) {
      // The default target of each wire type, as the driver picks it.
      const std::string column = c.column;
      rendered_type = column == "i"                    ? SQL_C_LONG
                      : column == "vb" || column == "lb" ? SQL_C_BINARY
                                                        : SQL_C_CHAR;
    }
    alignas(8) unsigned char buffer[64];
    memset(buffer, 0, sizeof buffer);
    SQLLEN length = 0;
    ASSERT_EQ(SQLGetData(stmt_, 1, c.c_type, buffer, sizeof buffer, &length), SQL_SUCCESS)
        << diag();
    EXPECT_EQ(render(rendered_type, buffer, length), c.expected);
    EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA_FOUND);
    SQLFreeStmt(stmt_, SQL_CLOSE);
  }
}

TEST_F(Results, NullsReportNullDataInEveryColumn) {
  run("CREATE TABLE every_type (i INTEGER, s SMALLINT, c CHAR(4), v VARCHAR(30), "
      "n NUMERIC(9,3), d DATE, t TIME, ts TIMESTAMP, vb VARBINARY(8), lb BLOB)");
  run("INSERT INTO every_type (i) VALUES (NULL)");
  ASSERT_EQ(SQLExecDirect(stmt_, sql("SELECT i, s, c, v, n, d, t, ts, vb, lb FROM every_type"),
                          SQL_NTS),
            SQL_SUCCESS);
  // Bound and unbound columns alike; a bound buffer is left as it was.
  SQLINTEGER bound = 12345;
  SQLLEN bound_length = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_LONG, &bound, 0, &bound_length), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << diag();
  EXPECT_EQ(bound_length, SQL_NULL_DATA);
  EXPECT_EQ(bound, 12345);
  const SQLSMALLINT c_types[] = {SQL_C_LONG,   SQL_C_SHORT,     SQL_C_CHAR,   SQL_C_CHAR,
                                 SQL_C_DOUBLE, SQL_C_DATE,      SQL_C_TIME,   SQL_C_TIMESTAMP,
                                 SQL_C_BINARY, SQL_C_BINARY};
  for (SQLUSMALLINT column = 2; column <= 10; ++column) {
    alignas(8) unsigned char buffer[32] = {0x5A};
    SQLLEN length = 0;
    EXPECT_EQ(SQLGetData(stmt_, column, c_types[column - 1], buffer, sizeof buffer, &length),
              SQL_SUCCESS)
        << column;
    EXPECT_EQ(length, SQL_NULL_DATA) << column;
    EXPECT_EQ(buffer[0], 0x5A) << column;
  }
}

// --- Long values, read in pieces with SQLGetData.

// 10,000 numbered 10-character pieces: a misplaced piece shows at once.
std::string numbered_text(int pieces, int width) {
  std::string text;
  char piece[32];
  for (int i = 0; i < pieces; ++i) {
    snprintf(piece, sizeof piece, "%0*d|", width - 1, i);
    text += piece;
  }
  return text;
}

std::string numbered_query(int pieces, int width, const char* cast) {
  return "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " +
         std::to_string(pieces - 1) + ") SELECT " + cast + "(group_concat(printf('%0" +
         std::to_string(width - 1) + "d|', i), '')" + (cast[0] ? " AS BLOB)" : ")") + " FROM n";
}

struct LongCase {
  const char* name;
  int pieces;
  int width;
  bool blob;
  SQLSMALLINT c_type;
  SQLLEN piece_room;
};

class LongValues : public Results, public ::testing::WithParamInterface<LongCase> {};

TEST_P(LongValues, ArriveWholeInPieces) {
  const LongCase& c = GetParam();
  const std::string expected = numbered_text(c.pieces, c.width);
  ASSERT_EQ(SQLExecDirect(stmt_, sql(numbered_query(c.pieces, c.width, c.blob ? "CAST" : "")),
                          SQL_NTS),
            SQL_SUCCESS)
      << diag();
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << diag();
  std::string got;
  std::vector<char> buffer(static_cast<size_t>(c.piece_room));
  const SQLLEN payload_room = c.c_type == SQL_C_CHAR ? c.piece_room - 1 : c.piece_room;
  int calls = 0;
  for (;;) {
    SQLLEN length = 0;
    SQLRETURN rc = SQLGetData(stmt_, 1, c.c_type, buffer.data(), c.piece_room, &length);
    ++calls;
    ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << diag();
    // The remaining length is always exact.
    ASSERT_EQ(length, static_cast<SQLLEN>(expected.size() - got.size()));
    got.append(buffer.data(), static_cast<size_t>(std::min(length, payload_room)));
    if (rc == SQL_SUCCESS) break;
  }
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected) << "the pieces differ from the value";
  EXPECT_EQ(calls, static_cast<int>((expected.size() + payload_room - 1) / payload_room));
  // Once the value is exhausted, a further read returns nothing, with length 0.
  SQLLEN length = -1;
  EXPECT_EQ(SQLGetData(stmt_, 1, c.c_type, buffer.data(), c.piece_room, &length), SQL_SUCCESS);
  EXPECT_EQ(length, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, LongValues,
    ::testing::Values(LongCase{"Text100KB", 10000, 10, false, SQL_C_CHAR, 30001},
                      LongCase{"Blob1MB", 65536, 16, true, SQL_C_BINARY, 65536 * 2}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Many rows through bound columns.

TEST_F(Results, AMillionRowsThroughBoundColumns) {
  constexpr int kRows = 1000000;
  ASSERT_EQ(SQLExecDirect(stmt_,
                          sql("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                              "WHERE i < " +
                              std::to_string(kRows) +
                              ") SELECT i, 'name ' || i, i % 1000, i * 0.25 FROM n"),
                          SQL_NTS),
            SQL_SUCCESS)
      << diag();
  SQLINTEGER id = 0;
  char name[24];
  SQLSMALLINT small = 0;
  double quarter = 0;
  SQLLEN id_length = 0, name_length = 0, small_length = 0, quarter_length = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_LONG, &id, 0, &id_length), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_CHAR, name, sizeof name, &name_length), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 3, SQL_C_SHORT, &small, 0, &small_length), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 4, SQL_C_DOUBLE, &quarter, 0, &quarter_length), SQL_SUCCESS);

  auto started = std::chrono::steady_clock::now();
  int rows = 0;
  int wrong = 0;
  char expected_name[24];
  SQLRETURN rc;
  while ((rc = SQLFetch(stmt_)) == SQL_SUCCESS) {
    ++rows;
    snprintf(expected_name, sizeof expected_name, "name %d", rows);
    if (id != rows || strcmp(name, expected_name) != 0 || small != rows % 1000 ||
        quarter != rows * 0.25 || name_length != static_cast<SQLLEN>(strlen(expected_name))) {
      if (++wrong <= 3) {
        ADD_FAILURE() << "row " << rows << ": " << id << " " << name << " " << small << " "
                      << quarter;
      }
    }
  }
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_EQ(rc, SQL_NO_DATA_FOUND) << diag();
  EXPECT_EQ(rows, kRows);
  EXPECT_EQ(wrong, 0);
  printf("%d rows with 4 bound columns in %.2f s (%.0f rows/s)\n", rows, seconds, rows / seconds);
}

// --- Closing and executing again.

TEST_F(Results, CloseAndReexecuteStartFromTheFirstRow) {
  run("CREATE TABLE t (n INTEGER, label VARCHAR(10))");
  for (int i = 1; i <= 5; ++i) {
    run("INSERT INTO t VALUES (" + std::to_string(i) + ", 'row " + std::to_string(i) + "')");
  }
  ASSERT_EQ(SQLPrepare(stmt_, sql("SELECT n, label FROM t ORDER BY n"), SQL_NTS), SQL_SUCCESS)
      << diag();
  SQLINTEGER n = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_LONG, &n, 0, nullptr), SQL_SUCCESS);
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("execution " + std::to_string(round + 1));
    ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << diag();
    for (int expected = 1; expected <= 2 + round; ++expected) {
      ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << diag();
      EXPECT_EQ(n, expected);
      char label[16];
      SQLLEN length = 0;
      ASSERT_EQ(SQLGetData(stmt_, 2, SQL_C_CHAR, label, sizeof label, &length), SQL_SUCCESS);
      EXPECT_EQ(std::string(label), "row " + std::to_string(expected));
    }
    ASSERT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  }
  // A direct execution after the close starts over too; the binding stays.
  ASSERT_EQ(SQLExecDirect(stmt_, sql("SELECT n FROM t WHERE n >= 4 ORDER BY n"), SQL_NTS),
            SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(n, 4);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(n, 5);
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA_FOUND);
}

// A server that sends every row without its data: each bound column is
// filled through a get-data request, and the rows still come in order.
TEST_F(Results, RowsSentWithoutDataFillBoundColumns) {
  TearDown();
  stmt_ = nullptr;
  dbc_ = nullptr;
  env_ = nullptr;
  start({"--lazy-rows"});
  ASSERT_EQ(SQLExecDirect(stmt_,
                          sql("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                              "WHERE i < 50) SELECT i, 'v' || i FROM n"),
                          SQL_NTS),
            SQL_SUCCESS)
      << diag();
  SQLINTEGER id = 0;
  char text[8];
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_LONG, &id, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_CHAR, text, sizeof text, nullptr), SQL_SUCCESS);
  for (int row = 1; row <= 50; ++row) {
    ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << diag();
    EXPECT_EQ(id, row);
    EXPECT_EQ(std::string(text), "v" + std::to_string(row));
  }
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA_FOUND);
}

}  // namespace
}  // namespace q4e2e
