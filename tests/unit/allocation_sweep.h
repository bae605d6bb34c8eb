// Allocation-failure sweeps, after SQLite's malloc tests: a call is made
// with its first allocation failing, then its second, its third ... until it
// runs without meeting the failure, once with that one allocation failing and
// once with every allocation failing from it on. Each run starts from a fresh
// world and must
// - end as the call ends without failures, or in its documented outcome of a
//   failed allocation ("S1001" on the handle it names, unless it says
//   otherwise);
// - leave a usable handle: the next call, the heap working again, succeeds;
// - give back every block once the world is torn down (counted through the
//   heap; the sanitizer build's leak checker sees the rest).
#pragma once

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "core/diagnostics.h"
#include "platform/heap.h"

namespace q4 {

inline const std::string kOutOfMemory = "ERROR S1001 Memory allocation failure";

// A call's return and the diagnostic SQLError then reads from the statement,
// or the connection when `hstmt` is null (emptying the slot, as an
// application does): "OK", "NEED_DATA", "ERROR S1001 Memory allocation
// failure" ...
inline std::string answer_of(SQLRETURN rc, SQLHDBC hdbc, SQLHSTMT hstmt = SQL_NULL_HSTMT) {
  // clang-format off
  std::string text = rc == SQL_SUCCESS ? "OK" : rc == SQL_SUCCESS_WITH_INFO ? "INFO"
                     : rc == SQL_ERROR ? "ERROR" : rc == SQL_NEED_DATA ? "NEED_DATA"
                     : rc == SQL_NO_DATA_FOUND ? "NO_DATA" : "rc " + std::to_string(rc);
  // clang-format on
  SQLCHAR state[6] = "", message[SQL_MAX_MESSAGE_LENGTH] = "";
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  // As the Driver Manager asks: for one handle only.
  if (hstmt != SQL_NULL_HSTMT) hdbc = SQL_NULL_HDBC;
  if (SQLError(SQL_NULL_HENV, hdbc, hstmt, state, &native, message, sizeof message, &length) ==
      SQL_SUCCESS) {
    const char* body = reinterpret_cast<const char*>(message);
    if (strncmp(body, kMessagePrefix, strlen(kMessagePrefix)) == 0) body += strlen(kMessagePrefix);
    text += std::string(" ") + reinterpret_cast<const char*>(state) + " " + body;
  }
  return text;
}

// One row of a sweep's table. `World` is default-constructed for every run
// (handles, a scripted peer, bindings ...) and destroyed after it, freeing
// what the run left.
template <typename World>
struct AllocationScenario {
  const char* name;  // a test name: letters and digits
  // Brings a fresh world to the call, the heap working; null: nothing to do.
  std::function<void(World&)> prepare;
  // The call, made with the heap armed: its return and diagnostic as text
  // ("OK", "ERROR S1001 ...") and what else it should show.
  std::function<std::string(World&)> call;
  // What `call` answers when no allocation fails.
  std::string success;
  // What it may answer when one does: each documented outcome of a failed
  // allocation ("S1001" where a call fails for it, another answer where the
  // call goes on without what it could not allocate).
  std::vector<std::string> failures = {kOutOfMemory};
  // After a run that met the failure (`outcome`: what the call answered), the
  // heap working again: the state the run must have left and the next call
  // the application makes. Empty when all is well, else what is wrong.
  // Null: `call` again must answer `success`.
  std::function<std::string(World&, const std::string& outcome)> next = nullptr;
};

namespace sweep_detail {

// Disarms the heap when a run ends, whichever way it leaves.
struct Disarm {
  ~Disarm() { heap_fail_after(-1); }
};

// One run: "" when it passed, else why not. *met tells whether the armed
// allocation was reached.
template <typename World>
std::string run(const AllocationScenario<World>& s, long countdown, HeapFault fault, bool* met) {
  long live_before = heap_live_blocks();
  std::string why;
  {
    World world;
    if (s.prepare) s.prepare(world);
    if (::testing::Test::HasFatalFailure()) return "the world could not be prepared";
    std::string outcome;
    {
      Disarm disarm;
      heap_fail_after(countdown, fault);
      outcome = s.call(world);
      *met = heap_failures() > 0;
    }
    if (!*met) {
      if (outcome != s.success) why = "without a failure: " + outcome;
    } else if (outcome != s.success &&
               std::find(s.failures.begin(), s.failures.end(), outcome) == s.failures.end()) {
      why = "the call answered " + outcome;
    } else if (s.next) {
      why = s.next(world, outcome);
    } else if ((outcome = s.call(world)) != s.success) {
      why = "the call again answered " + outcome;
    }
  }
  long left = heap_live_blocks() - live_before;
  if (why.empty() && left != 0) why = "blocks left behind: " + std::to_string(left);
  return why;
}

}  // namespace sweep_detail

// Runs the sweep of `s`; the first run that fails it is reported.
template <typename World>
void sweep_allocations(const AllocationScenario<World>& s) {
  bool met = false;
  std::string why = sweep_detail::run(s, -1, HeapFault::kOnce, &met);
  ASSERT_EQ(why, "") << "the call must succeed before anything fails";
  for (long countdown = 0;; ++countdown) {
    ASSERT_LT(countdown, 10000) << "the call never stops allocating";
    for (HeapFault fault : {HeapFault::kOnce, HeapFault::kFromThenOn}) {
      why = sweep_detail::run(s, countdown, fault, &met);
      ASSERT_EQ(why, "") << "allocation " << countdown + 1
                         << (fault == HeapFault::kOnce ? " failing"
                                                       : " and every later one failing");
      if (!met) {
        EXPECT_GT(countdown, 0) << "the call allocates nothing: a sweep of it proves nothing";
        return;
      }
    }
  }
}

// How gtest shows a table row.
template <typename World>
void PrintTo(const AllocationScenario<World>& s, std::ostream* out) {
  *out << s.name;
}
struct ScenarioName {
  template <typename Param>
  std::string operator()(const ::testing::TestParamInfo<Param>& info) const {
    return info.param.name;
  }
};

}  // namespace q4
