// The call lock: duties left by a thread that must not wait, and the sleeping
// path under contention.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/lock.h"

namespace q4 {
namespace {

// A free lock is taken by the one who would mark; a held one carries the mark
// to its release, which reports it once; the duty is then taken with the lock.
TEST(Lock, ADutyMarkedOnAHeldLockReachesItsRelease) {
  Lock lock{};
  EXPECT_TRUE(lock_take_or_mark(&lock)) << "free: taken";
  EXPECT_FALSE(lock_leave(&lock)) << "nothing was marked";
  lock_enter(&lock);
  EXPECT_FALSE(lock_take_or_mark(&lock)) << "held: marked";
  EXPECT_FALSE(lock_take_or_mark(&lock)) << "marked once is enough";
  EXPECT_FALSE(lock_take_duty(&lock)) << "the holder still has it";
  EXPECT_TRUE(lock_leave(&lock));
  lock_enter(&lock);  // another call gets in first: the duty passes to it
  EXPECT_FALSE(lock_take_duty(&lock));
  EXPECT_TRUE(lock_leave(&lock));
  EXPECT_TRUE(lock_take_duty(&lock));
  EXPECT_FALSE(lock_leave(&lock)) << "the duty was taken with the lock";
  EXPECT_FALSE(lock_take_duty(&lock));
  EXPECT_EQ(lock.word.load(), 0u);
}

// Threads that find the lock held sleep and are woken; none is lost, no
// increment is lost, and marks made meanwhile all reach a release.
TEST(Lock, ContendedThreadsTakeTurnsAndMarksAreNotLost) {
  Lock lock{};
  long counter = 0;
  std::atomic<long> marked{0}, reported{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20000; ++i) {
        if (t == 0 && i % 7 == 0 && !lock_take_or_mark(&lock)) {
          ++marked;
          continue;
        }
        if (t != 0 || i % 7 != 0) lock_enter(&lock);
        ++counter;
        bool duty = lock_leave(&lock);
        while (duty && lock_take_duty(&lock)) ++reported, duty = lock_leave(&lock);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter + marked.load(), 4 * 20000);
  EXPECT_LE(reported.load(), marked.load()) << "a mark is reported at most once";
  EXPECT_GE(reported.load(), marked.load() > 0 ? 1 : 0);
  EXPECT_EQ(lock.word.load(), 0u) << "every mark was taken";
}

}  // namespace
}  // namespace q4
