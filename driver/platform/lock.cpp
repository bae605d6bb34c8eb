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

// Marks the word as slept on before sleeping, so that the holder's release
// wakes a sleeper; the kernel sleeps only while the word is still what was
// seen, so a release between the mark and the sleep is never missed. A
// thread that was woken takes the lock with the mark set again, since other
// sleepers may remain (at worst one needless wake). Signals and spurious
// wake-ups only loop.
void lock_wait(Lock* lock) {
  uint32_t slept = 0;
  uint32_t word = lock->word.load(std::memory_order_relaxed);
  for (;;) {
    if ((word & kLockHeld) == 0) {
      if (lock->word.compare_exchange_weak(word, word | kLockHeld | slept,
                                           std::memory_order_acquire, std::memory_order_relaxed)) {
        return;
      }
      continue;
    }
    if ((word & kLockSleepers) == 0 &&
        !lock->word.compare_exchange_weak(word, word | kLockSleepers, std::memory_order_relaxed,
                                          std::memory_order_relaxed)) {
      continue;
    }
    futex(lock, FUTEX_WAIT_PRIVATE, word | kLockSleepers);
    slept = kLockSleepers;
    word = lock->word.load(std::memory_order_relaxed);
  }
}

void lock_wake(Lock* lock) {
  futex(lock, FUTEX_WAKE_PRIVATE, 1);
}

}  // namespace q4
