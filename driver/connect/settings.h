// Data source settings: reading the data source's section of ODBC.INI into a
// connection record, and the rules that turn setting texts into values. The
// same rules apply to the keywords of connection strings and to the dialogs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/records.h"
#include "link/tls_session.h"

namespace q4 {

// Room for the texts that become numbers or marks rather than fields, read
// from the profile or the connection string alike.
constexpr size_t kNumberTextSize = 10;         // a port, a time limit
constexpr size_t kLevelTextSize = 15;          // Q4VERSION
constexpr size_t kNumericFormatTextSize = 20;  // NUMERICFORMAT
// Password values are read with room for one character more than the field
// holds: the longest password scrambled is that long (its "~"), and the
// connection string this driver writes must read back whole. A plain value
// is cut to the field as any other value.
constexpr size_t kPasswordTextSize = sizeof(Connection::password) + 1;

// Version levels of the server releases the driver knows.
constexpr uint32_t kServerLevel700 = 700;
constexpr uint32_t kServerLevel710 = 710;  // and above: the later functions
constexpr uint32_t kServerLevel720 = 720;
constexpr uint32_t kServerLevel754 = 754;  // and above: numeric marks in the logon

inline constexpr const char* kDefaultPortText = "1603";
// Longest timeout accepted; also what a wait limit of 0 stands for.
constexpr uint32_t kMaxLoginTimeout = 32767;

// Reads `key` of the section `dsn` of ODBC.INI (the user's file, then the
// system's, as the installer library finds them) into `dest`: the stored
// value, or `default_text` when the key is absent, cut to size-1 characters.
void read_dsn_setting(const char* dsn, const char* key, const char* default_text, char* dest,
                      int size);

// Reads a password key into `field` (`size` bytes), unscrambling a stored
// scrambled form. The stored text may be one character longer than the field
// holds: a password of the longest length is one character longer scrambled
// (its "~"), and must still come back whole.
void read_password_setting(const char* dsn, const char* key, char* field, size_t size,
                           bool string_form);

// A switch text is on when it begins with an upper-case 'Y'.
inline bool switch_on(const char* text) {
  return text[0] == 'Y';
}

// The C library's leading-integer rule: optional white space, an optional
// sign, then decimal digits up to the first non-digit; no digits give 0.
// Values beyond 32 bits saturate.
int32_t parse_leading_int(const char* text);
// TCP port: a decimal number from 1 to 65535, blanks around it allowed;
// stored in *port in network byte order. False for anything else (no digits,
// other characters, 0, a number above 65535), *port untouched: a port read
// up to its first non-digit, or cut to 16 bits, would connect to a
// different server than the one named.
bool parse_port(const char* text, uint16_t* port);

// Reads the port of data source `dsn` into `port_text` (`size` bytes): its
// PORTNUMBER, or when it has none its PORT, or else "1603". A key that is
// present counts even when empty.
void read_port_setting(const char* dsn, char* port_text, int size);
// Time limit: the number taken as unsigned, capped at 32767 (so a negative
// number gives 32767).
uint32_t timeout_from_text(const char* text);
// SSLMode: "disable", "require", "verify-ca" or "verify-full", letter case
// ignored, blanks around allowed; empty is "disable". False for anything
// else, *mode untouched.
bool tls_mode_from_text(const char* text, TlsMode* mode);
// The SSLMode text of `mode`, as the driver log writes it.
const char* tls_mode_name(TlsMode mode);
// Version level: the 32-bit value unchanged.
uint32_t level_from_text(const char* text);

// Formats the three marks as NUMERICFORMAT holds them: currency sign,
// thousand mark and decimal mark joined by "/".
void format_numeric_marks(char* dest, size_t size, const char* currency, const char* thousand,
                          const char* decimal);
// Splits a NUMERICFORMAT text into the connection's currency sign, thousand
// mark and decimal mark (each cut to 5 characters). An empty part ends the
// split: that mark and the ones after it keep what they held. The third part
// ends at the first blank.
void split_numeric_format(Connection* conn, const char* text);

// SQLConnect's reading, after user and password: SERVER, VIRTUALMACHINE,
// the port (read_port_setting, into `port_text`; connect_and_logon turns it
// into `port`), NOBLOCK, NOCACHE, ACCOUNT, ACPASSWORD
// (unscrambled), AConnectDialog, NotNullConstraint, DisableExtFetch,
// Q4VERSION, LoginTimeout and, at level 754 and above, ServerFormatOpt and
// NUMERICFORMAT (whose default comes from the process-wide locale marks);
// last LogFile, the driver log's file (link/exchange_log.h).
void read_connect_settings(Connection* conn);

// SQLDriverConnect's reading of the whole section of conn->dsn, LogFile last.
// Returns whether the profile gave a user (USER, or UID when USER is empty).
bool read_driver_connect_settings(Connection* conn);

// SQLDriverConnect without a data source: the settings a profile would give,
// with the marks taken from the process-wide locale marks. Fields not named
// here keep what the record holds.
void set_settings_without_dsn(Connection* conn);

}  // namespace q4
