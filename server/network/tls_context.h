// The server's TLS side: the certificate and key it serves, read from their
// files at start and again on request (SIGHUP), and the server handshake of
// each accepted connection.
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <mutex>
#include <string>

namespace q4::lite {

class TlsContext {
 public:
  TlsContext(std::string cert_file, std::string key_file)
      : cert_file_(std::move(cert_file)), key_file_(std::move(key_file)) {}

  // Reads the certificate chain and the key. On failure (a file missing or
  // unreadable, not PEM, a key that is not the certificate's) *error names
  // the file and the reason, and the context served so far stays.
  bool load(std::string* error);

  // The context new connections get. A connection's session keeps a
  // reference to the context it started with, so a reload changes nothing
  // for connections already open.
  std::shared_ptr<SSL_CTX> current() const;

  // The server handshake on the accepted, blocking socket `fd`, waiting at
  // most `wait_ms` for the client. The session on success; null with
  // *reason otherwise (a client speaking plain text, a silent one, a client
  // that refused the certificate).
  SSL* accept(int fd, int wait_ms, std::string* reason) const;

  // The agreed version and cipher of a session, for the connection's log line.
  static std::string describe(SSL* session);

 private:
  std::string cert_file_;
  std::string key_file_;
  mutable std::mutex mutex_;
  std::shared_ptr<SSL_CTX> context_;
};

}  // namespace q4::lite
