// Prepared INSERT throughput through the unixODBC Driver Manager: 20,000 rows
// of three bound parameters (an integer, a text with an apostrophe, a double)
// in one transaction, timed from the first SQLExecute to the commit. The same
// program runs against every data source named on the command line, so two
// drivers are measured under the same conditions.
//
// Usage: q4_params_bench [--rows N] [--runs N] DSN:USER:PASSWORD...
// Prints one line per run and data source: rows per second.
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Source {
  std::string dsn, user, password;
};

SQLCHAR* sql(const std::string& text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str()));
}

std::string diagnostic(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt) {
  SQLCHAR state[6] = {}, message[512] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLError(env, dbc, stmt, state, &native, message, sizeof message, &length))) {
    return "(no diagnostic)";
  }
  return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(message);
}

bool check(SQLRETURN rc, const char* what, SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt) {
  if (SQL_SUCCEEDED(rc)) return true;
  fprintf(stderr, "%s failed: %s\n", what, diagnostic(env, dbc, stmt).c_str());
  return false;
}

// One timed run; returns rows per second, or a negative value on failure.
double run(const Source& source, int rows) {
  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  SQLHSTMT stmt = nullptr;
  double result = -1;
  SQLAllocEnv(&env);
  SQLAllocConnect(env, &dbc);
  if (!check(SQLConnect(dbc, sql(source.dsn), SQL_NTS, sql(source.user), SQL_NTS,
                        sql(source.password), SQL_NTS),
             "SQLConnect", env, dbc, nullptr)) {
    SQLFreeConnect(dbc);
    SQLFreeEnv(env);
    return -1;
  }
  SQLAllocStmt(dbc, &stmt);
  do {
    SQLExecDirect(stmt, sql("DROP TABLE bench_params"), SQL_NTS);  // absent the first time
    SQLFreeStmt(stmt, SQL_CLOSE);
    if (!check(SQLExecDirect(stmt,
                             sql("CREATE TABLE bench_params (id INTEGER, name VARCHAR(40), "
                                 "amount DOUBLE PRECISION)"),
                             SQL_NTS),
               "CREATE TABLE", env, dbc, stmt)) {
      break;
    }
    SQLFreeStmt(stmt, SQL_CLOSE);
    if (!check(SQLSetConnectOption(dbc, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), "autocommit off", env,
               dbc, nullptr)) {
      break;
    }

    int32_t id = 0;
    char name[40];
    double amount = 0;
    SQLLEN zero = 0, nts = SQL_NTS;
    SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 10, 0, &id, 0, &zero);
    SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 40, 0, name, 0, &nts);
    SQLBindParameter(stmt, 3, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 2, &amount, 0, &zero);
    if (!check(SQLPrepare(stmt, sql("INSERT INTO bench_params VALUES (?, ?, ?)"), SQL_NTS),
               "SQLPrepare", env, dbc, stmt)) {
      break;
    }
    Clock::time_point start = Clock::now();
    bool ok = true;
    for (int i = 1; i <= rows && ok; ++i) {
      id = i;
      snprintf(name, sizeof name, "customer %d's order", i);
      amount = i * 1.25;
      ok = check(SQLExecute(stmt), "SQLExecute", env, dbc, stmt);
    }
    if (!ok || !check(SQLTransact(env, dbc, SQL_COMMIT), "commit", env, dbc, nullptr)) break;
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    SQLFreeStmt(stmt, SQL_RESET_PARAMS);
    SQLFreeStmt(stmt, SQL_CLOSE);
    char count[32] = {};
    SQLLEN count_length = 0;
    if (!check(SQLExecDirect(stmt, sql("SELECT COUNT(*) FROM bench_params"), SQL_NTS),
               "SELECT COUNT", env, dbc, stmt) ||
        !check(SQLFetch(stmt), "SQLFetch", env, dbc, stmt) ||
        !check(SQLGetData(stmt, 1, SQL_C_CHAR, count, sizeof count, &count_length), "SQLGetData",
               env, dbc, stmt)) {
      break;
    }
    if (atoi(count) != rows) {
      fprintf(stderr, "%s: %s rows stored, %d expected\n", source.dsn.c_str(), count, rows);
      break;
    }
    SQLFreeStmt(stmt, SQL_CLOSE);
    SQLTransact(env, dbc, SQL_COMMIT);
    result = rows / seconds;
  } while (false);
  SQLFreeStmt(stmt, SQL_DROP);
  SQLDisconnect(dbc);
  SQLFreeConnect(dbc);
  SQLFreeEnv(env);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  int rows = 20000;
  int runs = 3;
  std::vector<Source> sources;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--rows" && i + 1 < argc) {
      rows = atoi(argv[++i]);
    } else if (arg == "--runs" && i + 1 < argc) {
      runs = atoi(argv[++i]);
    } else {
      size_t a = arg.find(':');
      size_t b = a == std::string::npos ? a : arg.find(':', a + 1);
      if (b == std::string::npos) {
        fprintf(stderr, "usage: %s [--rows N] [--runs N] DSN:USER:PASSWORD...\n", argv[0]);
        return 2;
      }
      sources.push_back({arg.substr(0, a), arg.substr(a + 1, b - a - 1), arg.substr(b + 1)});
    }
  }
  if (sources.empty() || rows <= 0) {
    fprintf(stderr, "usage: %s [--rows N] [--runs N] DSN:USER:PASSWORD...\n", argv[0]);
    return 2;
  }
  int failures = 0;
  // Runs alternate between the sources so that a change in the machine's
  // load touches all of them alike.
  for (int r = 1; r <= runs; ++r) {
    for (const Source& source : sources) {
      double per_second = run(source, rows);
      if (per_second < 0) {
        ++failures;
        printf("%-12s run %d: failed\n", source.dsn.c_str(), r);
      } else {
        printf("%-12s run %d: %d rows in %.3f s, %.0f rows/s\n", source.dsn.c_str(), r, rows,
               rows / per_second, per_second);
      }
      fflush(stdout);
    }
  }
  return failures == 0 ? 0 : 1;
}
