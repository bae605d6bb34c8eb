// A process-local mutex that lives inside a zero-filled record: the
// environment's critical section and each connection's call lock.
//
// Every ODBC call on a connection takes that connection's lock, so taking and
// giving it back sits on the path of every fetched row. The uncontended case
// is therefore inline: one compare-and-swap to take it, one to give it back,
// no call into the C library. Only a thread that finds it held sleeps, in the
// kernel (a futex), and only a release that saw a sleeper wakes one. A word
// of zero is a free lock, so a zero-filled record needs no initialisation,
// and the lock owns no kernel object.
//
// A thread that must not wait for the lock (SQLCancel) can leave a duty
// instead: lock_take_or_mark either takes the free lock or marks the duty
// for the holder, and lock_leave tells the holder that one was marked. The
// duty travels in the lock word itself, so the mark and the release cannot
// miss each other.
#pragma once

#include <atomic>
#include <cstdint>

namespace q4 {

struct Lock {
  Lock() = default;
  // A record copied as a whole (tests build connection records by value) gets
  // a free lock of its own: a lock's state belongs to the record it guards.
  Lock(const Lock&) : word(0) {}
  Lock& operator=(const Lock&) { return *this; }

  std::atomic<uint32_t> word;
};

// Bits of Lock::word.
constexpr uint32_t kLockHeld = 1;
constexpr uint32_t kLockSleepers = 2;  // a thread may sleep on the word
constexpr uint32_t kLockDuty = 4;      // a duty awaits the holder's release

// The slow paths (platform/lock.cpp): sleeping until the lock is had, and
// waking one sleeper.
void lock_wait(Lock* lock);
void lock_wake(Lock* lock);

inline void lock_init(Lock* lock) {
  lock->word.store(0, std::memory_order_relaxed);
}
inline void lock_destroy(Lock*) {}
inline void lock_enter(Lock* lock) {
  uint32_t free = 0;
  if (!lock->word.compare_exchange_strong(free, kLockHeld, std::memory_order_acquire,
                                          std::memory_order_relaxed)) {
    lock_wait(lock);
  }
}
// Gives the lock back. True when a duty was marked while it was held: the
// duty stays marked, for lock_take_duty.
inline bool lock_leave(Lock* lock) {
  uint32_t before = lock->word.fetch_and(kLockDuty, std::memory_order_acq_rel);
  if (before & kLockSleepers) lock_wake(lock);
  return (before & kLockDuty) != 0;
}

// Takes the free lock (true; a marked duty is then the caller's and is
// cleared), or, when it is held, marks the duty for its holder (false).
// Never waits.
inline bool lock_take_or_mark(Lock* lock) {
  uint32_t word = lock->word.load(std::memory_order_relaxed);
  for (;;) {
    if ((word & kLockHeld) == 0) {
      if (lock->word.compare_exchange_weak(word, (word & ~kLockDuty) | kLockHeld,
                                           std::memory_order_acq_rel, std::memory_order_relaxed)) {
        return true;
      }
    } else if ((word & kLockDuty) != 0 ||
               lock->word.compare_exchange_weak(word, word | kLockDuty, std::memory_order_acq_rel,
                                                std::memory_order_relaxed)) {
      return false;
    }
  }
}

// Takes the lock for a marked duty: true when the lock is free and a duty
// marked (the duty is cleared, the lock held). False when no duty is left, or
// another thread holds the lock (it finds the duty when it leaves). Never
// waits.
inline bool lock_take_duty(Lock* lock) {
  uint32_t word = lock->word.load(std::memory_order_relaxed);
  while ((word & kLockDuty) != 0 && (word & kLockHeld) == 0) {
    if (lock->word.compare_exchange_weak(word, (word & ~kLockDuty) | kLockHeld,
                                         std::memory_order_acq_rel, std::memory_order_relaxed)) {
      return true;
    }
  }
  return false;
}

// Holds a Lock for the rest of a scope; for locks no duty is marked on (the
// environment's).
class LockGuard {
 public:
  explicit LockGuard(Lock* lock) : lock_(lock) { lock_enter(lock_); }
  ~LockGuard() { lock_leave(lock_); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock* lock_;
};

}  // namespace q4
