#include "link/tls_session.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "link/openssl_symbols.h"

namespace q4 {

namespace {

// OpenSSL's own socket BIO writes with write(2): a server gone away would
// raise SIGPIPE, which ends an application that did not ignore it. This BIO
// is the socket BIO with its two transfers replaced by recv and send with
// MSG_NOSIGNAL, as the plain transfers do.
int bio_read(BIO* bio, char* buffer, int size) {
  const OpenSsl& api = openssl();
  int fd = -1;
  bio_get_fd(api, bio, &fd);
  ssize_t got = recv(fd, buffer, static_cast<size_t>(size), 0);
  bio_clear_retry_flags(api, bio);
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    bio_set_retry_read(api, bio);
  }
  return static_cast<int>(got);
}

int bio_write(BIO* bio, const char* buffer, int size) {
  const OpenSsl& api = openssl();
  int fd = -1;
  bio_get_fd(api, bio, &fd);
  ssize_t sent = send(fd, buffer, static_cast<size_t>(size), MSG_NOSIGNAL);
  bio_clear_retry_flags(api, bio);
  if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    bio_set_retry_write(api, bio);
  }
  return static_cast<int>(sent);
}

BIO_METHOD* make_socket_method() {
  const OpenSsl& api = openssl();
  const BIO_METHOD* base = api.BIO_s_socket();
  BIO_METHOD* method = api.BIO_meth_new(
      api.BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "q4 socket");
  if (method == nullptr) return nullptr;
  api.BIO_meth_set_read(method, bio_read);
  api.BIO_meth_set_write(method, bio_write);
  api.BIO_meth_set_puts(method, api.BIO_meth_get_puts(base));
  api.BIO_meth_set_gets(method, api.BIO_meth_get_gets(base));
  api.BIO_meth_set_ctrl(method, api.BIO_meth_get_ctrl(base));
  api.BIO_meth_set_create(method, api.BIO_meth_get_create(base));
  api.BIO_meth_set_destroy(method, api.BIO_meth_get_destroy(base));
  api.BIO_meth_set_callback_ctrl(method, api.BIO_meth_get_callback_ctrl(base));
  return method;
}

const BIO_METHOD* socket_method() {
  // Made once per process and kept: sessions of every connection share it.
  static BIO_METHOD* method = make_socket_method();
  return method;
}

bool is_address(const char* host) {
  unsigned char address[sizeof(in6_addr)];
  return inet_pton(AF_INET, host, address) == 1 || inet_pton(AF_INET6, host, address) == 1;
}

int64_t now_ms() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Whether OpenSSL's last error is the peer's end of the stream in the middle
// of a record or a handshake (OpenSSL 3 reports it as a protocol error).
bool unexpected_end(unsigned long error) {
#ifdef SSL_R_UNEXPECTED_EOF_WHILE_READING
  return ERR_GET_LIB(error) == ERR_LIB_SSL &&
         ERR_GET_REASON(error) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
#else
  (void)error;
  return false;
#endif
}

// Why a handshake failed, in words. A certificate the verification refused
// says so first: the chain's verdict is what the user must act on.
void describe_failure(SSL* ssl, int error, int saved_errno, const TlsRequest& request, char* reason,
                      size_t size) {
  const OpenSsl& api = openssl();
  long verdict = api.SSL_get_verify_result(ssl);
  if (request.mode >= TlsMode::kVerifyCa && verdict != X509_V_OK) {
    snprintf(reason, size, "certificate verify failed: %s",
             api.X509_verify_cert_error_string(verdict));
    return;
  }
  unsigned long last = api.ERR_peek_last_error();
  const bool closed = (error == SSL_ERROR_SYSCALL && saved_errno == 0 && last == 0) ||
                      error == SSL_ERROR_ZERO_RETURN || unexpected_end(last);
  if (closed) {
    snprintf(reason, size,
             "the server closed the connection during the handshake: is it a TLS port?");
    return;
  }
  if (error == SSL_ERROR_SYSCALL && last == 0) {
    snprintf(reason, size, "%s", strerror(saved_errno));
    return;
  }
  const char* text = last != 0 ? api.ERR_reason_error_string(last) : nullptr;
  if (text == nullptr) text = "unknown TLS failure";
  // A peer that answers the hello with something not TLS.
  const bool not_tls =
      ERR_GET_LIB(last) == ERR_LIB_SSL && (ERR_GET_REASON(last) == SSL_R_WRONG_VERSION_NUMBER ||
                                           ERR_GET_REASON(last) == SSL_R_PACKET_LENGTH_TOO_LONG ||
                                           ERR_GET_REASON(last) == SSL_R_RECORD_LENGTH_MISMATCH);
  snprintf(reason, size, "%s%s", text,
           not_tls ? ": the server does not speak TLS on this port" : "");
}

// A session's context: the client method, TLS 1.2 at least, and the
// verification the mode asks for. Null with *reason on failure.
SSL_CTX* make_context(const TlsRequest& request, char* reason, size_t size) {
  const OpenSsl& api = openssl();
  SSL_CTX* context = api.SSL_CTX_new(api.TLS_client_method());
  if (context == nullptr) {
    const char* why = api.ERR_reason_error_string(api.ERR_peek_last_error());
    snprintf(reason, size, "no TLS context: %s", why != nullptr ? why : "out of memory");
    return nullptr;
  }
  ctx_set_min_proto_version(api, context, TLS1_2_VERSION);
  // Records are read from the socket in bulk, not a header and a body at a
  // time: two system calls a record fewer. What is read ahead stays in the
  // session, and every wait here comes only after SSL_read asked for more.
  ctx_set_read_ahead(api, context, 1);
  if (request.mode < TlsMode::kVerifyCa) {
    api.SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    return context;
  }
  api.SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  const bool own_roots = request.root_cert != nullptr && request.root_cert[0] != '\0';
  if (own_roots) {
    // The file is opened here first for the system's own words on a missing
    // or unreadable one; OpenSSL's queue would say "system lib".
    FILE* file = fopen(request.root_cert, "r");
    const char* why = file == nullptr ? strerror(errno) : nullptr;
    if (file != nullptr) fclose(file);
    if (why == nullptr &&
        api.SSL_CTX_load_verify_locations(context, request.root_cert, nullptr) != 1) {
      why = "no PEM certificate in the file";
    }
    if (why != nullptr) {
      snprintf(reason, size, "cannot read the trusted roots in %s: %s", request.root_cert, why);
      api.ERR_clear_error();
      api.SSL_CTX_free(context);
      return nullptr;
    }
  } else {
    api.SSL_CTX_set_default_verify_paths(context);
  }
  return context;
}

// The session over `socket`, set up for the host. Null with *reason.
SSL* make_session(SSL_CTX* context, int socket, const TlsRequest& request, char* reason,
                  size_t size) {
  const OpenSsl& api = openssl();
  SSL* ssl = api.SSL_new(context);
  const BIO_METHOD* method = socket_method();
  BIO* bio = method != nullptr ? api.BIO_new(method) : nullptr;
  if (ssl == nullptr || bio == nullptr) {
    snprintf(reason, size, "no memory for the TLS session");
    if (bio != nullptr) api.BIO_free(bio);
    if (ssl != nullptr) api.SSL_free(ssl);
    return nullptr;
  }
  bio_set_fd(api, bio, socket, BIO_NOCLOSE);
  api.SSL_set_bio(ssl, bio, bio);
  // Writes of the pipeline's outbox may be taken in part, like send(), and
  // retried from wherever the caller's buffer then is.
  ssl_set_mode(api, ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  const char* host = request.host != nullptr ? request.host : "";
  const bool address = is_address(host);
  if (!address && host[0] != '\0') ssl_set_host_name(api, ssl, host);
  if (request.mode == TlsMode::kVerifyFull) {
    X509_VERIFY_PARAM* param = api.SSL_get0_param(ssl);
    api.X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    const int set = address ? api.X509_VERIFY_PARAM_set1_ip_asc(param, host)
                            : api.X509_VERIFY_PARAM_set1_host(param, host, 0);
    if (set != 1) {
      snprintf(reason, size, "cannot check the host name \"%s\"", host);
      api.SSL_free(ssl);
      return nullptr;
    }
  }
  return ssl;
}

// Waits for the direction a transfer asked for. False with *status set when
// the wait ran out or failed.
bool wait_turn(SSL* ssl, int error, int timed_ms, LinkStatus* status) {
  const OpenSsl& api = openssl();
  short events = error == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN;
  SocketWait wait = wait_for_socket(api.SSL_get_fd(ssl), events, timed_ms);
  if (wait == SocketWait::kReady) return true;
  *status = wait == SocketWait::kTimeout ? LinkStatus::LINK_TIMEOUT : LinkStatus::LINK_FAILED;
  return false;
}

bool wants_turn(int error) {
  return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE;
}

// The LinkStatus of a transfer that failed with `error` (errno as it was
// right after the call in `saved_errno`). The session is not used again.
LinkStatus failure_status(int error, int saved_errno) {
  const OpenSsl& api = openssl();
  LinkStatus status = LinkStatus::LINK_FAILED;
  if (error == SSL_ERROR_ZERO_RETURN) {
    status = LinkStatus::LINK_CLOSED;
  } else if (error == SSL_ERROR_SYSCALL) {
    status = saved_errno == 0 ? LinkStatus::LINK_CLOSED : link_status_for_errno(saved_errno);
  } else if (error == SSL_ERROR_SSL && unexpected_end(api.ERR_peek_last_error())) {
    status = LinkStatus::LINK_CLOSED;
  }
  api.ERR_clear_error();
  return status;
}

// One loop for both directions, as transfer_exact of the plain transfers.
template <typename Transfer>
int32_t tls_transfer(SSL* ssl, int32_t count, int timed_ms, LinkStatus* status, Transfer transfer) {
  const OpenSsl& api = openssl();
  *status = LinkStatus::LINK_OK;
  if (count <= 0) return count;
  int32_t remaining = count;
  while (remaining > 0) {
    api.ERR_clear_error();
    int done = transfer(count - remaining, remaining);
    if (done > 0) {
      remaining -= done;
      continue;
    }
    int saved_errno = errno;
    int error = api.SSL_get_error(ssl, done);
    if (wants_turn(error)) {
      if (!wait_turn(ssl, error, timed_ms, status)) return remaining;
      continue;
    }
    *status = failure_status(error, saved_errno);
    return remaining;
  }
  return 0;
}

int timed_limit(uint32_t wait_seconds) {
  return wait_seconds == 0 ? -1 : limit_milliseconds(wait_seconds);
}

}  // namespace

TlsStart tls_handshake(int socket, const TlsRequest& request, int wait_milliseconds) {
  TlsStart start;
  start.setup_failed = true;
  // The first TLS link of the process loads OpenSSL (link/openssl_symbols.h).
  const OpenSsl* loaded = load_openssl(start.reason, sizeof start.reason);
  if (loaded == nullptr) {
    start.library_missing = true;
    return start;
  }
  const OpenSsl& api = *loaded;
  // A handshake is several small flights, and a TLS link writes a record per
  // transfer (a frame, an acknowledgement byte): with Nagle's rule a small
  // record waits for the peer's delayed acknowledgement of the one before,
  // 40 ms a time. A plain link sends each frame whole and is left as it is.
  int on = 1;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  api.ERR_clear_error();
  SSL_CTX* context = make_context(request, start.reason, sizeof start.reason);
  if (context == nullptr) return start;
  SSL* ssl = make_session(context, socket, request, start.reason, sizeof start.reason);
  // The session holds its own reference to the context.
  api.SSL_CTX_free(context);
  if (ssl == nullptr) return start;
  start.setup_failed = false;

  const int64_t deadline = now_ms() + wait_milliseconds;
  for (;;) {
    api.ERR_clear_error();
    int result = api.SSL_connect(ssl);
    if (result == 1) break;
    int saved_errno = errno;
    int error = api.SSL_get_error(ssl, result);
    if (wants_turn(error)) {
      int64_t left = deadline - now_ms();
      short events = error == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN;
      SocketWait wait = left <= 0 ? SocketWait::kTimeout
                                  : wait_for_socket(socket, events, static_cast<int>(left));
      if (wait == SocketWait::kReady) continue;
      if (wait == SocketWait::kTimeout) {
        snprintf(start.reason, sizeof start.reason,
                 "no TLS answer from the server within %d seconds: is it a TLS port?",
                 (wait_milliseconds + 999) / 1000);
      } else {
        snprintf(start.reason, sizeof start.reason, "the wait for the server failed");
      }
    } else {
      describe_failure(ssl, error, saved_errno, request, start.reason, sizeof start.reason);
    }
    api.ERR_clear_error();
    api.SSL_free(ssl);
    return start;
  }
  snprintf(start.protocol, sizeof start.protocol, "%s", api.SSL_get_version(ssl));
  snprintf(start.cipher, sizeof start.cipher, "%s", ssl_cipher_name(api, ssl));
  start.session = ssl;
  return start;
}

void tls_end(ssl_st* session, bool notify) {
  const OpenSsl& api = openssl();
  if (session == nullptr) return;
  if (notify) {
    api.ERR_clear_error();
    api.SSL_shutdown(session);
  }
  api.SSL_free(session);
  api.ERR_clear_error();
}

int32_t tls_receive_exact(ssl_st* session, void* buffer, int32_t count, int timed_ms,
                          LinkStatus* status) {
  const OpenSsl& api = openssl();
  char* bytes = static_cast<char*>(buffer);
  return tls_transfer(session, count, timed_ms, status,
                      [&](int32_t at, int32_t n) { return api.SSL_read(session, bytes + at, n); });
}

int32_t tls_send_exact(ssl_st* session, const void* buffer, int32_t count, int timed_ms,
                       LinkStatus* status) {
  const OpenSsl& api = openssl();
  const char* bytes = static_cast<const char*>(buffer);
  return tls_transfer(session, count, timed_ms, status,
                      [&](int32_t at, int32_t n) { return api.SSL_write(session, bytes + at, n); });
}

int32_t tls_send_receiving(ssl_st* session, const void* buffer, int32_t count,
                           uint32_t wait_seconds, uint8_t* inbox, int32_t room, int32_t* received,
                           LinkStatus* status) {
  const OpenSsl& api = openssl();
  *status = LinkStatus::LINK_OK;
  if (count <= 0) return count;
  const int timed_ms = timed_limit(wait_seconds);
  const char* bytes = static_cast<const char*>(buffer);
  int32_t remaining = count;
  while (remaining > 0) {
    api.ERR_clear_error();
    int sent = api.SSL_write(session, bytes + (count - remaining), remaining);
    if (sent > 0) {
      remaining -= sent;
      continue;
    }
    int saved_errno = errno;
    int error = api.SSL_get_error(session, sent);
    if (!wants_turn(error)) {
      *status = failure_status(error, saved_errno);
      return remaining;
    }
    // The write must wait: take in what the server sent meanwhile (it may
    // be answering earlier requests and waiting for its replies to be read),
    // then wait until either direction can move.
    if (room - *received <= 0) return remaining;
    api.ERR_clear_error();
    int got = api.SSL_read(session, inbox + *received, room - *received);
    if (got > 0) {
      *received += got;
      continue;
    }
    saved_errno = errno;
    error = api.SSL_get_error(session, got);
    if (!wants_turn(error)) {
      *status = failure_status(error, saved_errno);
      return remaining;
    }
    SocketWait wait = wait_for_socket(api.SSL_get_fd(session), POLLIN | POLLOUT, timed_ms);
    if (wait != SocketWait::kReady) {
      *status = wait == SocketWait::kTimeout ? LinkStatus::LINK_TIMEOUT : LinkStatus::LINK_FAILED;
      return remaining;
    }
  }
  return 0;
}

int32_t tls_receive_available(ssl_st* session, void* buffer, int32_t capacity,
                              uint32_t wait_seconds, LinkStatus* status) {
  const OpenSsl& api = openssl();
  *status = LinkStatus::LINK_OK;
  if (capacity <= 0) {
    *status = LinkStatus::LINK_FAILED;
    return 0;
  }
  const int timed_ms = timed_limit(wait_seconds);
  for (;;) {
    api.ERR_clear_error();
    int got = api.SSL_read(session, buffer, capacity);
    if (got > 0) return got;
    int saved_errno = errno;
    int error = api.SSL_get_error(session, got);
    if (!wants_turn(error)) {
      *status = failure_status(error, saved_errno);
      return 0;
    }
    if (!wait_turn(session, error, timed_ms, status)) return 0;
  }
}

}  // namespace q4
