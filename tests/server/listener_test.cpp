// The listener of network/: in-process with conversations of the test's own
// (it knows nothing of sessions), and through build/q4lite, whose program
// gives it sessions and the refusal past the connection limit.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "protocol_client.h"
#include "server/network/listener.h"

namespace q4::test {
namespace {

using Clock = std::chrono::steady_clock;

// Answers the first request with "K" and the command byte, then waits for
// interrupt().
class EchoConversation : public lite::Conversation {
 public:
  EchoConversation(lite::Channel& channel, std::atomic<int>* interrupted)
      : link_(channel, 4096), interrupted_(interrupted) {}

  std::string run() override {
    lite::Request request;
    if (link_.read_request(&request) != lite::ReadStatus::kOk ||
        !link_.send_status("K" + request.command)) {
      return "no request";
    }
    std::unique_lock<std::mutex> lock(mutex_);
    // Bounded, so that a missing interrupt fails the test instead of hanging it.
    woken_.wait_for(lock, std::chrono::seconds(10), [this] { return stop_; });
    return "answered";
  }
  void interrupt() override {
    ++*interrupted_;
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    woken_.notify_all();
  }

 private:
  lite::Link link_;
  std::atomic<int>* interrupted_;
  std::mutex mutex_;
  std::condition_variable woken_;
  bool stop_ = false;
};

// SIGTERM, then the exit status (-1 after a signal) within `limit`; past it
// the process is killed and -2 returned, so that a server that does not stop
// fails the test instead of hanging it.
int stop_within(ServerProcess& server, std::chrono::seconds limit) {
  if (server.pid_ <= 0 || kill(server.pid_, SIGTERM) != 0) return -1;
  const Clock::time_point end = Clock::now() + limit;
  int status = 0;
  while (waitpid(server.pid_, &status, WNOHANG) == 0) {
    if (Clock::now() > end) {
      kill(server.pid_, SIGKILL);
      waitpid(server.pid_, &status, 0);
      server.pid_ = -1;
      return -2;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  server.pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct RunningListener {
  RunningListener() {
    settings.port = 0;
    settings.quiet = true;
    settings.refusal = "Eno room";
    listener = std::make_unique<lite::Listener>(settings, [this](lite::Channel& channel) {
      ++started;
      return std::make_unique<EchoConversation>(channel, &interrupted);
    });
    std::string error;
    ok = listener->start(&error);
    EXPECT_TRUE(ok) << error;
    if (ok) thread = std::thread([this] { listener->run(); });
  }
  ~RunningListener() { stop(); }
  void stop() {
    if (!thread.joinable()) return;
    listener->stop();
    thread.join();
  }

  lite::ListenerSettings settings;
  std::unique_ptr<lite::Listener> listener;
  std::atomic<int> started{0};
  std::atomic<int> interrupted{0};
  std::thread thread;
  bool ok = false;
};

// Each connection gets a conversation of its own over its socket. At shutdown
// a conversation that does not read its socket (a session inside a SQLite
// call) is interrupted, and the listener returns once it has ended.
TEST(Listener, ConversationsOfTheirOwnAllInterruptedAtShutdown) {
  RunningListener running;
  ASSERT_TRUE(running.ok);
  Client a, b;
  ASSERT_TRUE(a.connect(running.listener->port()));
  ASSERT_TRUE(b.connect(running.listener->port()));
  EXPECT_EQ(a.call(kCmdFetch, {}).status, "K\x02");
  EXPECT_EQ(b.call(kCmdExecute, {1, 2, 3}).status, "K\x07");
  EXPECT_EQ(running.started.load(), 2);
  const Clock::time_point start = Clock::now();
  running.stop();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(running.interrupted.load(), 2);
  EXPECT_TRUE(a.closed_by_peer(1000));
}

// q4lite with room for one connection: the second is answered at its logon
// with the session's refusal while the first works on; past twice the limit a
// connection is closed unanswered. Once the first has gone, there is room.
TEST(Listener, ConnectionsPastTheLimitAreRefusedAtLogon) {
  auto server = start_server({"--max-connections", "1"});
  ASSERT_TRUE(server);
  Client first;
  ASSERT_TRUE(first.connect(server->port(), true));
  auto second = std::make_unique<Client>();
  ASSERT_TRUE(second->connect(server->port()));
  Client third;
  ASSERT_TRUE(third.connect(server->port()));
  EXPECT_TRUE(third.closed_by_peer(3000));
  EXPECT_EQ(second->logon().status, "ELogon failed: too many connections");
  EXPECT_TRUE(second->closed_by_peer(3000));
  EXPECT_EQ(first.execute(1, "SELECT 1").letter(), 'K');
  second.reset();
  first.call(kCmdDisconnect, {});
  bool room = false;
  for (int attempt = 0; attempt < 100 && !room; ++attempt) {  // the first's thread ends soon
    Client later;
    room = later.connect(server->port()) && later.logon().letter() == 'K';
    if (!room) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(room);
}

// SIGTERM while a statement runs without end: the session's SQLite call is
// interrupted and q4lite exits with status 0.
TEST(Listener, StopInterruptsARunningStatement) {
  auto server = start_server();
  ASSERT_TRUE(server);
  Client client;
  ASSERT_TRUE(client.connect(server->port(), true));
  ASSERT_TRUE(client.send(
      kCmdExecute,
      Client::execute_payload(1,
                              "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) "
                              "SELECT count(*) FROM n")));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(stop_within(*server, std::chrono::seconds(10)), 0);
}

}  // namespace
}  // namespace q4::test
