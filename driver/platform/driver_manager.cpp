#include "platform/driver_manager.h"

#include <link.h>

#include <cstring>

namespace q4 {

namespace {

// The loaded objects are walked, not looked up by symbol: an application may
// load iODBC with RTLD_LOCAL (language bindings do), where a global symbol
// lookup would not see it.
int find_iodbc(dl_phdr_info* info, size_t, void* found) {
  const char* name = info->dlpi_name;
  if (name == nullptr) return 0;
  const char* slash = strrchr(name, '/');
  const char* base = slash != nullptr ? slash + 1 : name;
  if (strncmp(base, "libiodbc.so", 11) != 0) return 0;
  *static_cast<bool*>(found) = true;
  return 1;
}

bool scan_for_iodbc() {
  bool found = false;
  dl_iterate_phdr(find_iodbc, &found);
  return found;
}

}  // namespace

bool iodbc_in_process() {
  static const bool found = scan_for_iodbc();
  return found;
}

}  // namespace q4
