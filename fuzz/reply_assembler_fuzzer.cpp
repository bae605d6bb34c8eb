// libFuzzer target: the reply assembler (link/reply_assembler.h) on a byte
// stream as a server might send it. Byte 0 picks the area the reply goes to
// and the frame rule; the rest is read frame by frame as the receiver reads
// it (length field, then body) until the reply is whole, broken, or the bytes
// run out. Whatever the bytes:
// - nothing is read outside a frame's body or written outside the status
//   area, the destination and the grown block (each exactly its size, so
//   AddressSanitizer sees a byte too far);
// - a whole reply holds the status string of its first frame and exactly
//   the chunks of its frames, joined in order;
// - once broken, the assembler stays broken.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/memory.h"
#include "link/reply_assembler.h"
#include "protocol/codec.h"
#include "protocol/frame_codec.h"

namespace {

void check(bool condition) {
  if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  // Status areas: a connection's, a statement's, and a tight one.
  static const size_t kStatusSizes[] = {1030, 256, 16, 1};
  // Payload room: status only, small, io_buffer's, a logon reply's.
  static const int32_t kCapacities[] = {0, 100, 20480, 5};
  const size_t status_size = kStatusSizes[choice & 3];
  const int32_t capacity = kCapacities[(choice >> 2) & 3];
  const bool growable = (choice & 0x10) != 0;
  const bool grown_before = (choice & 0x20) != 0;
  const q4::FrameRule rule =
      (choice & 0x40) != 0 ? q4::FrameRule::kOneFrame : q4::FrameRule::kAcknowledged;

  std::vector<char> status(status_size);
  std::vector<uint8_t> destination(static_cast<size_t>(capacity));
  uint8_t* block = nullptr;
  int32_t grown = 0;
  q4::ReplyArea area{status.data(), status_size, destination.data(), capacity};
  if (growable) {
    area.growable = &block;
    area.grown = &grown;
    if (grown_before && capacity > 0) {
      // A block already grown by an earlier value, as SQLGetData keeps it.
      block = static_cast<uint8_t*>(q4::drv_alloc(nullptr, nullptr, static_cast<size_t>(capacity)));
      grown = 1;
    }
  }

  q4::ReplyAssembler assembler(area, rule);
  std::vector<uint8_t> chunks;  // the chunks of the frames taken, joined
  std::vector<char> lead;       // the first frame's lead string
  int32_t frames = 0;           // the frames handed over
  const uint8_t* at = data + 1;
  const uint8_t* end = data + size;
  for (bool first = true; end - at >= 2; first = false) {
    int32_t body_length = assembler.body_length(q4::load_u16(at));
    at += 2;
    if (body_length < 0) {
      check(assembler.take_body(at, 0) == q4::ReplyAssembler::Step::kBroken);
      break;
    }
    if (end - at < body_length) break;  // a transfer would have failed
    std::vector<uint8_t> body(at, at + body_length);
    at += body_length;
    // The frame as the assembler should see it, decoded on the side.
    q4::FrameView view;
    bool decodes =
        q4::decode_frame_body(body.data(), body.size(), first, &view) == q4::FrameFault::kNone;
    if (decodes && first) lead.assign(view.lead, view.lead + view.lead_length);
    if (decodes) chunks.insert(chunks.end(), view.chunk, view.chunk + view.chunk_length);
    q4::ReplyAssembler::Step step = assembler.take_body(body.data(), body_length);
    ++frames;
    check(decodes || step == q4::ReplyAssembler::Step::kBroken);
    if (step == q4::ReplyAssembler::Step::kBroken) {
      check(assembler.take_body(body.data(), body_length) == q4::ReplyAssembler::Step::kBroken);
      break;
    }
    check(!view.more == (step == q4::ReplyAssembler::Step::kComplete));
    if (step == q4::ReplyAssembler::Step::kAcknowledge) continue;
    // Whole: the status string, then the payload as the frames carried it.
    check(std::string(status.data()) == std::string(lead.begin(), lead.end()));
    check(assembler.frames() == frames);
    switch (assembler.payload()) {
      case q4::ReplyPayload::kNone:
        check(capacity == 0 || chunks.empty());
        break;
      case q4::ReplyPayload::kBytes: {
        check(static_cast<size_t>(assembler.bytes()) == chunks.size());
        const uint8_t* payload = grown != 0 ? block : destination.data();
        check(memcmp(payload, chunks.data(), chunks.size()) == 0);
        break;
      }
      case q4::ReplyPayload::kDropped:
        check(growable);
        break;
    }
    check(assembler.body_length(8) == -1);
    break;
  }
  q4::drv_free(block);
  return 0;
}
