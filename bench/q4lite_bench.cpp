// Rows per second that q4lite serves for a 1,000,000-row, 5-column SELECT,
// read by a minimal protocol client over loopback, against the same query
// stepped through the SQLite C API in-process. Prints both rates and their
// ratio; the target is a ratio of at least 0.5.
//
//   build/q4lite_bench [rows]     (the server binary is taken from the build tree)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "protocol/codec.h"
#include "protocol/wire.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 5;
const char* const kQuery = "SELECT id, name, amount, created, qty FROM bench";

bool make_database(const std::string& path, long rows) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
  const std::string sql =
      "CREATE TABLE bench (id INTEGER PRIMARY KEY, name VARCHAR(30), amount NUMERIC(10,2), "
      "created DATE, qty SMALLINT);"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
      std::to_string(rows) +
      ") INSERT INTO bench SELECT i, 'customer ' || (i * 7919 % 100000), "
      "(i * 37 % 100000) / 100.0, date('2020-01-01', '+' || (i % 1500) || ' days'), i % 100 "
      "FROM n;";
  const bool ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

// The baseline: step the query and read every column in its natural form.
double in_process_rate(const std::string& path, long* rows_out) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, kQuery, -1, &stmt, nullptr);
  const auto start = Clock::now();
  long rows = 0;
  uint64_t checksum = 0;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    checksum += static_cast<uint64_t>(sqlite3_column_int64(stmt, 0));
    checksum += static_cast<uint64_t>(sqlite3_column_bytes(stmt, 1));
    checksum += static_cast<uint64_t>(sqlite3_column_text(stmt, 1)[0]);
    checksum += static_cast<uint64_t>(sqlite3_column_double(stmt, 2));
    checksum += static_cast<uint64_t>(sqlite3_column_bytes(stmt, 3));
    checksum += static_cast<uint64_t>(sqlite3_column_text(stmt, 3)[0]);
    checksum += static_cast<uint64_t>(sqlite3_column_int(stmt, 4));
    ++rows;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  if (checksum == 42) std::puts("");  // keeps the reads from being optimised away
  *rows_out = rows;
  return static_cast<double>(rows) / seconds;
}

class MiniClient {
 public:
  ~MiniClient() {
    if (fd_ >= 0) close(fd_);
  }
  bool connect(uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  // One exchange; requests here are always a single frame. The payload of
  // the reply lands in *payload, its status letter is returned.
  char exchange(uint8_t command, const std::vector<uint8_t>& request,
                std::vector<uint8_t>* payload) {
    std::vector<uint8_t> frame(2);
    frame.push_back(command);
    frame.push_back(0);
    frame.resize(frame.size() + 4);
    q4::put_u16(frame.data() + 4, static_cast<uint16_t>(request.size()));
    frame.insert(frame.end(), request.begin(), request.end());
    q4::put_u16(frame.data(), static_cast<uint16_t>(frame.size()));
    if (!write_all(frame.data(), frame.size())) return 0;
    payload->clear();
    char letter = 0;
    for (bool first = true;; first = false) {
      uint8_t length[2];
      if (!read_exact(length, 2)) return 0;
      body_.resize(q4::load_u16(length) - 2u);
      if (!read_exact(body_.data(), body_.size())) return 0;
      size_t pos = 0;
      if (first) {
        letter = static_cast<char>(body_[0]);
        pos = std::strlen(reinterpret_cast<char*>(body_.data())) + 1;
      }
      const uint16_t chunk = q4::load_u16(body_.data() + pos);
      const uint16_t more = q4::load_u16(body_.data() + pos + 2);
      payload->insert(payload->end(), body_.begin() + static_cast<long>(pos) + 4,
                      body_.begin() + static_cast<long>(pos) + 4 + chunk);
      if (more == 0) return letter;
      const uint8_t ack = q4::kAckByte;
      write_all(&ack, 1);
    }
  }

 private:
  bool read_exact(uint8_t* to, size_t n) {
    while (n > 0) {
      const ssize_t got = recv(fd_, to, n, 0);
      if (got <= 0) return false;
      to += got;
      n -= static_cast<size_t>(got);
    }
    return true;
  }
  bool write_all(const uint8_t* from, size_t n) {
    while (n > 0) {
      const ssize_t sent = send(fd_, from, n, MSG_NOSIGNAL);
      if (sent <= 0) return false;
      from += sent;
      n -= static_cast<size_t>(sent);
    }
    return true;
  }
  int fd_ = -1;
  std::vector<uint8_t> body_;
};

// Walks a row block in place: counts its rows and returns the trailing
// status byte (what a driver does before converting any value).
char walk_block(const uint8_t* p, const uint8_t* end, size_t columns, long* rows) {
  while (p < end) {
    for (size_t c = 0; c < columns; ++c) p += 6 + q4::load_u32(p + 2);
    ++*rows;
    if (p >= end) return 0;
    if (*p != 'K') return static_cast<char>(*p);
    ++p;
  }
  return 0;
}

double served_rate(uint16_t port, long* rows_out) {
  MiniClient client;
  if (!client.connect(port)) return 0;
  std::vector<uint8_t> payload;
  const std::string logon = "localhost,vm,bench,pw,bench,,";
  if (client.exchange(q4::kCmdLogon, std::vector<uint8_t>(logon.begin(), logon.end()), &payload) !=
      'K') {
    return 0;
  }
  std::vector<uint8_t> execute = {0, 0, 0, 1};
  execute.insert(execute.end(), kQuery, kQuery + std::strlen(kQuery));
  execute.insert(execute.end(), {0, 0});
  const std::vector<uint8_t> fetch = {0, 0, 0, 1, 'X'};
  const auto start = Clock::now();
  long rows = 0;
  if (client.exchange(q4::kCmdExecute, execute, &payload) != 'K') return 0;
  const size_t columns = q4::load_u32(payload.data());
  size_t at = 8;
  if (payload.size() > 8 && payload[8] == 'X') at = 9 + q4::load_u32(payload.data() + 9);
  char trailer = walk_block(payload.data() + at, payload.data() + payload.size(), columns, &rows);
  while (trailer == 'M') {
    if (client.exchange(q4::kCmdFetch, fetch, &payload) != 'K') break;
    trailer = walk_block(payload.data(), payload.data() + payload.size(), columns, &rows);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  *rows_out = rows;
  return static_cast<double>(rows) / seconds;
}

pid_t start_server(const std::string& db, const std::string& port_file, uint16_t* port) {
  const std::string binary = std::string(Q4_BUILD_DIR) + "/q4lite";
  const pid_t pid = fork();
  if (pid == 0) {
    execl(binary.c_str(), binary.c_str(), "--listen", "127.0.0.1:0", "--port-file",
          port_file.c_str(), "--db", db.c_str(), "--quiet", static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 500; ++i) {
    std::ifstream in(port_file);
    int p = 0;
    if (in >> p && p > 0) {
      *port = static_cast<uint16_t>(p);
      return pid;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGTERM);
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  char dir[] = "/tmp/q4lite-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  const std::string db = std::string(dir) + "/bench.db";
  std::printf("q4lite benchmark: %ld rows x 5 columns (%s)\n", rows, kQuery);
  if (!make_database(db, rows)) {
    std::fprintf(stderr, "cannot create %s\n", db.c_str());
    return 1;
  }
  uint16_t port = 0;
  const pid_t server = start_server(db, std::string(dir) + "/port", &port);
  if (server < 0) {
    std::fprintf(stderr, "q4lite did not start\n");
    return 1;
  }
  double best_local = 0;
  double best_served = 0;
  for (int round = 0; round < kRounds; ++round) {
    long local_rows = 0;
    long served_rows = 0;
    const double local = in_process_rate(db, &local_rows);
    const double served = served_rate(port, &served_rows);
    std::printf("  round %d: in-process %.0f rows/s (%ld rows), q4lite %.0f rows/s (%ld rows)\n",
                round + 1, local, local_rows, served, served_rows);
    if (served_rows != rows || local_rows != rows) std::printf("  row count mismatch!\n");
    best_local = std::max(best_local, local);
    best_served = std::max(best_served, served);
  }
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
  std::printf("best: in-process %.0f rows/s, q4lite over loopback %.0f rows/s, ratio %.2f\n",
              best_local, best_served, best_served / best_local);
  unlink(db.c_str());
  unlink((db + "-wal").c_str());
  unlink((db + "-shm").c_str());
  unlink((std::string(dir) + "/port").c_str());
  rmdir(dir);
  return 0;
}
