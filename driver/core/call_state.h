// Where a statement's calls meet SQLCancel from other threads: one atomic
// word per statement. The protocol as a whole is described in core/handles.h.
//
// A call holds its connection's call lock for its whole run, and that lock is
// also what tells SQLCancel whether the statement is idle; this word carries
// only what SQLCancel asks of the call. The running call reads it with plain
// loads (no request: nothing more), and changes it only around a wait for the
// server, once at each end of an exchange.
#pragma once

#include <atomic>
#include <cstdint>

namespace q4 {

// Bits of CallSignal::state.
enum CallBit : uint32_t {
  // SQLCancel asked the statement's call to stop (or, for an idle statement,
  // its result to go). Taken (cleared) by the thread that acts on it, under
  // the connection's call lock.
  kCancelRequested = 1u << 0,
  // The running call waits for its server inside an exchange; wait_socket is
  // the descriptor it waits on.
  kWaitingForServer = 1u << 1,
  // SQLCancel shuts that descriptor down: the wait ends at once, and the
  // waiting call drops the link. Cleared by the waiting call.
  kWaitCut = 1u << 2,
  // SQLCancel is inside shutdown(): the descriptor must not be closed yet.
  kCutting = 1u << 3,
};

struct CallSignal {
  std::atomic<uint32_t> state;
  // Written by the calling thread before it sets kWaitingForServer, read by
  // SQLCancel only after it saw that bit and set kCutting; the calling thread
  // neither changes nor closes it before kCutting is clear again.
  int wait_socket;
};

// Whether a cancel request is raised: a plain load, for the common case.
inline bool cancel_pending(const CallSignal* signal) {
  return (signal->state.load(std::memory_order_relaxed) & kCancelRequested) != 0;
}

// Takes a raised cancel request: true when there was one. The plain load
// decides in the common case.
inline bool take_cancel_request(CallSignal* signal) {
  if (!cancel_pending(signal)) return false;
  return (signal->state.fetch_and(~static_cast<uint32_t>(kCancelRequested),
                                  std::memory_order_acq_rel) &
          kCancelRequested) != 0;
}

// The running call is about to wait for its server on `socket`. kStarted: a
// cancel from now on cuts the wait. kCancelled: a cancel request was already
// raised; it is taken, and nothing must be sent.
enum class WaitStart : uint8_t { kStarted, kCancelled };
inline WaitStart begin_wait(CallSignal* signal, int socket) {
  signal->wait_socket = socket;
  uint32_t state = signal->state.load(std::memory_order_relaxed);
  for (;;) {
    if (state & kCancelRequested) {
      if (signal->state.compare_exchange_weak(
              state, state & ~static_cast<uint32_t>(kCancelRequested), std::memory_order_acq_rel,
              std::memory_order_relaxed)) {
        return WaitStart::kCancelled;
      }
    } else if (signal->state.compare_exchange_weak(state, state | kWaitingForServer,
                                                   std::memory_order_acq_rel,
                                                   std::memory_order_relaxed)) {
      return WaitStart::kStarted;
    }
  }
}

// The wait is over (whether it succeeded or not). True when SQLCancel cut it:
// the descriptor has been shut down and the link must be dropped; the
// request that cut it is taken. Returns only once SQLCancel is done with the
// descriptor (end_cut_wait, core/call_state.cpp).
bool end_cut_wait(CallSignal* signal);
inline bool end_wait(CallSignal* signal) {
  uint32_t before =
      signal->state.fetch_and(~static_cast<uint32_t>(kWaitingForServer), std::memory_order_acq_rel);
  if ((before & kWaitCut) == 0) return false;
  return end_cut_wait(signal);
}

// SQLCancel's side: raises the request. kCutWait when the statement's call
// waits for its server: the caller shuts *socket down, then calls
// end_cutting. kRequested otherwise: the call takes the request at its next
// step, or whoever settles the connection's cancels discards the idle
// statement's result.
enum class CancelStep : uint8_t { kRequested, kCutWait };
CancelStep raise_cancel(CallSignal* signal, int* socket);
void end_cutting(CallSignal* signal);

}  // namespace q4
