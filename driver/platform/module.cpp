#include "platform/module.h"

#include <dlfcn.h>

#include "platform/export.h"

namespace q4 {

namespace {
void* g_module_instance = nullptr;
}

void* module_instance() {
  return g_module_instance;
}
void set_module_instance(void* instance) {
  g_module_instance = instance;
}

namespace {
// The dynamic loader has no attach notification with an instance handle; a
// library constructor plays that part, using the address of the loaded image
// (its dladdr base) as the instance.
__attribute__((constructor)) void on_load() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&on_load), &info) != 0) {
    set_module_instance(info.dli_fbase);
  }
}
}  // namespace

}  // namespace q4

// Kept for hosts that look the module entry points up by name. Reason 1 is the
// process attach; every reason answers TRUE.
Q4_EXPORT int DllMain(void* instance, unsigned long reason, void* /*reserved*/) {
  if (reason == 1) q4::set_module_instance(instance);
  return 1;
}

Q4_EXPORT int WEP(int /*exit_type*/) {
  return 1;
}
