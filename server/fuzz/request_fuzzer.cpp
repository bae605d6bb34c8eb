// libFuzzer target: a byte stream from a client, fed to a whole session
// (frame assembly, request parsing, escape translation, SQL on an in-memory
// database, row blocks). Whatever the bytes, the session must neither crash
// nor leak; replies are discarded.
//
// The stream starts with a valid logon so that the fuzzer reaches the
// statement commands at once; the input follows it verbatim.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "server/network/link.h"
#include "server/session/options.h"
#include "server/session/session.h"

namespace {

class MemoryChannel : public q4::lite::Channel {
 public:
  MemoryChannel(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool read_exact(uint8_t* to, size_t n) override {
    if (size_ - pos_ < n) return false;
    std::memcpy(to, data_ + pos_, n);
    pos_ += n;
    return true;
  }
  bool write_all(const uint8_t*, size_t) override { return true; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

std::vector<uint8_t> logon_frame() {
  const std::string text = "h,vm,u,p,a,ap,";
  std::vector<uint8_t> f = {0, 0, 0x0E, 0, 0, static_cast<uint8_t>(text.size()), 0, 0};
  f.insert(f.end(), text.begin(), text.end());
  f[1] = static_cast<uint8_t>(f.size());
  return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const q4::lite::Options options = [] {
    q4::lite::Options o;
    o.quiet = true;
    o.max_request = 1 << 16;
    o.step_budget_thousands = 2000;  // no statement runs for long
    o.value_length_limit = 1 << 20;  // no value takes much memory
    return o;
  }();
  static const q4::lite::UserTable users;
  std::vector<uint8_t> stream = logon_frame();
  stream.insert(stream.end(), data, data + size);
  MemoryChannel channel(stream.data(), stream.size());
  q4::lite::Session session(options, users, channel);
  session.run();
  return 0;
}
