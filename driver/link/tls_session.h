// TLS between the socket and the frames: the client handshake that turns a
// connected socket into an encrypted channel (OpenSSL), and the transfers
// over it that link/transport.cpp hands an encrypted channel to.
//
// The protocol has no step that asks for encryption: a TLS link speaks TLS
// from its first byte, and a handshake that fails ends the connection. There
// is never a fall back to plain text.
//
// The session's socket stays non-blocking for the link's whole life: a TLS
// read may have to write (and a write to read) before it can go on, which
// only SSL_ERROR_WANT_READ / WANT_WRITE and a poll() for the direction asked
// can follow. A cancel still cuts every wait by shutting the socket down
// (link/cancellable_wait.h): poll() returns, the session reads the end of the
// stream, and the transfer fails like a plain one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/transport.h"

namespace q4 {

// How a link protects itself (the SSLMode setting).
enum class TlsMode : uint8_t {
  kDisable,     // plain TCP
  kRequire,     // TLS, the server's certificate not checked
  kVerifyCa,    // TLS, the certificate's chain verified against the trusted roots
  kVerifyFull,  // kVerifyCa, and the host name matched against the certificate
};

struct TlsRequest {
  TlsMode mode;
  // The server name as the connection names it: matched with kVerifyFull (an
  // address against the certificate's IP entries, a name against its DNS
  // entries) and sent as the server name indication when it is a name.
  const char* host;
  // A PEM file of trusted roots; null or empty: the system's store.
  const char* root_cert;
};

// What a handshake brought: the session, or why there is none.
struct TlsStart {
  ssl_st* session = nullptr;  // null on failure
  // Failed before a byte went to the server: the trusted roots could not be
  // read, or the session could not be made. Else a failed handshake.
  bool setup_failed = false;
  // With setup_failed: OpenSSL itself could not be loaded (the reason names
  // the library and the loader's words).
  bool library_missing = false;
  // On failure: OpenSSL's reason in words (a certificate's verification
  // error, a protocol error, the server's silence or its close).
  char reason[256] = {};
  // On success: the protocol version and cipher agreed on ("TLSv1.3",
  // "TLS_AES_256_GCM_SHA384").
  char protocol[16] = {};
  char cipher[64] = {};
};

// Runs the client handshake on the connected, non-blocking `socket`, waiting
// at most `wait_milliseconds` for it altogether. TLS 1.2 is the oldest
// version offered. The session does not own the socket.
TlsStart tls_handshake(int socket, const TlsRequest& request, int wait_milliseconds);

// Ends the session. `notify`: the link is in step, so the server is told
// (one close_notify, never waited for); a broken link is simply left.
void tls_end(ssl_st* session, bool notify);

// The transfers of link/transport.h over a session. `timed_ms` < 0 waits
// without limit, else each wait at most that long. Same returns and statuses
// as the plain forms: an orderly or abrupt end of the stream is LINK_CLOSED,
// a broken record LINK_FAILED.
int32_t tls_receive_exact(ssl_st* session, void* buffer, int32_t count, int timed_ms,
                          LinkStatus* status);
int32_t tls_send_exact(ssl_st* session, const void* buffer, int32_t count, int timed_ms,
                       LinkStatus* status);
int32_t tls_send_receiving(ssl_st* session, const void* buffer, int32_t count,
                           uint32_t wait_seconds, uint8_t* inbox, int32_t room, int32_t* received,
                           LinkStatus* status);
int32_t tls_receive_available(ssl_st* session, void* buffer, int32_t capacity,
                              uint32_t wait_seconds, LinkStatus* status);

}  // namespace q4
