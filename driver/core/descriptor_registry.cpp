#include "core/descriptor_registry.h"

#include "platform/lock.h"

namespace q4 {

namespace {

// A list: descriptor calls are rare beside fetches and executions, and an
// application holds a few statements at a time, so a walk is short.
Lock registry_lock;
Descriptor* registry_head;

class RegistryHold {
 public:
  RegistryHold() { lock_enter(&registry_lock); }
  ~RegistryHold() { lock_leave(&registry_lock); }
  RegistryHold(const RegistryHold&) = delete;
  RegistryHold& operator=(const RegistryHold&) = delete;
};

}  // namespace

void register_descriptor(Descriptor* desc) {
  RegistryHold hold;
  desc->live_prev = nullptr;
  desc->live_next = registry_head;
  if (registry_head != nullptr) registry_head->live_prev = desc;
  registry_head = desc;
}

void unregister_descriptor(Descriptor* desc) {
  RegistryHold hold;
  for (Descriptor* d = registry_head; d != nullptr; d = d->live_next) {
    if (d != desc) continue;
    (d->live_prev != nullptr ? d->live_prev->live_next : registry_head) = d->live_next;
    if (d->live_next != nullptr) d->live_next->live_prev = d->live_prev;
    d->live_prev = d->live_next = nullptr;
    return;
  }
}

Descriptor* live_descriptor(void* handle) {
  if (handle == nullptr) return nullptr;
  RegistryHold hold;
  for (Descriptor* d = registry_head; d != nullptr; d = d->live_next) {
    if (d == handle) return d;
  }
  return nullptr;
}

}  // namespace q4
