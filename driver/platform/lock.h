// A process-local mutex that lives inside a zero-filled record: the
// environment's critical section and each connection's call lock.
//
// Every ODBC call on a connection takes that connection's lock, so taking and
// giving it back sits on the path of every fetched row. The uncontended case
// is therefore inline: one compare-and-swap to take it, one exchange to give
// it back, no call into the C library. Only a thread that finds it held
// sleeps, in the kernel (a futex), and only a release that saw a sleeper
// wakes one. A word of zero is a free lock, so a zero-filled record needs no
// initialisation, and the lock owns no kernel object.
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

  // 0 free, 1 held, 2 held and a thread may be sleeping on it.
  std::atomic<uint32_t> word;
};

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
  if (!lock->word.compare_exchange_strong(free, 1, std::memory_order_acquire,
                                          std::memory_order_relaxed)) {
    lock_wait(lock);
  }
}
inline void lock_leave(Lock* lock) {
  if (lock->word.exchange(0, std::memory_order_release) == 2) lock_wake(lock);
}

// Holds a Lock for the rest of a scope.
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
