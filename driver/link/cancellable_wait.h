// The stretch of an exchange during which SQLCancel from another thread may
// cut the calling thread's wait for its server.
//
// Every transfer of the exchange (each send, acknowledgement and receive, in
// either direction, blocking or timed) runs between the start of a
// CancellableWait and its end(); the transfers themselves know nothing of
// cancels. A cancel in that stretch shuts the link's socket down
// (cut_socket), so whatever transfer is blocked returns at once and every
// later one fails; end() then says the wait was cut, and the link must be
// dropped: the stream is no longer in step. Outside the stretch a cancel is
// only a request that the call takes at its next safe point.
//
// Why a shutdown rather than a second descriptor (an eventfd or a pipe) that
// poll() watches beside the socket: the socket stays blocking and a wait
// stays one recv() or send() in the kernel, so a call that is not cancelled
// pays one compare-and-swap at each end of the exchange and no system call;
// a wake-up descriptor would cost a poll() before every transfer that would
// block (one per reply frame) and a descriptor per connection. The
// cut is immediate, and it costs the link, which a cut wait costs anyway.
#pragma once

#include "core/call_state.h"
#include "link/link.h"

namespace q4 {

class CancellableWait {
 public:
  // Starts the stretch on `link`'s socket for the call that `signal` belongs
  // to; a null signal (an exchange no cancel is aimed at) or a lost link
  // makes it a stretch no cancel can cut.
  CancellableWait(CallSignal* signal, const Link* link)
      : signal_(link != nullptr && !link->lost ? signal : nullptr) {
    if (signal_ != nullptr && begin_wait(signal_, link->socket) == WaitStart::kCancelled) {
      cancelled_before_start_ = true;
      signal_ = nullptr;
    }
  }
  // Ends a stretch the caller left early without end().
  ~CancellableWait() { end(); }
  CancellableWait(const CancellableWait&) = delete;
  CancellableWait& operator=(const CancellableWait&) = delete;

  // A cancel request was already raised: it is taken, and nothing may be
  // sent (the link is untouched and in step).
  bool cancelled_before_start() const { return cancelled_before_start_; }

  // Ends the stretch (once; later calls return false). True when a cancel
  // cut it: the socket has been shut down and the link must be dropped.
  // Returns only when SQLCancel is done with the socket, so the caller may
  // close it.
  bool end() {
    if (signal_ == nullptr) return false;
    CallSignal* signal = signal_;
    signal_ = nullptr;
    return end_wait(signal);
  }

 private:
  CallSignal* signal_;
  bool cancelled_before_start_ = false;
};

}  // namespace q4
