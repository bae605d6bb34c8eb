#include "server/network/tls_context.h"

#include <openssl/err.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace q4::lite {

namespace {

// OpenSSL's reason for its last error, emptied from the thread's queue. A
// file that holds no PEM block of the kind wanted says so in words (OpenSSL
// says "PEM lib" or "no start line").
std::string openssl_reason(const char* pem_kind = nullptr) {
  const unsigned long last = ERR_peek_last_error();
  ERR_clear_error();
  if (last == 0) return "unknown reason";
  const bool pem = ERR_GET_LIB(last) == ERR_LIB_PEM || ERR_GET_REASON(last) == ERR_R_PEM_LIB;
  if (pem && pem_kind != nullptr) return std::string("no PEM ") + pem_kind + " in the file";
  if (ERR_GET_LIB(last) == ERR_LIB_SYS) return std::strerror(ERR_GET_REASON(last));
  const char* text = ERR_reason_error_string(last);
  return text != nullptr ? text : "unknown reason";
}

// Whether `path` can be opened for reading; *error says why not, naming it.
bool readable(const std::string& what, const std::string& path, std::string* error) {
  FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) {
    *error = "cannot read the " + what + " " + path + ": " + std::strerror(errno);
    return false;
  }
  std::fclose(file);
  return true;
}

void set_receive_timeout(int fd, int wait_ms) {
  timeval limit{wait_ms / 1000, (wait_ms % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

}  // namespace

bool TlsContext::load(std::string* error) {
  if (!readable("certificate", cert_file_, error) || !readable("key", key_file_, error)) {
    return false;
  }
  ERR_clear_error();
  std::shared_ptr<SSL_CTX> context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
  if (!context) {
    *error = "cannot make a TLS context: " + openssl_reason();
    return false;
  }
  SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
  // No renegotiation (TLS 1.2) and no tickets to keep: every connection runs
  // its own full handshake, which is what the connects benchmark measures.
  SSL_CTX_set_options(context.get(), SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_TICKET);
  SSL_CTX_set_num_tickets(context.get(), 0);
  // AES-128-GCM first: as safe for this use, and a third cheaper per byte
  // than AES-256 on both sides of a long fetch. The client's list decides
  // only between suites the server ranks equal.
  SSL_CTX_set_options(context.get(), SSL_OP_CIPHER_SERVER_PREFERENCE);
  SSL_CTX_set_ciphersuites(context.get(),
                           "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:"
                           "TLS_CHACHA20_POLY1305_SHA256");
  if (SSL_CTX_use_certificate_chain_file(context.get(), cert_file_.c_str()) != 1) {
    *error = "cannot use the certificate " + cert_file_ + ": " + openssl_reason("certificate");
    return false;
  }
  if (SSL_CTX_use_PrivateKey_file(context.get(), key_file_.c_str(), SSL_FILETYPE_PEM) != 1) {
    // OpenSSL checks the pair as it takes the key: a mismatch is told apart.
    if (ERR_GET_REASON(ERR_peek_last_error()) != X509_R_KEY_VALUES_MISMATCH) {
      *error = "cannot use the key " + key_file_ + ": " + openssl_reason("private key");
      return false;
    }
    ERR_clear_error();
    *error = "the key " + key_file_ + " does not match the certificate " + cert_file_;
    return false;
  }
  if (SSL_CTX_check_private_key(context.get()) != 1) {
    ERR_clear_error();
    *error = "the key " + key_file_ + " does not match the certificate " + cert_file_;
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  context_ = std::move(context);
  return true;
}

std::shared_ptr<SSL_CTX> TlsContext::current() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return context_;
}

SSL* TlsContext::accept(int fd, int wait_ms, std::string* reason) const {
  std::shared_ptr<SSL_CTX> context = current();
  ERR_clear_error();
  SSL* session = context ? SSL_new(context.get()) : nullptr;
  if (session == nullptr) {
    *reason = "no TLS session: " + openssl_reason();
    return nullptr;
  }
  // Writes go through a buffer that SocketChannel flushes after each reply
  // write: a 20 KB frame is two records, sent with one system call rather
  // than two, so that the client wakes once for it.
  BIO* socket_bio = BIO_new_socket(fd, BIO_NOCLOSE);
  BIO* buffer = BIO_new(BIO_f_buffer());
  if (socket_bio == nullptr || buffer == nullptr) {
    BIO_free(socket_bio);
    BIO_free(buffer);
    SSL_free(session);
    *reason = "no memory for the TLS session";
    return nullptr;
  }
  BIO_set_write_buffer_size(buffer, 65536);
  BIO_up_ref(socket_bio);  // one reference for reading, one inside the write chain
  SSL_set_bio(session, socket_bio, BIO_push(buffer, socket_bio));
  // A client that connects and says nothing must not hold its thread: the
  // handshake's reads and writes are bounded, and the bound lifted after.
  set_receive_timeout(fd, wait_ms);
  const int result = SSL_accept(session);
  if (result != 1) {
    const int saved_errno = errno;
    const int error = SSL_get_error(session, result);
    if (error == SSL_ERROR_SYSCALL && ERR_peek_last_error() == 0) {
      *reason = saved_errno == EAGAIN || saved_errno == EWOULDBLOCK
                    ? "no TLS hello within the time limit"
                : saved_errno == 0 ? "the client closed the connection"
                                   : std::strerror(saved_errno);
    } else {
      *reason = openssl_reason();
    }
    SSL_free(session);
    return nullptr;
  }
  set_receive_timeout(fd, 0);
  return session;
}

std::string TlsContext::describe(SSL* session) {
  return std::string(SSL_get_version(session)) + " " + SSL_get_cipher_name(session);
}

}  // namespace q4::lite
