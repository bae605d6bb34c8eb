// The transfers over a TLS session against an in-process OpenSSL server on a
// socket pair: requests sent while replies pile up, and a plain answer to the
// hello.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "link/tls_session.h"
#include "link/transport.h"

namespace q4 {
namespace {

// A server context with a self-signed certificate for localhost, made in memory.
SSL_CTX* make_server_context() {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), -60);
  X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
  X509_set_issuer_name(cert, name);
  X509_sign(cert, key, EVP_sha256());
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  SSL_CTX_use_certificate(context, cert);
  SSL_CTX_use_PrivateKey(context, key);
  X509_free(cert);
  EVP_PKEY_free(key);
  return context;
}

// A socket pair: the client's end non-blocking (as a link's), the server's
// blocking, served by `serve` on a thread of its own.
class TlsPair : public ::testing::Test {
 protected:
  void SetUp() override {
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    client_ = ends[0];
    server_ = ends[1];
    ASSERT_TRUE(set_blocking(client_, false));
    context_ = make_server_context();
  }
  void TearDown() override {
    if (thread_.joinable()) thread_.join();
    tls_end(session_, false);
    SSL_CTX_free(context_);
    close(client_);
    close(server_);
  }

  template <typename Serve>
  void serve(Serve body) {
    thread_ = std::thread([this, body] {
      // The server's socket writes are plain write()s: an alert written to a
      // cut socket must not stop the test with SIGPIPE (a signal a write
      // raises goes to the writing thread, and dies with it here).
      sigset_t pipe;
      sigemptyset(&pipe);
      sigaddset(&pipe, SIGPIPE);
      pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
      SSL* ssl = SSL_new(context_);
      SSL_set_fd(ssl, server_);
      if (SSL_accept(ssl) == 1) body(ssl);
      SSL_free(ssl);
    });
  }

  TlsStart connect(TlsMode mode, int wait_ms = 5000) {
    TlsStart start = tls_handshake(client_, TlsRequest{mode, "localhost", nullptr}, wait_ms);
    session_ = start.session;
    return start;
  }

  int client_ = -1;
  int server_ = -1;
  SSL_CTX* context_ = nullptr;
  ssl_st* session_ = nullptr;
  std::thread thread_;
};

// Requests sent ahead: the server writes its 4 MiB of replies before it reads
// anything, the client sends its 4 MiB of requests meanwhile. Neither side
// can finish its writes unless the client reads while its own write waits,
// which send_exact_receiving does through the session too.
TEST_F(TlsPair, SendingAheadReadsWhatTheServerSendsMeanwhile) {
  constexpr int32_t kSize = 4 << 20;
  serve([](SSL* ssl) {
    std::vector<uint8_t> data(kSize, 0x5A);
    for (int32_t at = 0; at < kSize;) {
      int sent = SSL_write(ssl, data.data() + at, kSize - at);
      if (sent <= 0) return;
      at += sent;
    }
    for (int32_t have = 0; have < kSize;) {
      int got = SSL_read(ssl, data.data(), kSize);
      if (got <= 0) return;
      have += got;
    }
  });
  ASSERT_NE(connect(TlsMode::kRequire).session, nullptr);
  // Room for every reply and more: the send never stops for want of room.
  constexpr int32_t kRoom = kSize + 65536;
  std::vector<uint8_t> requests(kSize, 0xA5), inbox(kRoom);
  int32_t received = 0;
  LinkStatus status;
  int32_t left = send_exact_receiving(requests.data(), Channel(client_, session_), kSize, 10,
                                      inbox.data(), kRoom, &received, &status);
  EXPECT_EQ(left, 0);
  EXPECT_EQ(status, LinkStatus::LINK_OK);
  // The rest of the replies, after the requests went out whole.
  while (status == LinkStatus::LINK_OK && received < kSize) {
    received += receive_available(inbox.data() + received, Channel(client_, session_),
                                  kSize - received, 10, &status);
  }
  EXPECT_EQ(received, kSize);
  EXPECT_EQ(inbox[0], 0x5A);
  EXPECT_EQ(inbox[kSize - 1], 0x5A);
}

// A peer that answers the hello with something other than TLS. (The verdicts
// on certificates in every mode, timed waits running out and a cancel's cut:
// the e2e TLS script.)
TEST_F(TlsPair, APlainAnswerToTheHello) {
  thread_ = std::thread([this] {
    uint8_t hello[512];
    (void)!read(server_, hello, sizeof hello);
    const uint8_t frame[] = {0x00, 0x08, 'E', 'x', 0, 0, 0, 0, 0, 0};
    (void)!write(server_, frame, sizeof frame);
  });
  TlsStart start = connect(TlsMode::kRequire);
  EXPECT_EQ(start.session, nullptr);
  EXPECT_NE(std::string(start.reason).find("the server does not speak TLS on this port"),
            std::string::npos)
      << start.reason;
}

}  // namespace
}  // namespace q4
