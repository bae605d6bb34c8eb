#include "connect/settings.h"

#include <arpa/inet.h>
#include <odbcinst.h>
#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "connect/password_scramble.h"
#include "platform/locale_marks.h"

namespace q4 {

namespace {

// Size of the reads that go into a scratch field rather than the record.
constexpr int kHostsFileSize = 65;

template <size_t N>
void set_text(char (&field)[N], const char* text) {
  snprintf(field, N, "%s", text);
}

// Reads `key` straight into a field of the record, with the field's size.
template <size_t N>
void read_into(const Connection* conn, const char* key, const char* default_text,
               char (&field)[N]) {
  read_dsn_setting(conn->dsn, key, default_text, field, static_cast<int>(N));
}

// NOBLOCK, NOCACHE and HOSTSFILE are still read so that the profile is read
// as it always was, but their values change nothing.
void read_ignored(const Connection* conn, const char* key, const char* default_text, int size) {
  char ignored[kHostsFileSize];
  read_dsn_setting(conn->dsn, key, default_text, ignored, size);
}

template <size_t N>
void read_password(const Connection* conn, const char* key, char (&field)[N], bool string_form) {
  read_password_setting(conn->dsn, key, field, N, string_form);
}

void read_tls_settings(Connection* conn) {
  read_into(conn, "SSLMode", "", conn->ssl_mode);
  read_into(conn, "SSLRootCert", "", conn->ssl_root_cert);
}

void read_level_and_timeout(Connection* conn) {
  char text[kLevelTextSize];
  read_dsn_setting(conn->dsn, "Q4VERSION", "754", text, kLevelTextSize);
  conn->server_version = level_from_text(text);
  read_dsn_setting(conn->dsn, "LoginTimeout", "0", text, kNumberTextSize);
  conn->login_timeout = timeout_from_text(text);
}

// At level 754 and above the profile may choose the server's own numeric
// settings or give the marks; the default marks are the user locale's.
void read_numeric_format(Connection* conn) {
  if (conn->server_version < kServerLevel754) return;
  read_into(conn, "ServerFormatOpt", "No", conn->server_format_opt);
  LocaleMarks marks = locale_marks();
  char default_text[kNumericFormatTextSize];
  format_numeric_marks(default_text, sizeof default_text, marks.currency_sign, marks.thousand_mark,
                       marks.decimal_mark);
  char text[kNumericFormatTextSize];
  read_dsn_setting(conn->dsn, "NUMERICFORMAT", default_text, text, kNumericFormatTextSize);
  split_numeric_format(conn, text);
}

// Copies one part of a NUMERICFORMAT text (at most 5 characters of it) and
// returns where the part ended.
const char* take_part(const char* p, const char* end, char (&field)[6]) {
  size_t length = static_cast<size_t>(end - p);
  if (length > sizeof field - 1) length = sizeof field - 1;
  memcpy(field, p, length);
  field[length] = '\0';
  return end;
}

}  // namespace

void read_dsn_setting(const char* dsn, const char* key, const char* default_text, char* dest,
                      int size) {
  if (size <= 0) return;
  dest[0] = '\0';
  // The installer answers -1 only when it cannot open any ODBC.INI at all;
  // the default applies then as for an absent key.
  if (SQLGetPrivateProfileString(dsn, key, default_text, dest, size, "ODBC.INI") < 0) {
    snprintf(dest, static_cast<size_t>(size), "%s", default_text);
  }
}

void read_password_setting(const char* dsn, const char* key, char* field, size_t size,
                           bool string_form) {
  char value[kPasswordTextSize];
  read_dsn_setting(dsn, key, "", value,
                   static_cast<int>(size + 1 < sizeof value ? size + 1 : sizeof value));
  unscramble_password(value, string_form);
  snprintf(field, size, "%s", value);
}

int32_t parse_leading_int(const char* text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (isspace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  int64_t value = 0;
  for (; isdigit(*p); ++p) {
    value = value * 10 + (*p - '0');
    if (value > INT32_MAX + int64_t{1}) value = INT32_MAX + int64_t{1};
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return static_cast<int32_t>(value);
}

bool parse_port(const char* text, uint16_t* port) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p == ' ' || *p == '\t') ++p;
  uint32_t value = 0;
  const unsigned char* digits = p;
  for (; isdigit(*p); ++p) {
    value = value * 10 + static_cast<uint32_t>(*p - '0');
    if (value > 65535) return false;
  }
  if (p == digits) return false;
  while (*p == ' ' || *p == '\t') ++p;
  if (*p != '\0' || value == 0) return false;
  *port = htons(static_cast<uint16_t>(value));
  return true;
}

void read_port_setting(const char* dsn, char* port_text, int size) {
  // The installer hands back the default only for a key that is absent; no
  // value read from a line can hold a line break.
  const char* const absent = "\n";
  read_dsn_setting(dsn, "PORTNUMBER", absent, port_text, size);
  if (strcmp(port_text, absent) != 0) return;
  // PORT, the name most drivers give the setting, when PORTNUMBER is absent.
  read_dsn_setting(dsn, "PORT", absent, port_text, size);
  if (strcmp(port_text, absent) == 0)
    snprintf(port_text, static_cast<size_t>(size), "%s", kDefaultPortText);
}

namespace {

struct TlsModeName {
  const char* text;
  TlsMode mode;
};
constexpr TlsModeName kTlsModeNames[] = {
    {"disable", TlsMode::kDisable},
    {"require", TlsMode::kRequire},
    {"verify-ca", TlsMode::kVerifyCa},
    {"verify-full", TlsMode::kVerifyFull},
};

}  // namespace

bool tls_mode_from_text(const char* text, TlsMode* mode) {
  while (isspace(static_cast<unsigned char>(*text))) ++text;
  size_t length = strlen(text);
  while (length > 0 && isspace(static_cast<unsigned char>(text[length - 1]))) --length;
  if (length == 0) {
    *mode = TlsMode::kDisable;
    return true;
  }
  for (const TlsModeName& entry : kTlsModeNames) {
    if (strlen(entry.text) == length && strncasecmp(text, entry.text, length) == 0) {
      *mode = entry.mode;
      return true;
    }
  }
  return false;
}

const char* tls_mode_name(TlsMode mode) {
  for (const TlsModeName& entry : kTlsModeNames) {
    if (entry.mode == mode) return entry.text;
  }
  return "disable";
}

uint32_t timeout_from_text(const char* text) {
  uint32_t value = static_cast<uint32_t>(parse_leading_int(text));
  return value > kMaxLoginTimeout ? kMaxLoginTimeout : value;
}

uint32_t level_from_text(const char* text) {
  return static_cast<uint32_t>(parse_leading_int(text));
}

void format_numeric_marks(char* dest, size_t size, const char* currency, const char* thousand,
                          const char* decimal) {
  snprintf(dest, size, "%s/%s/%s", currency, thousand, decimal);
}

void split_numeric_format(Connection* conn, const char* text) {
  const char* p = text;
  const char* end = strchr(p, '/');
  if (end == nullptr) end = p + strlen(p);
  if (end == p) return;
  p = take_part(p, end, conn->currency_sign);
  if (*p != '/') return;
  ++p;
  end = strchr(p, '/');
  if (end == nullptr) end = p + strlen(p);
  if (end == p) return;
  p = take_part(p, end, conn->thousand_mark);
  if (*p != '/') return;
  ++p;
  // The decimal mark is one word: leading white space is skipped and the
  // first blank after it ends the part.
  while (isspace(static_cast<unsigned char>(*p))) ++p;
  end = p;
  while (*end != '\0' && !isspace(static_cast<unsigned char>(*end))) ++end;
  if (end == p) return;
  take_part(p, end, conn->decimal_mark);
}

void read_connect_settings(Connection* conn) {
  read_into(conn, "SERVER", "", conn->server);
  read_into(conn, "VIRTUALMACHINE", "", conn->virtual_machine);
  read_port_setting(conn->dsn, conn->port_text, sizeof conn->port_text);
  read_ignored(conn, "NOBLOCK", "0", kNumberTextSize);
  read_ignored(conn, "NOCACHE", "0", kNumberTextSize);
  read_into(conn, "ACCOUNT", "", conn->account);
  read_password(conn, "ACPASSWORD", conn->ac_password, false);
  read_into(conn, "AConnectDialog", "", conn->account_connect_dialog);
  read_into(conn, "NotNullConstraint", "Yes", conn->not_null_constraint);
  read_into(conn, "DisableExtFetch", "No", conn->disable_ext_fetch);
  read_into(conn, "DisableArrayPipeline", "No", conn->disable_array_pipeline);
  read_tls_settings(conn);
  read_level_and_timeout(conn);
  read_numeric_format(conn);
  read_into(conn, "LogFile", "", conn->log_file);
}

bool read_driver_connect_settings(Connection* conn) {
  read_into(conn, "DESCRIPTION", "", conn->description);
  read_into(conn, "SERVER", "", conn->server);
  read_into(conn, "VIRTUALMACHINE", "", conn->virtual_machine);
  read_into(conn, "USER", "", conn->user);
  if (conn->user[0] == '\0') read_into(conn, "UID", "", conn->user);
  bool profile_gave_user = conn->user[0] != '\0';
  read_into(conn, "ACCOUNT", "", conn->account);
  read_password(conn, "PASSWORD", conn->password, true);
  if (conn->password[0] == '\0') read_password(conn, "PWD", conn->password, true);
  read_password(conn, "ACPASSWORD", conn->ac_password, true);
  read_into(conn, "ConnectDialog", "", conn->connect_dialog);
  read_into(conn, "AConnectDialog", "", conn->account_connect_dialog);
  read_into(conn, "NotNullConstraint", "Yes", conn->not_null_constraint);
  read_into(conn, "DisableExtFetch", "No", conn->disable_ext_fetch);
  read_into(conn, "DisableArrayPipeline", "No", conn->disable_array_pipeline);
  read_tls_settings(conn);
  read_ignored(conn, "HOSTSFILE", "", kHostsFileSize);
  read_port_setting(conn->dsn, conn->port_text, sizeof conn->port_text);
  read_ignored(conn, "NOBLOCK", "0", kNumberTextSize);
  read_ignored(conn, "NOCACHE", "0", kNumberTextSize);
  read_level_and_timeout(conn);
  read_numeric_format(conn);
  read_into(conn, "LogFile", "", conn->log_file);
  return profile_gave_user;
}

void set_settings_without_dsn(Connection* conn) {
  conn->dsn[0] = '\0';
  conn->virtual_machine[0] = '\0';
  set_text(conn->port_text, kDefaultPortText);
  set_text(conn->connect_dialog, "No");
  set_text(conn->account_connect_dialog, "No");
  set_text(conn->disable_ext_fetch, "No");
  set_text(conn->disable_array_pipeline, "No");
  conn->ssl_mode[0] = '\0';
  conn->ssl_root_cert[0] = '\0';
  set_text(conn->server_format_opt, "No");
  set_text(conn->not_null_constraint, "Yes");
  conn->server_version = kServerLevel754;
  conn->login_timeout = 0;
  conn->log_file[0] = '\0';
  LocaleMarks marks = locale_marks();
  set_text(conn->currency_sign, marks.currency_sign);
  set_text(conn->thousand_mark, marks.thousand_mark);
  set_text(conn->decimal_mark, marks.decimal_mark);
}

}  // namespace q4
