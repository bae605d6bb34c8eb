// Threads against q4lite: queries and inserts from several threads, each on a
// connection of its own or several on one shared connection, while another
// thread cancels at random. The driver is linked in directly, so the
// ThreadSanitizer build sees every access.
//
// Every call must end in success, "no data", or "S1008" (a cancel); every row
// read must be the row asked for; every insert that succeeded must be stored
// exactly once. The size comes from the environment, for longer runs by hand:
//   Q4_STRESS_THREADS (8), Q4_STRESS_QUERIES (200 per thread),
//   Q4_STRESS_ROUNDS (1; each round starts a fresh server).
#include <gtest/gtest.h>
#include <signal.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kTableRows = 500;

int env_number(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : fallback;
}

// build/q4lite on a database file in a folder of its own, with small row
// blocks so that a query takes several exchanges (each a point where a
// cancel can land).
class Server {
 public:
  Server() {
    char dir[] = "/tmp/q4stress-XXXXXX";
    if (mkdtemp(dir) == nullptr) return;
    dir_ = dir;
    std::ofstream(dir_ + "/users") << "test:secret\n";
    const char* build = std::getenv("Q4_BUILD_DIR");
    std::string binary = std::string(build != nullptr ? build : "build") + "/q4lite";
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(dir) == 0) {
        execl(binary.c_str(), binary.c_str(), "--listen", "127.0.0.1:0", "--port-file", "port",
              "--db", "stress.db", "--users", "users", "--block-rows", "7", "--quiet", nullptr);
      }
      _exit(127);
    }
    for (int i = 0; i < 1000 && port_ == 0; ++i) {
      std::ifstream(dir_ + "/port") >> port_;
      if (port_ == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~Server() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  int port() const { return port_; }

 private:
  std::string dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// The pending diagnostic of a statement, or of a connection.
std::string sqlstate_of(SQLHDBC conn, SQLHSTMT stmt) {
  SQLCHAR state[6] = "";
  SQLINTEGER native = 0;
  SQLCHAR message[300];
  SQLSMALLINT length = 0;
  SQLRETURN rc = SQLError(SQL_NULL_HENV, stmt == SQL_NULL_HSTMT ? conn : SQL_NULL_HDBC, stmt, state,
                          &native, message, sizeof message, &length);
  if (rc != SQL_SUCCESS) return "<none>";
  return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(message);
}

SQLCHAR* text(const std::string& s) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
}

// What the workers saw; any fault is kept for the report.
struct Tally {
  std::atomic<long> queries{0}, rows{0}, cancelled{0}, inserts{0}, refused{0};
  std::mutex mutex;
  std::vector<std::string> faults;
  void fault(const std::string& what) {
    std::lock_guard<std::mutex> guard(mutex);
    if (faults.size() < 20) faults.push_back(what);
  }
};

class StressRun {
 public:
  StressRun(int port, int threads, int queries)
      : port_(port), threads_(threads), queries_(queries) {
    SQLAllocEnv(&env_);
  }
  ~StressRun() {
    for (SQLHDBC conn : connections_) {
      SQLDisconnect(conn);
      SQLFreeConnect(conn);
    }
    SQLFreeEnv(env_);
  }

  SQLHDBC connect() {
    SQLHDBC conn = SQL_NULL_HDBC;
    SQLAllocConnect(env_, &conn);
    std::string in = "DRIVER=Q4;SERVER=127.0.0.1;PORTNUMBER=" + std::to_string(port_) +
                     ";UID=test;PWD=secret;ACCOUNT=main;LoginTimeout=10";
    SQLCHAR out[512];
    SQLSMALLINT out_length = 0;
    SQLRETURN rc = SQLDriverConnect(conn, nullptr, text(in), SQL_NTS, out, sizeof out, &out_length,
                                    SQL_DRIVER_NOPROMPT);
    EXPECT_TRUE(SQL_SUCCEEDED(rc)) << sqlstate_of(conn, SQL_NULL_HSTMT);
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
  void run(int share, Tally* tally) {
    std::vector<SQLHSTMT> statements(threads_);
    ids_.assign(threads_, 0);
    id_indicators_.assign(threads_, 0);
    SQLHDBC conn = SQL_NULL_HDBC;
    for (int i = 0; i < threads_; ++i) {
      if (i % share == 0) conn = connect();
      SQLAllocStmt(conn, &statements[i]);
      // Bound once, before the cancels start: the binding outlives each
      // execution.
      SQLBindCol(statements[i], 1, SQL_C_LONG, &ids_[i], 0, &id_indicators_[i]);
    }
    std::atomic<bool> done{false};
    std::thread canceller([&] {
      std::mt19937 random(7);
      while (!done.load()) {
        SQLCancel(statements[random() % threads_]);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
      }
    });
    std::vector<std::thread> workers;
    for (int i = 0; i < threads_; ++i) {
      workers.emplace_back([&, i] { work(statements[i], i, share, tally); });
    }
    for (auto& worker : workers) worker.join();
    done = true;
    canceller.join();
    for (SQLHSTMT stmt : statements) SQLFreeStmt(stmt, SQL_DROP);
  }

  // Checks every insert: stored at most once, and stored when it succeeded.
  void check_inserts(SQLHDBC conn, const std::vector<std::vector<int>>& stored, Tally* tally) {
    SQLHSTMT stmt;
    SQLAllocStmt(conn, &stmt);
    SQLINTEGER id = 0;
    SQLLEN indicator = 0;
    SQLBindCol(stmt, 1, SQL_C_LONG, &id, 0, &indicator);
    ASSERT_TRUE(
        SQL_SUCCEEDED(SQLExecDirect(stmt, text("SELECT id FROM log ORDER BY id"), SQL_NTS)));
    std::vector<int> all;
    while (SQLFetch(stmt) == SQL_SUCCESS) all.push_back(id);
    SQLFreeStmt(stmt, SQL_DROP);
    size_t at = 0;
    for (const auto& worker : stored) {
      for (int key : worker) {
        while (at < all.size() && all[at] < key) ++at;
        if (at == all.size() || all[at] != key)
          tally->fault("insert " + std::to_string(key) + " lost");
      }
    }
  }

  std::vector<std::vector<int>> stored_;

 private:
  // One worker's queries: mostly range selects checked row by row, every
  // fifth an insert of a key of its own.
  void work(SQLHSTMT stmt, int worker, int share, Tally* tally) {
    std::mt19937 random(worker * 31 + share);
    for (int q = 0; q < queries_; ++q) {
      tally->queries++;
      SQLRETURN rc;
      if (q % 5 == 4) {
        int key = worker * 1000000 + share * 100000 + q;
        rc = SQLExecDirect(stmt,
                           text("INSERT INTO log VALUES (" + std::to_string(key) + ", " +
                                std::to_string(worker) + ")"),
                           SQL_NTS);
        if (rc == SQL_SUCCESS) {
          tally->inserts++;
          std::lock_guard<std::mutex> guard(tally->mutex);
          stored_[worker].push_back(key);
        } else {
          judge(stmt, rc, "insert", share, tally);
        }
        SQLFreeStmt(stmt, SQL_CLOSE);
        continue;
      }
      int first = 1 + static_cast<int>(random() % kTableRows);
      int last = std::min(kTableRows, first + static_cast<int>(random() % 40));
      rc = SQLExecDirect(stmt,
                         text("SELECT id, v FROM t WHERE id BETWEEN " + std::to_string(first) +
                              " AND " + std::to_string(last) + " ORDER BY id"),
                         SQL_NTS);
      if (rc != SQL_SUCCESS) {
        judge(stmt, rc, "select", share, tally);
        SQLFreeStmt(stmt, SQL_CLOSE);
        continue;
      }
      read_rows(stmt, worker, first, last, share, tally);
      SQLFreeStmt(stmt, SQL_CLOSE);
    }
  }

  void read_rows(SQLHSTMT stmt, int worker, int first, int last, int share, Tally* tally) {
    SQLINTEGER& id = ids_[worker];
    for (int expected = first;; ++expected) {
      id = 0;
      SQLRETURN rc = SQLFetch(stmt);
      if (rc == SQL_NO_DATA_FOUND) {
        if (expected != last + 1) tally->fault("rows end early at " + std::to_string(expected));
        break;
      }
      if (rc != SQL_SUCCESS) {
        judge(stmt, rc, "fetch", share, tally);
        break;
      }
      char value[16] = "";
      SQLLEN length = 0;
      rc = SQLGetData(stmt, 2, SQL_C_CHAR, value, sizeof value, &length);
      if (rc != SQL_SUCCESS) {
        judge(stmt, rc, "get data", share, tally);
        break;
      }
      tally->rows++;
      if (id != expected || std::string(value) != "v" + std::to_string(expected)) {
        tally->fault("row " + std::to_string(expected) + " read as " + std::to_string(id) + "/" +
                     value);
        break;
      }
    }
  }

  // A call that did not succeed must say why, and the reason must be a
  // cancel: "S1008" when it met the cancel, "S1010" when a cancel discarded
  // the result between two calls (the result is gone; nothing more is read).
  // On a shared connection the server may also refuse an insert: another
  // thread's statement may hold a read snapshot open (its cursor), and SQLite
  // refuses a write on a stale snapshot of the same connection. That is the
  // server's answer, not a driver fault.
  void judge(SQLHSTMT stmt, SQLRETURN rc, const char* what, int share, Tally* tally) {
    std::string state = sqlstate_of(SQL_NULL_HDBC, stmt);
    if (rc == SQL_ERROR && (state.rfind("S1008", 0) == 0 || state.rfind("S1010", 0) == 0)) {
      tally->cancelled++;
      return;
    }
    if (rc == SQL_ERROR && share > 1 && std::string(what) == "insert" &&
        state.find("Probable deadlock detected") != std::string::npos) {
      tally->refused++;
      return;
    }
    tally->fault(std::string(what) + " returned " + std::to_string(rc) + ": " + state);
  }

  int port_;
  int threads_;
  int queries_;
  SQLHENV env_ = SQL_NULL_HENV;
  std::vector<SQLHDBC> connections_;
  std::vector<SQLINTEGER> ids_;  // column 1 of each worker's statement
  std::vector<SQLLEN> id_indicators_;
};

class ThreadStress : public ::testing::TestWithParam<int> {};

// Param: threads per connection (1: a connection of their own).
TEST_P(ThreadStress, CancelsNeverCorruptAndRowsStayRight) {
  const int threads = env_number("Q4_STRESS_THREADS", 8);
  const int queries = env_number("Q4_STRESS_QUERIES", 200);
  const int rounds = env_number("Q4_STRESS_ROUNDS", 1);
  for (int round = 0; round < rounds; ++round) {
    Server server;
    ASSERT_NE(server.port(), 0) << "q4lite did not start";
    Tally tally;
    StressRun run(server.port(), threads, queries);
    SQLHDBC setup = run.connect();
    run.create_tables(setup);
    run.stored_.assign(threads, {});
    run.run(GetParam(), &tally);
    run.check_inserts(setup, run.stored_, &tally);
    std::printf(
        "round %d: %ld queries, %ld rows checked, %ld cancelled, %ld inserts (%ld refused)\n",
        round, tally.queries.load(), tally.rows.load(), tally.cancelled.load(),
        tally.inserts.load(), tally.refused.load());
    for (const std::string& fault : tally.faults) ADD_FAILURE() << fault;
    EXPECT_GT(tally.rows.load(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Connections, ThreadStress, ::testing::Values(1, 4),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return info.param == 1 ? std::string("OwnConnections")
                                                  : std::string("FourThreadsPerConnection");
                         });

}  // namespace
