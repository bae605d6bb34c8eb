// Link throughput over loopback: each exchange sends a 1 MiB request with
// send_request and receives the scripted peer's echo, a 1 MiB reply, with
// receive_reply. Prints MB/s (10^6 bytes per second, payload of both
// directions) for a reply landing in a fixed destination large enough for it
// and for one landing in a growable block that starts at 20480 bytes, as
// SQLGetData receives long values.
//
// Usage: q4_link_bench [seconds per mode, default 3]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/memory.h"
#include "link/framing.h"
#include "protocol/wire.h"
#include "scripted_peer.h"

namespace {

using q4::wire::Bytes;
using Clock = std::chrono::steady_clock;

constexpr int32_t kPayloadSize = 1 << 20;
const char kCommand[] = {static_cast<char>(q4::kCmdExecute), 0};

struct Result {
  long exchanges = 0;
  double seconds = 0;
  bool ok = true;
};

// One exchange; returns the reply's payload size or a negative/zero failure.
int32_t exchange(q4::Connection* conn, const Bytes& payload, bool growable_mode,
                 std::vector<uint8_t>* fixed, char* status) {
  if (q4::send_request(conn->link, kCommand, payload.data(), kPayloadSize, 0) !=
      q4::LinkStatus::LINK_OK) {
    return 0;
  }
  if (!growable_mode) {
    return q4::receive_reply(
               conn->link, q4::ReplyArea{status, q4::kReplyStatusSize, fixed->data(), kPayloadSize},
               0)
        .bytes;
  }
  auto* block = static_cast<uint8_t*>(q4::drv_alloc(nullptr, nullptr, 20480));
  int32_t grown = 1;
  int32_t result =
      q4::receive_reply(conn->link,
                        q4::ReplyArea{status, q4::kReplyStatusSize, nullptr, 20479, &block, &grown},
                        0)
          .bytes;
  if (result == kPayloadSize && memcmp(block, payload.data(), kPayloadSize) != 0) result = -2;
  q4::drv_free(block);
  return result;
}

Result run(bool growable_mode, double seconds, const Bytes& payload) {
  Result result;
  q4::wire::ScriptedPeer peer;
  peer.set_step_timeout(60000);
  peer.echo_requests("K");
  q4::wire::ConnectionPtr conn = q4::wire::connect_link(peer.port());
  if (conn->link == nullptr) {
    result.ok = false;
    return result;
  }
  std::vector<uint8_t> fixed(kPayloadSize);
  std::vector<char> status(q4::kReplyStatusSize);
  for (int i = 0; i < 2; ++i) exchange(conn.get(), payload, growable_mode, &fixed, status.data());

  Clock::time_point start = Clock::now();
  do {
    if (exchange(conn.get(), payload, growable_mode, &fixed, status.data()) != kPayloadSize) {
      result.ok = false;
      break;
    }
    ++result.exchanges;
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  } while (result.seconds < seconds);
  if (!growable_mode && memcmp(fixed.data(), payload.data(), kPayloadSize) != 0) result.ok = false;
  conn.reset();  // the peer's echo ends when the driver closes
  if (!peer.finish().empty()) result.ok = false;
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = argc > 1 ? atof(argv[1]) : 3.0;
  Bytes payload = q4::wire::pattern_bytes(kPayloadSize);
  const struct {
    const char* name;
    bool growable;
  } modes[] = {{"fixed destination", false}, {"growable block", true}};
  int status = 0;
  for (const auto& mode : modes) {
    Result r = run(mode.growable, seconds, payload);
    if (!r.ok || r.exchanges == 0) {
      printf("%-18s  FAILED\n", mode.name);
      status = 1;
      continue;
    }
    double megabytes = 2.0 * kPayloadSize * static_cast<double>(r.exchanges) / 1e6;
    printf("%-18s  %5ld exchanges of 1 MiB each way in %.2f s: %7.1f MB/s, %.2f ms/exchange\n",
           mode.name, r.exchanges, r.seconds, megabytes / r.seconds,
           1000.0 * r.seconds / static_cast<double>(r.exchanges));
  }
  return status;
}
