// Requests sent ahead of their replies: up to a window of requests in flight
// on one link, their replies read in the order the requests went. A parameter
// array uses it to send its rows without a round trip each.
//
// The frame acknowledgement rule decides what may go ahead. A request of more
// than one frame waits for the server's acknowledgement after each frame,
// which would come only behind the replies still owed; a reply of more than
// one frame waits for ours, which would reach the server behind the requests
// already sent, to be read as their bytes. So a request goes ahead only when
// it is one frame or nothing else is in flight, and a reply of more frames is
// taken (and acknowledged) only when its request is the only one in flight;
// otherwise it is a broken stream and the link is dropped.
//
// Both socket buffers can fill: the server answers each request before it
// reads the next, so while this side sends, the server may be waiting to send
// replies nobody reads. Sending therefore also reads what has arrived, into
// the link's inbox, and replies are then read from there (in bulk, to save
// system calls). The inbox holds at most the replies of one window.
//
// Every failure drops the link, as a failed exchange does: the replies still
// in flight can no longer be told apart. So does a cancel (LINK_CANCELLED).
#pragma once

#include <cstdint>

#include "link/link.h"

namespace q4 {

// Requests in flight at most, and so replies the inbox may have to hold.
constexpr uint32_t kMaxPipelineWindow = 64;

// A request in flight, for its log line once its reply is in.
struct SentAhead {
  uint8_t command;
  int32_t request_bytes;
  int64_t started_ns;
};

struct Pipeline {
  Link* link;
  uint32_t wait_seconds;  // each wait: 0 without limit, else at most this
  // The signal of the statement call the requests are for: a cancel from
  // another thread cuts any wait of the pipeline (and one raised before a
  // wait starts ends it as well: with requests in flight the link cannot be
  // kept in step without waiting). Null: no cancel is watched.
  CallSignal* cancel;
  uint32_t window;     // requests in flight at most, 1 to kMaxPipelineWindow
  uint32_t in_flight;  // requests sent or queued whose replies are not read
  uint32_t queued;     // of those, the ones still in the outbox
  uint32_t oldest;     // index in `sent` of the oldest in flight
  SentAhead sent[kMaxPipelineWindow];
};

// Starts a pipeline on `link` with a window of 1 (one request at a time until
// the caller widens it), watching `cancel` (may be null). False when its
// buffers cannot be allocated (nothing posted: the caller then works without
// it).
bool start_pipeline(Pipeline* pipeline, Link* link, uint32_t wait_seconds, CallSignal* cancel);

// Whether a request of `length` payload bytes may be sent now: the window has
// room, and the request is one frame or nothing is in flight.
bool pipeline_has_room(const Pipeline& pipeline, int32_t length);

// Sends a request (which pipeline_has_room allowed): a one-frame request is
// queued in the outbox, which goes out when it fills, after a batch of
// requests, or before the next reply is awaited; a longer one goes out at
// once, frame by frame. LINK_OK, or the failure (the link dropped).
LinkStatus pipeline_send(Pipeline* pipeline, uint8_t command, const uint8_t* payload,
                         int32_t length);

// Sends what is queued, then receives the reply of the oldest request in
// flight into `reply` (read ahead through the link's inbox; a reply of more
// frames only while no other request is in flight), and logs the exchange. As exchange() reports
// it, with `frames` the frames the reply came in. A failure drops the link; `in_flight` then still
// counts the requests whose replies never came, this one included.
Exchanged pipeline_receive(Pipeline* pipeline, const ReplyArea& reply);

}  // namespace q4
