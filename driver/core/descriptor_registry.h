// The descriptors alive in the process, so that a descriptor handle can be
// checked before it is used: an application may pass a freed descriptor, or
// one of a dropped statement, and must get SQL_INVALID_HANDLE rather than a
// read of freed memory. Every descriptor is registered from its allocation
// (a statement's four with the statement) to its release.
#pragma once

#include "core/records.h"

namespace q4 {

void register_descriptor(Descriptor* desc);
void unregister_descriptor(Descriptor* desc);

// The descriptor `handle` stands for, or null when no live descriptor has
// that address. Looks at the registry only, never at `handle`'s memory.
Descriptor* live_descriptor(void* handle);

}  // namespace q4
