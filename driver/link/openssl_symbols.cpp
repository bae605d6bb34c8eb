#include "link/openssl_symbols.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdio>

#include "platform/lock.h"

namespace q4 {

namespace {

// The table every session uses. Written only under `load_lock` and before
// `loaded` is set; a session is made only after a load succeeded, so its
// thread sees the entries written.
OpenSsl table;
std::atomic<bool> loaded{false};
Lock load_lock{};  // the driver's own lock: zero is free, no constructor runs
const char* library_name = kOpenSslLibrary;

// Opens `library` and resolves every entry into `into`. False with `reason`.
// The handle of a library that lacks an entry is closed again; one that
// served is kept for the process's life (OpenSSL keeps itself loaded anyway,
// and sessions of other connections may be using it).
bool resolve(const char* library, OpenSsl* into, char* reason, size_t size) {
  void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    snprintf(reason, size, "cannot load %s: %s", library, why != nullptr ? why : "unknown error");
    return false;
  }
  // dlsym through the handle also searches the library's own dependencies:
  // libcrypto's functions (ERR_*, X509_*, BIO_*) are found through libssl.
#define Q4_OPENSSL_RESOLVE(name)                                             \
  into->name = reinterpret_cast<decltype(into->name)>(dlsym(handle, #name)); \
  if (into->name == nullptr) {                                               \
    const char* why = dlerror();                                             \
    snprintf(reason, size, "%s has no %s: %s", library, #name,               \
             why != nullptr ? why : "unknown error");                        \
    dlclose(handle);                                                         \
    return false;                                                            \
  }
  Q4_OPENSSL_FUNCTIONS(Q4_OPENSSL_RESOLVE)
#undef Q4_OPENSSL_RESOLVE
  return true;
}

}  // namespace

const OpenSsl* load_openssl(char* reason, size_t size) {
  if (loaded.load(std::memory_order_acquire)) return &table;
  LockGuard hold(&load_lock);
  if (loaded.load(std::memory_order_relaxed)) return &table;
  // A failed load leaves the table as it was: a test's failed load must not
  // take the functions from under sessions that exist.
  OpenSsl fresh;
  if (!resolve(library_name, &fresh, reason, size)) return nullptr;
  table = fresh;
  loaded.store(true, std::memory_order_release);
  return &table;
}

const OpenSsl& openssl() {
  return table;
}

#ifdef Q4_TEST_SEAMS
void openssl_library_for_tests(const char* library) {
  LockGuard hold(&load_lock);
  library_name = library != nullptr ? library : kOpenSslLibrary;
  loaded.store(false, std::memory_order_release);
}
#endif

}  // namespace q4
