// Where a statement's calls meet SQLCancel from other threads: one atomic
// word per statement. The protocol as a whole is described in core/handles.h.
//
// Every transition is a read-modify-write of this one word, so the two sides
// never need to order a store to one variable before a load of another, and
// the common case costs one compare-and-swap to claim the statement, one to
// give it back, and a plain load at each cancel check.
#pragma once

#include <atomic>
#include <cstdint>

namespace q4 {

// Bits of CallSignal::state.
enum CallBit : uint32_t {
  // A call holds the statement. Set and cleared by the calling thread (under
  // the connection's call lock, so only SQLCancel competes for the word).
  kCallRunning = 1u << 0,
  // SQLCancel discards the result of the idle statement; a call that wants
  // the statement meanwhile waits for it to end.
  kCallClosing = 1u << 1,
  // SQLCancel asked the running call to stop; the call takes the request
  // (clears the bit) where it acts on it.
  kCancelRequested = 1u << 2,
  // The running call waits for its server inside an exchange; wait_socket is
  // the descriptor it waits on.
  kWaitingForServer = 1u << 3,
  // SQLCancel shuts that descriptor down: the wait ends at once, and the
  // waiting call drops the link. Cleared by the waiting call.
  kWaitCut = 1u << 4,
  // SQLCancel is inside shutdown(): the descriptor must not be closed yet.
  kCutting = 1u << 5,
};

struct CallSignal {
  std::atomic<uint32_t> state;
  // Written by the calling thread before it sets kWaitingForServer, read by
  // SQLCancel only after it saw that bit and set kCutting; the calling thread
  // neither changes nor closes it before kCutting is clear again.
  int wait_socket;
};

// Claims the statement for the calling thread (which holds the call lock).
// The one way it can be busy is a cancel discarding its idle result; that
// waits (claim_statement_slow, core/handles.cpp).
void claim_statement_slow(CallSignal* signal);
inline void claim_statement(CallSignal* signal) {
  uint32_t idle = 0;
  if (!signal->state.compare_exchange_strong(idle, kCallRunning, std::memory_order_acquire,
                                             std::memory_order_relaxed)) {
    claim_statement_slow(signal);
  }
}

// Gives a claimed statement back when nothing else happened to it: true.
// False when a cancel request is still raised (the caller settles it).
inline bool release_statement_fast(CallSignal* signal) {
  uint32_t running = kCallRunning;
  return signal->state.compare_exchange_strong(running, 0, std::memory_order_release,
                                               std::memory_order_relaxed);
}

// Whether a cancel request is raised: a plain load, for the common case.
inline bool cancel_pending(const CallSignal* signal) {
  return (signal->state.load(std::memory_order_relaxed) & kCancelRequested) != 0;
}

// Takes a raised cancel request: true when there was one. Only the running
// call takes requests, so the plain load decides in the common case.
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
      continue;
    }
    if (signal->state.compare_exchange_weak(state, state | kWaitingForServer,
                                            std::memory_order_acq_rel, std::memory_order_relaxed)) {
      return WaitStart::kStarted;
    }
  }
}

// The wait is over (whether it succeeded or not). True when SQLCancel cut it:
// the descriptor has been shut down and the link must be dropped; the
// request that cut it is taken. Returns only once SQLCancel is done with the
// descriptor (end_cut_wait, core/handles.cpp).
bool end_cut_wait(CallSignal* signal);
inline bool end_wait(CallSignal* signal) {
  uint32_t before =
      signal->state.fetch_and(~static_cast<uint32_t>(kWaitingForServer), std::memory_order_acq_rel);
  if ((before & kWaitCut) == 0) return false;
  return end_cut_wait(signal);
}

// SQLCancel's side. What a cancel found, and what its caller must do next.
enum class CancelStep : uint8_t {
  kNothing,    // another cancel is at work, or the request is already raised
  kRequested,  // the running call was asked to stop at its next safe point
  kCutWait,    // the running call waits for its server: shut *socket down,
               // then call end_cutting
  kCloseIdle,  // the statement is idle and held for the cancel: discard its
               // result, then call end_idle_close
};
CancelStep raise_cancel(CallSignal* signal, int* socket);
void end_cutting(CallSignal* signal);
void end_idle_close(CallSignal* signal);

// The end of a call whose release_statement_fast failed: true when a cancel
// request raised too late for the call is left, which the caller settles by
// discarding the result and then calling end_idle_close; the statement is
// held for that as by kCloseIdle. False: the statement is idle.
bool release_statement_slow(CallSignal* signal);

}  // namespace q4
