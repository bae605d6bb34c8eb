// OpenSSL opened at the first TLS connect (link/openssl_symbols.h): a library
// that cannot be loaded fails a TLS connect clearly, sending nothing, while a
// later connect may still load it. (The calls written out for OpenSSL's
// macros are used by every handshake of the e2e TLS script.)
//
// A missing libssl is played by pointing the loader at another name through
// a test seam: the library cannot be hidden from a process honestly (it is in
// the system's own folders, which LD_LIBRARY_PATH does not mask), and the
// failure path is the loader's answer either way.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "link/openssl_symbols.h"
#include "link/tls_session.h"
#include "result_fixture.h"

namespace q4::wire {
namespace {

// A listening socket on the loopback that never answers.
class SilentListener {
 public:
  SilentListener() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), size), 0);
    EXPECT_EQ(listen(fd_, 4), 0);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~SilentListener() { close(fd_); }
  uint16_t port() const { return port_; }
  // The bytes the first connection sent before it closed ("" when none).
  std::string first_connection_bytes() {
    int peer = accept(fd_, nullptr, nullptr);
    if (peer < 0) return "(no connection)";
    timeval limit{5, 0};
    setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string bytes;
    char buffer[512];
    for (ssize_t got; (got = recv(peer, buffer, sizeof buffer, 0)) > 0;) bytes.append(buffer, got);
    close(peer);
    return bytes;
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// The connect as an application makes it, with the library the loader is
// pointed at: a name nothing answers to, a library without OpenSSL's
// functions. The message names the library and the loader's own words;
// nothing reaches the server, no socket stays open, and the real library
// still loads afterwards.
TEST(OpenSslLoading, ALibraryThatCannotBeLoadedFailsTheTlsConnectClearly) {
  const std::string head =
      "08001 TLS could not be set up: OpenSSL 3 is needed and could not be loaded (";
  const std::string tail = "). Install it (Debian: libssl3).";
  struct Case {
    const char* library;
    std::string reason;  // the start of what the loader said
    const char* loader_words;
  } cases[] = {
      {"libq4-absent-ssl.so.3", "cannot load libq4-absent-ssl.so.3: libq4-absent-ssl.so.3: ",
       "cannot open shared object file"},
      {"libc.so.6", "libc.so.6 has no BIO_clear_flags: ", "undefined symbol: BIO_clear_flags"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.library);
    openssl_library_for_tests(c.library);
    SilentListener server;
    const std::string input = "DRIVER=x;SERVER=127.0.0.1;PORT=" + std::to_string(server.port()) +
                              ";UID=joe;PWD=Pw-Secret-17;SSLMode=require;LoginTimeout=5";
    ConnectionRecord conn;
    const int users = socket_layer_users();
    EXPECT_EQ(SQLDriverConnect(conn.get(), nullptr, sql_text(input.c_str()), SQL_NTS, nullptr, 0,
                               nullptr, SQL_DRIVER_NOPROMPT),
              SQL_ERROR);
    const std::string diagnostic = conn.sqlstate() + " " + conn.message();
    EXPECT_EQ(diagnostic.rfind(head + c.reason, 0), 0u) << diagnostic;
    EXPECT_NE(diagnostic.find(c.loader_words), std::string::npos) << diagnostic;
    EXPECT_EQ(diagnostic.substr(diagnostic.size() - std::min(diagnostic.size(), tail.size())),
              tail);
    EXPECT_EQ(socket_layer_users(), users) << "a socket was left open";
    EXPECT_EQ(server.first_connection_bytes(), "") << "bytes went to the server";
  }
  openssl_library_for_tests(nullptr);
  char reason[256] = {};
  EXPECT_NE(load_openssl(reason, sizeof reason), nullptr) << reason;
}

}  // namespace
}  // namespace q4::wire
