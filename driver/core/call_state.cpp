#include "core/call_state.h"

#include <sched.h>

namespace q4 {

void claim_statement_slow(CallSignal* signal) {
  uint32_t state = signal->state.load(std::memory_order_relaxed);
  for (;;) {
    if (state & kCallClosing) {
      // A cancel discarding the idle statement's result holds it, for as
      // long as a few frees take.
      sched_yield();
      state = signal->state.load(std::memory_order_relaxed);
      continue;
    }
    // A request raised on the idle statement (the calls give none back, but
    // nothing is lost by keeping one) is taken by this call's first check.
    if (signal->state.compare_exchange_weak(state, state | kCallRunning, std::memory_order_acquire,
                                            std::memory_order_relaxed)) {
      return;
    }
  }
}

bool end_cut_wait(CallSignal* signal) {
  // SQLCancel set kCutting together with kWaitCut and clears it once
  // shutdown() has returned; only then may the descriptor be closed (the
  // number could otherwise be reused before the cancel reached it).
  while (signal->state.load(std::memory_order_acquire) & kCutting) sched_yield();
  signal->state.fetch_and(~static_cast<uint32_t>(kWaitCut | kCancelRequested),
                          std::memory_order_acq_rel);
  return true;
}

CancelStep raise_cancel(CallSignal* signal, int* socket) {
  uint32_t state = signal->state.load(std::memory_order_acquire);
  for (;;) {
    if (state & kCallClosing) return CancelStep::kNothing;
    if (state & kCallRunning) {
      uint32_t wanted = state | kCancelRequested;
      bool cut = (state & kWaitingForServer) != 0 && (state & kWaitCut) == 0;
      if (cut) wanted |= kWaitCut | kCutting;
      if (wanted == state) return CancelStep::kNothing;
      if (!signal->state.compare_exchange_weak(state, wanted, std::memory_order_acq_rel,
                                               std::memory_order_acquire)) {
        continue;
      }
      if (!cut) return CancelStep::kRequested;
      *socket = signal->wait_socket;
      return CancelStep::kCutWait;
    }
    // Idle: hold it while the result is discarded, so that no call starts
    // on it meanwhile.
    if (signal->state.compare_exchange_weak(state, kCallClosing, std::memory_order_acq_rel,
                                            std::memory_order_acquire)) {
      return CancelStep::kCloseIdle;
    }
  }
}

void end_cutting(CallSignal* signal) {
  signal->state.fetch_and(~static_cast<uint32_t>(kCutting), std::memory_order_release);
}

void end_idle_close(CallSignal* signal) {
  // Nothing else changes the word while kCallClosing is set: other cancels
  // leave it alone and calls wait for it.
  signal->state.store(0, std::memory_order_release);
}

bool release_statement_slow(CallSignal* signal) {
  uint32_t state = signal->state.load(std::memory_order_acquire);
  for (;;) {
    // Waits end inside their exchange, so only the request can be left.
    if (state & kCancelRequested) {
      if (signal->state.compare_exchange_weak(state, kCallClosing, std::memory_order_acq_rel,
                                              std::memory_order_acquire)) {
        return true;
      }
      continue;
    }
    if (signal->state.compare_exchange_weak(state, 0, std::memory_order_release,
                                            std::memory_order_acquire)) {
      return false;
    }
  }
}

}  // namespace q4
