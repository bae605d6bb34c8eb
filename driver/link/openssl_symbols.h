// OpenSSL, loaded when a link first asks for TLS rather than linked.
//
// Most connections are plain, and a process that only ever opens plain links
// should not pay for mapping and relocating libssl and libcrypto (several
// million instructions at start-up: a large share of a short-lived program
// such as isql in a script). So the driver names no OpenSSL library among
// its dependencies: the first TLS handshake opens libssl.so.3 (libcrypto
// comes with it) and resolves every function link/tls_session.cpp calls into
// one table, kept for the rest of the process.
//
// OpenSSL's headers are still used for the types and constants; the ABI they
// describe must be the one of the library opened, hence OpenSSL 3 on both
// sides.
#pragma once

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/opensslv.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstddef>

static_assert(OPENSSL_VERSION_MAJOR == 3,
              "the driver opens libssl.so.3: build against OpenSSL 3's headers");

namespace q4 {

// The shared object opened at the first TLS handshake.
inline constexpr const char kOpenSslLibrary[] = "libssl.so.3";

// Every OpenSSL function the driver calls. ERR_GET_LIB and ERR_GET_REASON are
// inline functions of OpenSSL 3's headers and need no entry; the macros that
// expand to calls are written out below, over these entries.
#define Q4_OPENSSL_FUNCTIONS(X)       \
  X(BIO_clear_flags)                  \
  X(BIO_ctrl)                         \
  X(BIO_free)                         \
  X(BIO_get_new_index)                \
  X(BIO_int_ctrl)                     \
  X(BIO_meth_get_callback_ctrl)       \
  X(BIO_meth_get_create)              \
  X(BIO_meth_get_ctrl)                \
  X(BIO_meth_get_destroy)             \
  X(BIO_meth_get_gets)                \
  X(BIO_meth_get_puts)                \
  X(BIO_meth_new)                     \
  X(BIO_meth_set_callback_ctrl)       \
  X(BIO_meth_set_create)              \
  X(BIO_meth_set_ctrl)                \
  X(BIO_meth_set_destroy)             \
  X(BIO_meth_set_gets)                \
  X(BIO_meth_set_puts)                \
  X(BIO_meth_set_read)                \
  X(BIO_meth_set_write)               \
  X(BIO_new)                          \
  X(BIO_s_socket)                     \
  X(BIO_set_flags)                    \
  X(ERR_clear_error)                  \
  X(ERR_peek_last_error)              \
  X(ERR_reason_error_string)          \
  X(SSL_CIPHER_get_name)              \
  X(SSL_CTX_ctrl)                     \
  X(SSL_CTX_free)                     \
  X(SSL_CTX_load_verify_locations)    \
  X(SSL_CTX_new)                      \
  X(SSL_CTX_set_default_verify_paths) \
  X(SSL_CTX_set_verify)               \
  X(SSL_connect)                      \
  X(SSL_ctrl)                         \
  X(SSL_free)                         \
  X(SSL_get0_param)                   \
  X(SSL_get_current_cipher)           \
  X(SSL_get_error)                    \
  X(SSL_get_fd)                       \
  X(SSL_get_verify_result)            \
  X(SSL_get_version)                  \
  X(SSL_new)                          \
  X(SSL_read)                         \
  X(SSL_set_bio)                      \
  X(SSL_shutdown)                     \
  X(SSL_write)                        \
  X(TLS_client_method)                \
  X(X509_VERIFY_PARAM_set1_host)      \
  X(X509_VERIFY_PARAM_set1_ip_asc)    \
  X(X509_VERIFY_PARAM_set_hostflags)  \
  X(X509_verify_cert_error_string)

// The table. Each entry carries OpenSSL's own name and the exact type its
// header declares, so a call through the table reads (and is checked) like
// the direct call it replaces.
struct OpenSsl {
#define Q4_OPENSSL_ENTRY(name) decltype(&::name) name;
  Q4_OPENSSL_FUNCTIONS(Q4_OPENSSL_ENTRY)
#undef Q4_OPENSSL_ENTRY
};

// The table, loading OpenSSL first if no handshake has yet. Safe from any
// thread; the library is opened once and never closed. Null when it cannot
// be loaded, with `reason` naming the library and the loader's words
// ("libssl.so.3: cannot open shared object file: No such file or directory");
// a later call tries again.
const OpenSsl* load_openssl(char* reason, size_t size);

// The loaded table. Only for code that holds a session (or a context): one
// exists only after load_openssl succeeded.
const OpenSsl& openssl();

#ifdef Q4_TEST_SEAMS
// Makes the next load_openssl open `library` (null: the real one) as if
// nothing had been loaded yet. Sessions already made keep working: the table
// they use is replaced only by a load that succeeds.
void openssl_library_for_tests(const char* library);
#endif

// OpenSSL's macros that expand to calls, as the same calls through the table.
// Each repeats its macro's expansion in OpenSSL 3's headers (named in the
// comment). The handshakes of tests/e2e/tls_test.py go through every one.

// SSL_CTX_set_min_proto_version
inline long ctx_set_min_proto_version(const OpenSsl& api, SSL_CTX* context, int version) {
  return api.SSL_CTX_ctrl(context, SSL_CTRL_SET_MIN_PROTO_VERSION, version, nullptr);
}
// SSL_CTX_set_read_ahead
inline long ctx_set_read_ahead(const OpenSsl& api, SSL_CTX* context, int yes) {
  return api.SSL_CTX_ctrl(context, SSL_CTRL_SET_READ_AHEAD, yes, nullptr);
}
// SSL_set_mode
inline long ssl_set_mode(const OpenSsl& api, SSL* ssl, long mode) {
  return api.SSL_ctrl(ssl, SSL_CTRL_MODE, mode, nullptr);
}
// SSL_set_tlsext_host_name
inline long ssl_set_host_name(const OpenSsl& api, SSL* ssl, const char* name) {
  return api.SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                      const_cast<char*>(name));
}
// SSL_get_cipher_name
inline const char* ssl_cipher_name(const OpenSsl& api, const SSL* ssl) {
  return api.SSL_CIPHER_get_name(api.SSL_get_current_cipher(ssl));
}
// BIO_get_fd
inline long bio_get_fd(const OpenSsl& api, BIO* bio, int* fd) {
  return api.BIO_ctrl(bio, BIO_C_GET_FD, 0, fd);
}
// BIO_set_fd
inline long bio_set_fd(const OpenSsl& api, BIO* bio, int fd, int close_flag) {
  return api.BIO_int_ctrl(bio, BIO_C_SET_FD, close_flag, fd);
}
// BIO_clear_retry_flags
inline void bio_clear_retry_flags(const OpenSsl& api, BIO* bio) {
  api.BIO_clear_flags(bio, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
}
// BIO_set_retry_read
inline void bio_set_retry_read(const OpenSsl& api, BIO* bio) {
  api.BIO_set_flags(bio, BIO_FLAGS_READ | BIO_FLAGS_SHOULD_RETRY);
}
// BIO_set_retry_write
inline void bio_set_retry_write(const OpenSsl& api, BIO* bio) {
  api.BIO_set_flags(bio, BIO_FLAGS_WRITE | BIO_FLAGS_SHOULD_RETRY);
}

}  // namespace q4
