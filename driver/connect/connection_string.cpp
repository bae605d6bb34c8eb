#include "connect/connection_string.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "connect/password_scramble.h"
#include "connect/settings.h"

namespace q4 {

// clang-format off
const char* const kConnectKeywords[kConnectKeywordCount] = {
    "DSN", "DESCRIPTION", "SERVER", "PORTNUMBER", "VIRTUALMACHINE", "UID", "USER", "Q4PWD", "PWD",
    "ACPASSWORD", "ACCOUNT", "PASSWORD", "NOBLOCK", "NOCACHE", "AConnectDialog", "ConnectDialog",
    "Q4VERSION", "HOSTSFILE", "NotNullConstraint", "DisableExtFetch", "LoginTimeout", "DebugLog",
    "ServerFormatOpt", "NUMERICFORMAT", "LogFile", "PORT", "DisableArrayPipeline",
    "SSLMode", "SSLRootCert"};
// clang-format on

namespace {

// The items of the output string after the DSN item, in output order, and
// the connection field each writes.
enum class OutKind {
  kNever,     // known to the grammar but never written back
  kText,      // the field's text; skipped when empty
  kPassword,  // the field scrambled in string form; written even when empty
  kQ4Pwd,     // as kPassword, only when the string named no data source
  kLevel,     // server_version in decimal
  kTimeout,   // login_timeout in decimal
  kMarks,     // the three numeric marks joined by "/"
};

struct OutItem {
  const char* keyword;
  OutKind kind;
  size_t field;  // offset of the field in Connection (text kinds)
};

constexpr OutItem kOutItems[] = {
    {"DESCRIPTION", OutKind::kNever, 0},
    {"SERVER", OutKind::kText, offsetof(Connection, server)},
    {"PORTNUMBER", OutKind::kText, offsetof(Connection, port_text)},
    {"VIRTUALMACHINE", OutKind::kText, offsetof(Connection, virtual_machine)},
    {"UID", OutKind::kText, offsetof(Connection, user)},
    {"PWD", OutKind::kPassword, offsetof(Connection, password)},
    {"ACCOUNT", OutKind::kText, offsetof(Connection, account)},
    {"ACPASSWORD", OutKind::kPassword, offsetof(Connection, ac_password)},
    {"NOBLOCK", OutKind::kNever, 0},
    {"NOCACHE", OutKind::kNever, 0},
    {"ConnectDialog", OutKind::kText, offsetof(Connection, connect_dialog)},
    {"AConnectDialog", OutKind::kText, offsetof(Connection, account_connect_dialog)},
    {"Q4VERSION", OutKind::kLevel, 0},
    {"Q4PWD", OutKind::kQ4Pwd, offsetof(Connection, password)},
    {"NotNullConstraint", OutKind::kText, offsetof(Connection, not_null_constraint)},
    {"DisableExtFetch", OutKind::kNever, 0},
    {"LoginTimeout", OutKind::kTimeout, 0},
    {"ServerFormatOpt", OutKind::kText, offsetof(Connection, server_format_opt)},
    {"NUMERICFORMAT", OutKind::kMarks, 0},
    {"LogFile", OutKind::kText, offsetof(Connection, log_file)},
    {"DisableArrayPipeline", OutKind::kNever, 0},
    // Written back so that a saved string reconnects as securely as it did.
    {"SSLMode", OutKind::kText, offsetof(Connection, ssl_mode)},
    {"SSLRootCert", OutKind::kText, offsetof(Connection, ssl_root_cert)},
};

// A password field (19 characters) scrambled: "~", 19 characters, NUL.
constexpr size_t kScrambledSize = sizeof(Connection::password) + 1;

// The leftmost place where `keyword` stands in `text` followed by a blank or
// "=", or null. Case is ignored (through to_upper_char) when asked.
const char* find_keyword(const char* text, const char* keyword, bool ignore_case) {
  size_t length = strlen(keyword);
  for (const char* p = text; *p != '\0'; ++p) {
    size_t k = 0;
    for (; k < length && p[k] != '\0'; ++k) {
      unsigned char a = static_cast<unsigned char>(p[k]);
      unsigned char b = static_cast<unsigned char>(keyword[k]);
      if (ignore_case ? to_upper_char(a) != to_upper_char(b) : a != b) break;
    }
    if (k == length && (p[k] == ' ' || p[k] == '=')) return p;
  }
  return nullptr;
}

// Whether a known keyword (exact case) begins at `p`.
bool keyword_begins_at(const char* p) {
  for (const char* keyword : kConnectKeywords) {
    if (strncmp(p, keyword, strlen(keyword)) == 0) return true;
  }
  return false;
}

// Walks the value that begins at `p` (right after its "=") by the grammar's
// rules, handing each character of the value to `sink` until `limit`
// characters were taken. Returns the character that ended the value: a blank,
// a ";", the NUL, or the first character beyond the limit.
template <typename Sink>
const char* scan_value(const char* p, bool string_form, size_t limit, Sink sink) {
  const char* first = p;
  while (*first == ' ') ++first;
  bool scrambled = string_form && *first == '~';
  size_t taken = 0;
  for (;; ++p) {
    char c = *p;
    if (c == '\0' || taken == limit) return p;
    if (c == ' ') {
      if (taken == 0) continue;
      return p;
    }
    if (c == ';') {
      if (!scrambled || p[1] == '\0' || keyword_begins_at(p + 1)) return p;
      continue;  // a ";" inside a scrambled value is dropped
    }
    sink(c);
    ++taken;
  }
}

// A bounded writer of the output string.
class OutText {
 public:
  explicit OutText(char* buffer) : buffer_(buffer) { buffer_[0] = '\0'; }
  void add(const char* text) {
    while (*text != '\0' && length_ < kOutConnectStringMax) buffer_[length_++] = *text++;
    buffer_[length_] = '\0';
  }
  void add_item(const char* keyword, const char* value) {
    add(keyword);
    add("=");
    add(value);
    add(";");
  }
  // For in-place edits of the text written so far.
  void resync() { length_ = strlen(buffer_); }
  char* text() { return buffer_; }
  size_t length() const { return length_; }

 private:
  char* buffer_;
  size_t length_ = 0;
};

const char* field_text(const Connection* conn, size_t offset) {
  return reinterpret_cast<const char*>(conn) + offset;
}

}  // namespace

unsigned char to_upper_char(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 'a' + 'A');
  if (c >= 0xA0 && c <= 0xAF) return static_cast<unsigned char>(c - 0x20);
  if (c >= 0xE0 && c <= 0xEF) return static_cast<unsigned char>(c - 0x50);
  return c;
}

int get_keyword_value(const char* text, const char* keyword, char* dest, size_t capacity,
                      size_t* position, bool string_form) {
  if (capacity > 0) dest[0] = '\0';
  *position = 0;
  const char* match = find_keyword(text, keyword, true);
  if (match == nullptr) return 0;
  const char* equals = strchr(match + strlen(keyword), '=');
  if (equals == nullptr) return 0;
  if (capacity == 0) return 0;
  size_t length = 0;
  scan_value(equals + 1, string_form, capacity - 1, [&](char c) { dest[length++] = c; });
  dest[length] = '\0';
  *position = static_cast<size_t>(match - text);
  return 1;
}

int remove_keyword(char* text, const char* keyword) {
  const char* match = find_keyword(text, keyword, false);
  if (match == nullptr) return 0;
  const char* equals = strchr(match + strlen(keyword), '=');
  if (equals == nullptr) return 0;
  bool password = strcmp(keyword, "PWD") == 0 || strcmp(keyword, "PASSWORD") == 0 ||
                  strcmp(keyword, "ACPASSWORD") == 0;
  const char* end = scan_value(equals + 1, password, static_cast<size_t>(-1), [](char) {});
  if (*end != '\0') ++end;  // the ";" or blank that ended the value goes too
  char* start = text + (match - text);
  memmove(start, end, strlen(end) + 1);
  return 1;
}

void build_out_connect_string(char* output, const char* input, const Connection* conn,
                              bool dsn_named) {
  OutText out(output);
  char scratch[kOutConnectStringMax + 1];
  size_t position;
  if (dsn_named && get_keyword_value(input, "DSN", scratch, sizeof scratch, &position, false)) {
    out.add_item("DSN", conn->dsn);
  } else {
    out.add(input);
    if (out.length() == 0 || out.text()[out.length() - 1] != ';') out.add(";");
    for (int i = 1; i < kConnectKeywordCount; ++i) remove_keyword(out.text(), kConnectKeywords[i]);
    out.resync();
  }

  for (const OutItem& item : kOutItems) {
    switch (item.kind) {
      case OutKind::kNever:
        break;
      case OutKind::kText: {
        const char* value = field_text(conn, item.field);
        if (value[0] != '\0') out.add_item(item.keyword, value);
        break;
      }
      case OutKind::kQ4Pwd:
        if (dsn_named) break;
        [[fallthrough]];
      case OutKind::kPassword: {
        char scrambled[kScrambledSize];
        snprintf(scrambled, sizeof scrambled, "%s", field_text(conn, item.field));
        out.add_item(item.keyword, scramble_password(scrambled, true));
        break;
      }
      case OutKind::kLevel:
        snprintf(scratch, sizeof scratch, "%u", conn->server_version);
        out.add_item(item.keyword, scratch);
        break;
      case OutKind::kTimeout:
        snprintf(scratch, sizeof scratch, "%u", conn->login_timeout);
        out.add_item(item.keyword, scratch);
        break;
      case OutKind::kMarks:
        format_numeric_marks(scratch, sizeof scratch, conn->currency_sign, conn->thousand_mark,
                             conn->decimal_mark);
        out.add_item(item.keyword, scratch);
        break;
    }
  }
}

}  // namespace q4
