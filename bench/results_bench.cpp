// Reading results through unixODBC, the same workloads against several data
// sources side by side (run it through bench/results_bench.sh, which sets up
// q4lite, PostgreSQL and the SQLite file and the private ODBC configuration):
//
//   results_bench [--rounds N] [--points N] [--q4lite-pid PID] LABEL=DSN...
//
// Every data source must serve the table
//   bench (id INTEGER, name VARCHAR(40), amount NUMERIC(12,2), created DATE,
//          note VARCHAR(200))
// Workloads, each timed over `rounds` rounds (the best round counts):
// - bound:   SELECT of every row, five columns bound with SQLBindCol;
// - getdata: the same, reading every column of every row with SQLGetData;
// - points:  `points` queries SELECT ... WHERE id = k (k spread over the
//            table), each fetched with SQLGetData and closed.
// Besides the rates it prints the process's CPU time per row (Driver Manager,
// driver and this loop together), the growth of its resident memory while a
// bulk fetch runs, and for the first data source the CPU q4lite spent.
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench_table.h"
#include "odbc_client.h"

namespace {

using namespace bench;
using Clock = std::chrono::steady_clock;

long rss_kb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return atol(line.c_str() + 6);
  }
  return 0;
}

// utime + stime of another process, in seconds; -1 when unknown.
double process_cpu_seconds(long pid) {
  if (pid <= 0) return -1;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / sysconf(_SC_CLK_TCK);
}

struct Run {
  double seconds = 0;
  double cpu = 0;  // this process
  double server_cpu = 0;
  long rss_growth_kb = 0;
  long rows = 0;
  unsigned long long checksum = 0;
};

struct Source {
  std::string label;
  std::string dsn;
  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  SQLHSTMT stmt = nullptr;
  Run best_bound, best_getdata, best_points;
};

template <typename Body>
Run timed(long server_pid, Body body) {
  Run run;
  double server_before = process_cpu_seconds(server_pid);
  double cpu_before = cpu_seconds();
  auto started = Clock::now();
  body(&run);
  run.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  run.cpu = cpu_seconds() - cpu_before;
  if (server_before >= 0) run.server_cpu = process_cpu_seconds(server_pid) - server_before;
  return run;
}

Run bulk(Source& s, bool bind, long server_pid) {
  return timed(server_pid, [&](Run* run) {
    long rss_before = rss_kb();
    if (!SQL_SUCCEEDED(SQLExecDirect(s.stmt, sql(kBenchQuery), SQL_NTS))) {
      fail("SQLExecDirect", s.env, s.dbc, s.stmt);
    }
    Row r{};
    if (bind) bind_row(s.stmt, &r, SQL_C_DATE);
    SQLRETURN rc;
    long peak = rss_before;
    while (SQL_SUCCEEDED(rc = SQLFetch(s.stmt))) {
      if (!bind) get_row(s.stmt, &r, SQL_C_DATE);
      run->checksum = fold(run->checksum, r);
      if (++run->rows % 100000 == 0) peak = std::max(peak, rss_kb());
    }
    if (rc != SQL_NO_DATA) fail("SQLFetch", s.env, s.dbc, s.stmt);
    run->rss_growth_kb = std::max(peak, rss_kb()) - rss_before;
    SQLFreeStmt(s.stmt, SQL_CLOSE);
    SQLFreeStmt(s.stmt, SQL_UNBIND);
  });
}

Run points(Source& s, int count, long table_rows, long server_pid) {
  return timed(server_pid, [&](Run* run) {
    Row r{};
    char text[128];
    for (int i = 0; i < count; ++i) {
      long id = 1 + (static_cast<long>(i) * 7919 % table_rows);
      snprintf(text, sizeof text, "%s WHERE id = %ld", kBenchQuery, id);
      if (!SQL_SUCCEEDED(SQLExecDirect(s.stmt, sql(text), SQL_NTS))) {
        fail("SQLExecDirect", s.env, s.dbc, s.stmt);
      }
      if (!SQL_SUCCEEDED(SQLFetch(s.stmt))) fail("SQLFetch", s.env, s.dbc, s.stmt);
      get_row(s.stmt, &r, SQL_C_DATE);
      run->checksum = fold(run->checksum, r);
      ++run->rows;
      SQLFreeStmt(s.stmt, SQL_CLOSE);
    }
  });
}

void connect(Source& s) {
  SQLAllocEnv(&s.env);
  SQLAllocConnect(s.env, &s.dbc);
  if (!SQL_SUCCEEDED(SQLConnect(s.dbc, sql(s.dsn), SQL_NTS, nullptr, 0, nullptr, 0))) {
    fail(("SQLConnect " + s.dsn).c_str(), s.env, s.dbc, nullptr);
  }
  SQLAllocStmt(s.dbc, &s.stmt);
}

void disconnect(Source& s) {
  SQLFreeStmt(s.stmt, SQL_DROP);
  SQLDisconnect(s.dbc);
  SQLFreeConnect(s.dbc);
  SQLFreeEnv(s.env);
}

void keep_best(Run* best, const Run& run) {
  if (best->rows == 0 || run.seconds < best->seconds) *best = run;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 3;
  int point_count = 5000;
  long q4lite_pid = 0;
  std::vector<Source> sources;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--rounds" && i + 1 < argc) {
      rounds = atoi(argv[++i]);
    } else if (arg == "--points" && i + 1 < argc) {
      point_count = atoi(argv[++i]);
    } else if (arg == "--q4lite-pid" && i + 1 < argc) {
      q4lite_pid = atol(argv[++i]);
    } else if (arg.find('=') != std::string::npos) {
      Source s;
      s.label = arg.substr(0, arg.find('='));
      s.dsn = arg.substr(arg.find('=') + 1);
      sources.push_back(s);
    } else {
      fprintf(stderr, "usage: %s [--rounds N] [--points N] [--q4lite-pid PID] LABEL=DSN...\n",
              argv[0]);
      return 2;
    }
  }
  if (sources.empty()) {
    fprintf(stderr, "no data source given\n");
    return 2;
  }

  for (Source& s : sources) connect(s);
  // Rounds go across the data sources, so that a change in the machine's
  // load falls on all of them alike.
  for (int round = 1; round <= rounds; ++round) {
    for (size_t i = 0; i < sources.size(); ++i) {
      Source& s = sources[i];
      long pid = i == 0 ? q4lite_pid : 0;
      Run b = bulk(s, true, pid);
      Run g = bulk(s, false, pid);
      Run p = points(s, point_count, b.rows, pid);
      printf(
          "round %d %-10s bound %8.0f rows/s  getdata %8.0f rows/s  points %6.0f q/s  "
          "(checksum %016llx)\n",
          round, s.label.c_str(), b.rows / b.seconds, g.rows / g.seconds, p.rows / p.seconds,
          b.checksum);
      fflush(stdout);
      keep_best(&s.best_bound, b);
      keep_best(&s.best_getdata, g);
      keep_best(&s.best_points, p);
    }
  }
  for (Source& s : sources) disconnect(s);

  const Source& q4 = sources[0];
  printf("\nbest of %d rounds\n%-12s %14s %14s %12s %16s %14s\n", rounds, "source", "bound rows/s",
         "getdata rows/s", "points q/s", "client CPU us/row", "RSS growth MB");
  for (const Source& s : sources) {
    printf("%-12s %14.0f %14.0f %12.0f %16.2f %14.1f\n", s.label.c_str(),
           s.best_bound.rows / s.best_bound.seconds, s.best_getdata.rows / s.best_getdata.seconds,
           s.best_points.rows / s.best_points.seconds,
           1e6 * s.best_bound.cpu / std::max(1L, s.best_bound.rows),
           std::max(s.best_bound.rss_growth_kb, s.best_getdata.rss_growth_kb) / 1024.0);
  }
  if (sources.size() > 1) printf("\nratios (%s / other)\n", q4.label.c_str());
  for (size_t i = 1; i < sources.size(); ++i) {
    const Source& s = sources[i];
    printf(
        "  vs %-10s bound %.2f  getdata %.2f  points %.2f\n", s.label.c_str(),
        (q4.best_bound.rows / q4.best_bound.seconds) / (s.best_bound.rows / s.best_bound.seconds),
        (q4.best_getdata.rows / q4.best_getdata.seconds) /
            (s.best_getdata.rows / s.best_getdata.seconds),
        (q4.best_points.rows / q4.best_points.seconds) /
            (s.best_points.rows / s.best_points.seconds));
  }
  if (q4lite_pid > 0) {
    const Run& b = q4.best_bound;
    printf(
        "\n%s bulk fetch with bound columns: %.2f s wall, client %.2f s CPU, q4lite %.2f s CPU\n",
        q4.label.c_str(), b.seconds, b.cpu, b.server_cpu);
  }
  return 0;
}
