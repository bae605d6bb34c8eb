#include "platform/driver_manager.h"

#include <link.h>

#include <cstring>

namespace q4 {

namespace {

struct Found {
  bool iodbc = false;
  bool unixodbc = false;
};

bool named(const char* base, const char* prefix) {
  return strncmp(base, prefix, strlen(prefix)) == 0;
}

// The loaded objects are walked, not looked up by symbol: an application may
// load its Driver Manager with RTLD_LOCAL (language bindings do), where a
// global symbol lookup would not see it.
int note_driver_manager(dl_phdr_info* info, size_t, void* data) {
  const char* name = info->dlpi_name;
  if (name == nullptr) return 0;
  const char* slash = strrchr(name, '/');
  const char* base = slash != nullptr ? slash + 1 : name;
  auto* found = static_cast<Found*>(data);
  if (named(base, "libiodbc.so")) found->iodbc = true;
  if (named(base, "libodbc.so")) found->unixodbc = true;  // not libodbcinst
  return 0;
}

bool scan_for_iodbc() {
  Found found;
  dl_iterate_phdr(note_driver_manager, &found);
  // A program that has loaded both (an office suite that tries one Driver
  // Manager and then the other) calls through unixODBC's, which is the one
  // whose library is also the driver's (libodbcinst) here.
  return found.iodbc && !found.unixodbc;
}

}  // namespace

bool iodbc_in_process() {
  static const bool found = scan_for_iodbc();
  return found;
}

}  // namespace q4
