// One workload of the driver comparison (bench/compare_bench.sh), against one
// data source, timed inside this process and printed as one line:
//
//   compare_bench [--odbc 2|3] [--count N] [--limit N] WORKLOAD DSN
//   -> "WORKLOAD UNITS SECONDS CPU_SECONDS CHECKSUM"
//
// The script runs each (data source, workload) in a process of its own, so
// that the CPU time counts one driver only, and alternates the data sources
// round by round. Workloads, on the table
//   bench (id INTEGER, name VARCHAR(40), amount NUMERIC(12,2), created DATE,
//          note VARCHAR(200))
// - bound:   SELECT of every row, the five columns bound (SQLBindCol), SQLFetch
//            to the end; UNITS is the rows fetched;
// - getdata: the same with five SQLGetData calls per row;
// - points:  N queries "... WHERE id = k", each SQLExecDirect, one SQLFetch,
//            five SQLGetData, SQLFreeStmt(SQL_CLOSE); UNITS is N;
// - connect: N times SQLAllocHandle(SQL_HANDLE_DBC) (SQLAllocConnect), SQLConnect,
//            SQLDisconnect, SQLFreeHandle on one environment; UNITS is N.
// --odbc 3 (the default) makes it an ODBC 3 application (SQLAllocHandle and
// SQL_ATTR_ODBC_VERSION 3, SQL_C_TYPE_DATE); --odbc 2 an ODBC 2 one
// (SQLAllocEnv, SQL_C_DATE). The connection and statement a workload reads
// with are opened before the clock starts.
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_table.h"
#include "odbc_client.h"

namespace {

using namespace bench;
using Clock = std::chrono::steady_clock;

bool g_odbc3 = true;
long g_limit = 0;

struct Session {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
};

SQLHENV open_environment() {
  SQLHENV env = SQL_NULL_HENV;
  if (g_odbc3) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  } else {
    SQLAllocEnv(&env);
  }
  if (env == SQL_NULL_HENV) fail("allocating the environment", env, nullptr, nullptr);
  return env;
}

// Allocates and connects a connection on `env`.
SQLHDBC connect(SQLHENV env, const std::string& dsn) {
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (g_odbc3) {
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  } else {
    SQLAllocConnect(env, &dbc);
  }
  SQLRETURN rc = SQLConnect(dbc, sql(dsn), SQL_NTS, nullptr, 0, nullptr, 0);
  if (!SQL_SUCCEEDED(rc)) fail(("SQLConnect " + dsn).c_str(), env, dbc, nullptr);
  return dbc;
}

void disconnect(SQLHDBC dbc) {
  SQLDisconnect(dbc);
  if (g_odbc3) {
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  } else {
    SQLFreeConnect(dbc);
  }
}

Session open_session(const std::string& dsn) {
  Session s;
  s.env = open_environment();
  s.dbc = connect(s.env, dsn);
  if (g_odbc3) {
    SQLAllocHandle(SQL_HANDLE_STMT, s.dbc, &s.stmt);
  } else {
    SQLAllocStmt(s.dbc, &s.stmt);
  }
  return s;
}

SQLSMALLINT date_type() {
  return g_odbc3 ? SQL_C_TYPE_DATE : SQL_C_DATE;
}

long bulk(const Session& s, bool bind, unsigned long long* checksum) {
  std::string query = kBenchQuery;
  if (g_limit > 0) query += " WHERE id <= " + std::to_string(g_limit);
  if (!SQL_SUCCEEDED(SQLExecDirect(s.stmt, sql(query), SQL_NTS))) {
    fail("SQLExecDirect", s.env, s.dbc, s.stmt);
  }
  Row r{};
  if (bind) bind_row(s.stmt, &r, date_type());
  long rows = 0;
  SQLRETURN rc;
  while (SQL_SUCCEEDED(rc = SQLFetch(s.stmt))) {
    if (!bind) get_row(s.stmt, &r, date_type());
    *checksum = fold(*checksum, r);
    ++rows;
  }
  if (rc != SQL_NO_DATA) fail("SQLFetch", s.env, s.dbc, s.stmt);
  SQLFreeStmt(s.stmt, SQL_CLOSE);
  SQLFreeStmt(s.stmt, SQL_UNBIND);
  return rows;
}

long points(const Session& s, long count, unsigned long long* checksum) {
  // The ids are spread over the first 100,000 rows, which every table of the
  // comparison has.
  Row r{};
  char text[160];
  for (long i = 0; i < count; ++i) {
    snprintf(text, sizeof text, "%s WHERE id = %ld", kBenchQuery, 1 + i * 7919 % 100000);
    if (!SQL_SUCCEEDED(SQLExecDirect(s.stmt, sql(text), SQL_NTS))) {
      fail("SQLExecDirect", s.env, s.dbc, s.stmt);
    }
    if (!SQL_SUCCEEDED(SQLFetch(s.stmt))) fail("SQLFetch", s.env, s.dbc, s.stmt);
    get_row(s.stmt, &r, date_type());
    *checksum = fold(*checksum, r);
    SQLFreeStmt(s.stmt, SQL_CLOSE);
  }
  return count;
}

long connects(SQLHENV env, const std::string& dsn, long count) {
  for (long i = 0; i < count; ++i) disconnect(connect(env, dsn));
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  long count = 0;
  int arg = 1;
  for (; arg + 1 < argc && argv[arg][0] == '-'; arg += 2) {
    if (strcmp(argv[arg], "--odbc") == 0) {
      g_odbc3 = atoi(argv[arg + 1]) != 2;
    } else if (strcmp(argv[arg], "--count") == 0) {
      count = atol(argv[arg + 1]);
    } else if (strcmp(argv[arg], "--limit") == 0) {
      g_limit = atol(argv[arg + 1]);
    } else {
      break;
    }
  }
  if (argc - arg != 2) {
    fprintf(stderr,
            "usage: %s [--odbc 2|3] [--count N] [--limit N] bound|getdata|points|connect DSN\n",
            argv[0]);
    return 2;
  }
  const std::string workload = argv[arg];
  const std::string dsn = argv[arg + 1];
  unsigned long long checksum = 0;
  long units = 0;
  double cpu_before = 0;
  Clock::time_point started;
  auto start = [&] {
    cpu_before = cpu_seconds();
    started = Clock::now();
  };
  if (workload == "connect") {
    SQLHENV env = open_environment();
    disconnect(connect(env, dsn));  // loads the driver before the clock starts
    start();
    units = connects(env, dsn, count > 0 ? count : 200);
  } else {
    Session s = open_session(dsn);
    start();
    if (workload == "bound" || workload == "getdata") {
      units = bulk(s, workload == "bound", &checksum);
    } else if (workload == "points") {
      units = points(s, count > 0 ? count : 2000, &checksum);
    } else {
      fprintf(stderr, "unknown workload %s\n", workload.c_str());
      return 2;
    }
  }
  double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  double cpu = cpu_seconds() - cpu_before;
  printf("%s %ld %.6f %.6f %016llx\n", workload.c_str(), units, seconds, cpu, checksum);
  return 0;
}
