// Threads against q4lite: queries and inserts from several threads, each on a
// connection of its own or several on one shared connection, while another
// thread cancels at random. The driver is linked in directly, so the
// ThreadSanitizer build sees every access.
//
// Every call must end in success, "no data", "S1008" (a cancel), or "08S01"
// once a cancel cut a wait for the server and so dropped the connection's
// link (the workers of that connection then reconnect it); every row read
// must be the row asked for; every insert that succeeded must be stored
// exactly once. The size comes from the environment, for longer runs by hand:
//   Q4_STRESS_THREADS (8), Q4_STRESS_QUERIES (200 per thread),
//   Q4_STRESS_ROUNDS (1; each round starts a fresh server).
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../server/q4lite_process.h"

namespace {

constexpr int kTableRows = 500;

int env_number(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : fallback;
}

SQLCHAR* text(const std::string& s) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
}

// The pending diagnostic of a statement, or of a connection.
std::string sqlstate_of(SQLHDBC conn, SQLHSTMT stmt) {
  SQLCHAR state[6] = "", message[300] = "";
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  SQLRETURN rc = SQLError(SQL_NULL_HENV, stmt == SQL_NULL_HSTMT ? conn : SQL_NULL_HDBC, stmt, state,
                          &native, message, sizeof message, &length);
  if (rc != SQL_SUCCESS) return "<none>";
  return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(message);
}

// One run: its connections, what the workers saw, and any fault for the report.
class StressRun {
 public:
  StressRun(int port, int threads, int queries)
      : port_(port), threads_(threads), queries_(queries), stored_(threads) {
    SQLAllocEnv(&env_);
  }
  ~StressRun() {
    for (SQLHDBC conn : connections_) SQLDisconnect(conn), SQLFreeConnect(conn);
    SQLFreeEnv(env_);
  }

  SQLHDBC connect() {
    SQLHDBC conn = SQL_NULL_HDBC;
    SQLAllocConnect(env_, &conn);
    log_on(conn);
    connections_.push_back(conn);
    return conn;
  }

  // A table of kTableRows rows (id, 'v' || id) and one for the inserts.
  void create_tables(SQLHDBC conn) {
    SQLHSTMT stmt;
    SQLAllocStmt(conn, &stmt);
    for (const char* sql :
         {"CREATE TABLE t (id INTEGER PRIMARY KEY, v TEXT)",
          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 500) "
          "INSERT INTO t SELECT i, 'v' || i FROM n",
          "CREATE TABLE log (id INTEGER PRIMARY KEY, worker INTEGER)"}) {
      ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt, text(sql), SQL_NTS)))
          << sqlstate_of(conn, stmt);
    }
    SQLFreeStmt(stmt, SQL_DROP);
  }

  // `share` threads to a connection (1: a connection each), plus one thread
  // cancelling the workers' statements at random.
  void run(int share) {
    statements_.assign(threads_, SQL_NULL_HSTMT);
    ids_.assign(threads_, 0);
    id_indicators_.assign(threads_, 0);
    lost_by_cut_.assign(threads_, 0);
    group_index_.assign(threads_, 0);
    groups_.clear();
    for (int i = 0; i < threads_; ++i) {
      if (i % share == 0) groups_.push_back(std::make_unique<Group>(connect()));
      groups_.back()->members.push_back(i);
      group_index_[i] = static_cast<int>(groups_.size()) - 1;
      open_statement(i);
    }
    std::atomic<bool> done{false};
    std::thread canceller([&] {
      for (std::mt19937 random(7); !done.load();) {
        int worker = static_cast<int>(random() % threads_);
        {
          Use use(group_of(worker));
          SQLCancel(statements_[worker]);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
      }
    });
    std::vector<std::thread> workers;
    for (int i = 0; i < threads_; ++i) {
      workers.emplace_back([&, i] { work(i, share); });
    }
    for (auto& worker : workers) worker.join();
    done = true;
    canceller.join();
    for (SQLHSTMT stmt : statements_) SQLFreeStmt(stmt, SQL_DROP);
  }

  // Every insert that succeeded is stored (the key keeps it to once).
  void check_inserts(SQLHDBC conn) {
    SQLHSTMT stmt;
    SQLAllocStmt(conn, &stmt);
    SQLINTEGER id = 0;
    SQLLEN indicator = 0;
    SQLBindCol(stmt, 1, SQL_C_LONG, &id, 0, &indicator);
    ASSERT_TRUE(
        SQL_SUCCEEDED(SQLExecDirect(stmt, text("SELECT id FROM log ORDER BY id"), SQL_NTS)));
    std::vector<int> all, succeeded;
    while (SQLFetch(stmt) == SQL_SUCCESS) all.push_back(id);
    SQLFreeStmt(stmt, SQL_DROP);
    for (const auto& keys : stored_) succeeded.insert(succeeded.end(), keys.begin(), keys.end());
    std::sort(succeeded.begin(), succeeded.end());
    std::vector<int> lost;
    std::set_difference(succeeded.begin(), succeeded.end(), all.begin(), all.end(),
                        std::back_inserter(lost));
    for (int key : lost) fault("insert " + std::to_string(key) + " lost");
  }

  std::atomic<long> queries{0}, rows{0}, cancelled{0}, inserts{0}, refused{0}, reconnects{0};
  std::vector<std::string> faults;

 private:
  // How a worker's query ended: done (whatever its outcome), or with the
  // connection's link dropped, which the worker then reconnects.
  enum class Outcome { kDone, kLinkLost };

  // The workers of one connection, and the turns they take on it: any number
  // of them (and the canceller) use it at once, while one that found the
  // link dropped reconnects it alone. Reconnecting frees every statement of
  // the connection, so each member's statement is opened again then.
  struct Group {
    explicit Group(SQLHDBC c) : conn(c) {}
    SQLHDBC conn;
    std::vector<int> members;
    std::mutex mutex;
    std::condition_variable changed;
    int using_it = 0;
    bool reconnecting = false;
    long generation = 0;
  };
  // Holds a turn on a group's connection for a scope.
  class Use {
   public:
    explicit Use(Group& g) : g_(g) {
      std::unique_lock<std::mutex> lock(g_.mutex);
      g_.changed.wait(lock, [&] { return !g_.reconnecting; });
      ++g_.using_it;
      generation = g_.generation;
    }
    ~Use() {
      std::lock_guard<std::mutex> lock(g_.mutex);
      --g_.using_it;
      g_.changed.notify_all();
    }
    long generation;

   private:
    Group& g_;
  };

  Group& group_of(int worker) { return *groups_[group_index_[worker]]; }

  void log_on(SQLHDBC conn) {
    std::string in = "DRIVER=Q4;SERVER=127.0.0.1;PORTNUMBER=" + std::to_string(port_) +
                     ";UID=test;PWD=secret;ACCOUNT=main;LoginTimeout=10";
    SQLRETURN rc = SQLDriverConnect(conn, nullptr, text(in), SQL_NTS, nullptr, 0, nullptr,
                                    SQL_DRIVER_NOPROMPT);
    EXPECT_TRUE(SQL_SUCCEEDED(rc)) << sqlstate_of(conn, SQL_NULL_HSTMT);
  }

  void open_statement(int worker) {
    SQLAllocStmt(group_of(worker).conn, &statements_[worker]);
    // Bound once per statement: the binding outlives each execution.
    SQLBindCol(statements_[worker], 1, SQL_C_LONG, &ids_[worker], 0, &id_indicators_[worker]);
  }

  // The link of the group's connection was dropped (seen in turn `seen`):
  // once every other turn has ended, the connection logs on again, unless
  // another member did so meanwhile.
  void reconnect(Group& g, long seen) {
    std::unique_lock<std::mutex> lock(g.mutex);
    g.changed.wait(lock, [&] { return !g.reconnecting; });
    if (g.generation != seen) return;
    g.reconnecting = true;
    g.changed.wait(lock, [&] { return g.using_it == 0; });
    SQLDisconnect(g.conn);
    log_on(g.conn);
    for (int member : g.members) open_statement(member), lost_by_cut_[member] = 0;
    ++g.generation;
    ++reconnects;
    g.reconnecting = false;
    g.changed.notify_all();
  }

  void fault(const std::string& what) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (faults.size() < 20) faults.push_back(what);
  }

  // One worker's queries: mostly range selects checked row by row, every
  // fifth an insert of a key of its own.
  void work(int worker, int share) {
    std::mt19937 random(worker * 31 + share);
    Group& group = group_of(worker);
    for (int q = 0; q < queries_; ++q) {
      ++queries;
      int first = 1 + static_cast<int>(random() % kTableRows);
      int last = std::min(kTableRows, first + static_cast<int>(random() % 40));
      int key = worker * 1000000 + share * 100000 + q;
      std::string sql = q % 5 == 4
                            ? "INSERT INTO log VALUES (" + std::to_string(key) + ", " +
                                  std::to_string(worker) + ")"
                            : "SELECT id, v FROM t WHERE id BETWEEN " + std::to_string(first) +
                                  " AND " + std::to_string(last) + " ORDER BY id";
      Outcome outcome = Outcome::kDone;
      long turn = 0;
      {
        Use use(group);
        turn = use.generation;
        SQLHSTMT stmt = statements_[worker];
        SQLRETURN rc = SQLExecDirect(stmt, text(sql), SQL_NTS);
        if (rc != SQL_SUCCESS)
          outcome = judge(stmt, worker, rc, q % 5 == 4 ? "insert" : "select", share);
        if (rc == SQL_SUCCESS && q % 5 == 4) ++inserts, stored_[worker].push_back(key);
        if (rc == SQL_SUCCESS && q % 5 != 4) outcome = read_rows(stmt, worker, first, last, share);
        SQLFreeStmt(stmt, SQL_CLOSE);
      }
      if (outcome == Outcome::kLinkLost) reconnect(group, turn);
    }
  }

  Outcome read_rows(SQLHSTMT stmt, int worker, int first, int last, int share) {
    for (int expected = first;; ++expected) {
      ids_[worker] = 0;
      char value[16] = "";
      SQLLEN length = 0;
      SQLRETURN rc = SQLFetch(stmt);
      if (rc == SQL_NO_DATA_FOUND && expected != last + 1) {
        fault("rows end early at " + std::to_string(expected));
      }
      if (rc == SQL_NO_DATA_FOUND) return Outcome::kDone;
      if (rc != SQL_SUCCESS) return judge(stmt, worker, rc, "fetch", share);
      rc = SQLGetData(stmt, 2, SQL_C_CHAR, value, sizeof value, &length);
      if (rc != SQL_SUCCESS) return judge(stmt, worker, rc, "get data", share);
      ++rows;
      if (ids_[worker] != expected || std::string(value) != "v" + std::to_string(expected)) {
        fault("row " + std::to_string(expected) + " read as " + std::to_string(ids_[worker]) + "/" +
              value);
        return Outcome::kDone;
      }
    }
  }

  // A call that did not succeed must say why, and the reason must be a
  // cancel: "S1008" when it met the cancel, "S1010" when a cancel discarded
  // the result between two calls (the result is gone; nothing more is read),
  // "08S01" when a cancel cut a wait on the connection and the link was
  // dropped: on a connection of its own only after that worker's own "S1008"
  // (and then kLinkLost: the worker reconnects). On a shared connection the
  // server may also refuse an insert: another thread's statement may hold a
  // read snapshot open (its cursor), and SQLite refuses a write on a stale
  // snapshot of the same connection. That is the server's answer, not a
  // driver fault.
  Outcome judge(SQLHSTMT stmt, int worker, SQLRETURN rc, const char* what, int share) {
    std::string state = sqlstate_of(SQL_NULL_HDBC, stmt);
    if (rc == SQL_ERROR && (state.rfind("S1008", 0) == 0 || state.rfind("S1010", 0) == 0)) {
      ++cancelled;
      lost_by_cut_[worker] = 1;
      return Outcome::kDone;
    }
    if (rc == SQL_ERROR && state.rfind("08S01", 0) == 0) {
      if (share == 1 && !lost_by_cut_[worker])
        fault(std::string(what) + ": 08S01 without a cancel");
      return Outcome::kLinkLost;
    }
    if (rc == SQL_ERROR && share > 1 && std::string(what) == "insert" &&
        state.find("Probable deadlock detected") != std::string::npos) {
      ++refused;
    } else {
      fault(std::string(what) + " returned " + std::to_string(rc) + ": " + state);
    }
    return Outcome::kDone;
  }

  int port_, threads_, queries_;
  SQLHENV env_ = SQL_NULL_HENV;
  std::vector<SQLHDBC> connections_;
  std::vector<std::vector<int>> stored_;  // the keys each worker inserted
  std::vector<std::unique_ptr<Group>> groups_;
  std::vector<SQLHSTMT> statements_;  // each worker's; replaced when its group reconnects
  std::vector<SQLINTEGER> ids_;       // column 1 of each worker's statement
  std::vector<SQLLEN> id_indicators_;
  std::vector<int> group_index_;   // each worker's group
  std::vector<char> lost_by_cut_;  // the worker saw "S1008" since its connection logged on
  std::mutex mutex_;
};

class ThreadStress : public ::testing::TestWithParam<int> {};

// Param: threads per connection (1: a connection of their own).
TEST_P(ThreadStress, CancelsNeverCorruptAndRowsStayRight) {
  const int threads = env_number("Q4_STRESS_THREADS", 8);
  const int queries = env_number("Q4_STRESS_QUERIES", 200);
  for (int round = 0; round < env_number("Q4_STRESS_ROUNDS", 1); ++round) {
    // Small row blocks make a query take several exchanges, each a point where a cancel can land.
    // A cut connection's session goes on until the server notices the client is gone (after a
    // statement waiting for a lock, up to the busy timeout), so sessions outnumber the threads.
    auto server = q4::test::start_server(
        {"--db", "stress.db", "--block-rows", "7", "--max-connections", "1000"}, "test:secret\n");
    ASSERT_TRUE(server) << "q4lite did not start";
    StressRun run(server->port(), threads, queries);
    SQLHDBC setup = run.connect();
    run.create_tables(setup);
    run.run(GetParam());
    run.check_inserts(setup);
    std::printf(
        "round %d: %ld queries, %ld rows checked, %ld cancelled, %ld reconnects, %ld inserts "
        "(%ld refused)\n",
        round, run.queries.load(), run.rows.load(), run.cancelled.load(), run.reconnects.load(),
        run.inserts.load(), run.refused.load());
    for (const std::string& fault : run.faults) ADD_FAILURE() << fault;
    EXPECT_GT(run.rows.load(), 0);
    EXPECT_LE(run.reconnects.load(), run.cancelled.load()) << "a link dropped without a cancel";
  }
}

INSTANTIATE_TEST_SUITE_P(Connections, ThreadStress, ::testing::Values(1, 4),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return info.param == 1 ? std::string("OwnConnections")
                                                  : std::string("FourThreadsPerConnection");
                         });

}  // namespace
