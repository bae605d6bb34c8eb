// Prepared INSERT throughput through the unixODBC Driver Manager: 20,000 rows
// of three bound parameters (an integer, a text with an apostrophe, a double)
// in one transaction, timed from the first SQLExecute to the commit. The same
// program runs against every data source named on the command line, so two
// drivers are measured under the same conditions.
//
// With --array N each run is made twice: once as a loop of single
// executions, once with parameter arrays of N rows (column-wise), each
// SQLExecute inserting N rows. The array size is set with the ODBC 3
// attribute SQL_ATTR_PARAMSET_SIZE where the Driver Manager passes it on,
// and with SQLParamOptions where it does not (unixODBC refuses the attribute
// for ODBC 2.x drivers).
//
// Usage: q4_params_bench [--rows N] [--runs N] [--array N] DSN:USER:PASSWORD...
// Prints one line per run, data source and mode: rows per second.
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "odbc_client.h"

namespace {

using namespace bench;
using Clock = std::chrono::steady_clock;

struct Source {
  std::string dsn, user, password;
};

// One row of the text column, as a character array binds it (cbValueMax 41).
struct Name {
  char text[41];
};

bool check(SQLRETURN rc, const char* what, SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt) {
  if (SQL_SUCCEEDED(rc)) return true;
  fprintf(stderr, "%s failed: %s\n", what, diagnostic(env, dbc, stmt).c_str());
  return false;
}

// Sets the parameter array size: the ODBC 3 attribute, or SQLParamOptions
// when the Driver Manager refuses it. "attribute", "SQLParamOptions" or
// nullptr when neither worked.
const char* set_array_size(SQLHSTMT stmt, SQLULEN size, SQLULEN* processed) {
  if (SQL_SUCCEEDED(
          SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(size), 0)) &&
      SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, processed, 0))) {
    return "attribute";
  }
  return SQL_SUCCEEDED(SQLParamOptions(stmt, size, processed)) ? "SQLParamOptions" : nullptr;
}

// One timed run, as a loop of single executions (array 1) or with parameter
// arrays of `array` rows; returns rows per second, or a negative value on
// failure. `how` receives the way the array size was set, `cpu_per_row` the
// client's CPU time per row in microseconds.
double run(const Source& source, int rows, int array, const char** how, double* cpu_per_row) {
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

    // Column-wise arrays of `array` rows; a loop uses their first row.
    std::vector<int32_t> ids(array);
    std::vector<Name> names(array);
    std::vector<double> amounts(array);
    std::vector<SQLLEN> zeros(array, 0), nts(array, SQL_NTS);
    SQLULEN processed = 0;
    if (array > 1 && (*how = set_array_size(stmt, array, &processed)) == nullptr) {
      check(SQL_ERROR, "array size", env, dbc, stmt);
      break;
    }
    SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 10, 0, ids.data(), 0,
                     zeros.data());
    SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 40, 0, names.data(),
                     sizeof(Name), nts.data());
    SQLBindParameter(stmt, 3, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 2, amounts.data(), 0,
                     zeros.data());
    if (!check(SQLPrepare(stmt, sql("INSERT INTO bench_params VALUES (?, ?, ?)"), SQL_NTS),
               "SQLPrepare", env, dbc, stmt)) {
      break;
    }
    Clock::time_point start = Clock::now();
    double cpu_start = cpu_seconds();
    bool ok = true;
    for (int first = 1; first <= rows && ok; first += array) {
      int count = rows - first + 1 < array ? rows - first + 1 : array;
      if (count < array) {  // the last, shorter array
        if (array > 1 && set_array_size(stmt, count, &processed) == nullptr) ok = false;
      }
      for (int k = 0; k < count; ++k) {
        int i = first + k;
        ids[k] = i;
        snprintf(names[k].text, sizeof names[k].text, "customer %d's order", i);
        amounts[k] = i * 1.25;
      }
      ok = ok && check(SQLExecute(stmt), "SQLExecute", env, dbc, stmt);
      if (ok && array > 1 && processed != static_cast<SQLULEN>(count)) {
        fprintf(stderr, "%s: %lu rows processed, %d expected\n", source.dsn.c_str(),
                static_cast<unsigned long>(processed), count);
        ok = false;
      }
    }
    if (!ok || !check(SQLTransact(env, dbc, SQL_COMMIT), "commit", env, dbc, nullptr)) break;
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    *cpu_per_row = (cpu_seconds() - cpu_start) * 1e6 / rows;

    if (array > 1) set_array_size(stmt, 1, &processed);
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
  int array = 0;
  std::vector<Source> sources;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--rows" && i + 1 < argc) {
      rows = atoi(argv[++i]);
    } else if (arg == "--runs" && i + 1 < argc) {
      runs = atoi(argv[++i]);
    } else if (arg == "--array" && i + 1 < argc) {
      array = atoi(argv[++i]);
    } else {
      size_t a = arg.find(':');
      size_t b = a == std::string::npos ? a : arg.find(':', a + 1);
      if (b == std::string::npos) {
        fprintf(stderr, "usage: %s [--rows N] [--runs N] [--array N] DSN:USER:PASSWORD...\n",
                argv[0]);
        return 2;
      }
      sources.push_back({arg.substr(0, a), arg.substr(a + 1, b - a - 1), arg.substr(b + 1)});
    }
  }
  if (sources.empty() || rows <= 0 || array < 0) {
    fprintf(stderr, "usage: %s [--rows N] [--runs N] [--array N] DSN:USER:PASSWORD...\n", argv[0]);
    return 2;
  }
  std::vector<int> modes = {1};  // 1: a loop of single executions
  if (array > 1) modes.push_back(array);
  int failures = 0;
  // Runs alternate between the sources so that a change in the machine's
  // load touches all of them alike.
  for (int r = 1; r <= runs; ++r) {
    for (const Source& source : sources) {
      // Every other run takes the modes in the other order, so that neither
      // always runs right after the other source's work.
      std::vector<int> order = modes;
      if (r % 2 == 0) order.assign(modes.rbegin(), modes.rend());
      for (int size : order) {
        const char* how = "";
        double cpu = 0;
        double per_second = run(source, rows, size, &how, &cpu);
        std::string mode = size == 1 ? "loop" : "array " + std::to_string(size) + " (" + how + ")";
        if (per_second < 0) {
          ++failures;
          printf("%-12s run %d %-28s failed\n", source.dsn.c_str(), r, mode.c_str());
        } else {
          printf("%-12s run %d %-28s %d rows in %.3f s, %.0f rows/s, client CPU %.1f us/row\n",
                 source.dsn.c_str(), r, mode.c_str(), rows, rows / per_second, per_second, cpu);
        }
        fflush(stdout);
      }
    }
  }
  return failures == 0 ? 0 : 1;
}
