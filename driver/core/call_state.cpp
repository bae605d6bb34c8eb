#include "core/call_state.h"

#include <sched.h>

namespace q4 {

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
  uint32_t state = signal->state.load(std::memory_order_relaxed);
  for (;;) {
    bool cut = (state & kWaitingForServer) != 0 && (state & kWaitCut) == 0;
    uint32_t wanted = state | kCancelRequested | (cut ? kWaitCut | kCutting : 0u);
    if (signal->state.compare_exchange_weak(state, wanted, std::memory_order_acq_rel,
                                            std::memory_order_relaxed)) {
      if (!cut) return CancelStep::kRequested;
      *socket = signal->wait_socket;
      return CancelStep::kCutWait;
    }
  }
}

void end_cutting(CallSignal* signal) {
  signal->state.fetch_and(~static_cast<uint32_t>(kCutting), std::memory_order_release);
}

}  // namespace q4
