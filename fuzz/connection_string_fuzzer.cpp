// libFuzzer target: the connection-string grammar of SQLDriverConnect. The
// input is a connection string as an application might pass it; every known
// keyword is looked up (plain and in the scrambled-password form, with
// generous and with tight destinations), removed, and the completed output
// string is built from what was found. Whatever the text, nothing may be
// read past its NUL or written past a destination.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "connect/connection_string.h"
#include "connect/password_scramble.h"

namespace {

// Looks `keyword` up into a field of the record, as SQLDriverConnect does.
template <size_t N>
void take(const char* text, const char* keyword, char (&field)[N], bool string_form) {
  size_t position = 0;
  q4::get_keyword_value(text, keyword, field, N, &position, string_form);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // Byte 0 picks the keywords looked up in full (a quarter of them per run,
  // so that each run stays fast); the text follows and ends at its first
  // NUL, as an application's would.
  const size_t first_keyword = data[0] % q4::kConnectKeywordCount;
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  std::string text(bytes, strnlen(bytes, size - 1));
  const char* input = text.c_str();

  for (size_t i = 0; i < q4::kConnectKeywordCount / 4; ++i) {
    const char* keyword = q4::kConnectKeywords[(first_keyword + i) % q4::kConnectKeywordCount];
    for (bool string_form : {false, true}) {
      char roomy[1100];
      char tight[3];
      size_t position = 0;
      q4::get_keyword_value(input, keyword, roomy, sizeof roomy, &position, string_form);
      q4::get_keyword_value(input, keyword, tight, sizeof tight, &position, string_form);
    }
    std::string copy = text;
    q4::remove_keyword(copy.data(), keyword);
  }

  // The record is large; it lives on the heap, zero-filled as the driver's.
  auto* conn = static_cast<q4::Connection*>(calloc(1, sizeof(q4::Connection)));
  take(input, "DSN", conn->dsn, false);
  take(input, "SERVER", conn->server, false);
  take(input, "PORTNUMBER", conn->port_text, false);
  take(input, "UID", conn->user, false);
  take(input, "ACCOUNT", conn->account, false);
  take(input, "PWD", conn->password, true);
  take(input, "ACPASSWORD", conn->ac_password, true);
  // A scrambled value is unscrambled in place.
  q4::unscramble_password(conn->password, true);
  q4::unscramble_password(conn->ac_password, true);
  char out[q4::kOutConnectStringMax + 1];
  q4::build_out_connect_string(out, input, conn, (data[0] & 0x80) != 0);
  free(conn);
  return 0;
}
