// The environment's critical section: a process-local mutex that lives inside
// a zero-filled record, so it is initialised and destroyed explicitly.
#pragma once

#include <pthread.h>

namespace q4 {

struct Lock {
  pthread_mutex_t mutex;
};

inline void lock_init(Lock* lock) {
  pthread_mutex_init(&lock->mutex, nullptr);
}
inline void lock_destroy(Lock* lock) {
  pthread_mutex_destroy(&lock->mutex);
}
inline void lock_enter(Lock* lock) {
  pthread_mutex_lock(&lock->mutex);
}
inline void lock_leave(Lock* lock) {
  pthread_mutex_unlock(&lock->mutex);
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
