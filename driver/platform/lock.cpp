#include "platform/lock.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace q4 {

namespace {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) &&
                  std::atomic<uint32_t>::is_always_lock_free,
              "the lock word is handed to the kernel as a plain 32-bit word");

long futex(Lock* lock, int operation, uint32_t value) {
  return syscall(SYS_futex, reinterpret_cast<uint32_t*>(&lock->word), operation, value, nullptr,
                 nullptr, 0);
}

}  // namespace

// Marks the lock as contended (2) before sleeping, so that the holder's
// release wakes a sleeper; a thread that gets the lock this way keeps the
// mark, which costs at most one needless wake. The kernel sleeps only while
// the word is still 2, so a release between the exchange and the sleep is
// never missed. Signals and spurious wake-ups only loop.
void lock_wait(Lock* lock) {
  uint32_t seen = lock->word.load(std::memory_order_relaxed);
  if (seen != 2) seen = lock->word.exchange(2, std::memory_order_acquire);
  while (seen != 0) {
    futex(lock, FUTEX_WAIT_PRIVATE, 2);
    seen = lock->word.exchange(2, std::memory_order_acquire);
  }
}

void lock_wake(Lock* lock) {
  futex(lock, FUTEX_WAKE_PRIVATE, 1);
}

}  // namespace q4
