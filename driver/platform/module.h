// The module's own instance handle, stored when the library is loaded and
// copied into every connection record.
#pragma once

namespace q4 {

void* module_instance();
void set_module_instance(void* instance);

}  // namespace q4
