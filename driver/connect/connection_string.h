// The connection-string grammar of SQLDriverConnect.
//
// A connection string is a run of items "keyword=value;". Keywords are found
// by searching the whole text, not by splitting it into items: a keyword may
// match inside a longer one (PWD inside Q4PWD=), the leftmost match wins, and
// case is ignored when looking up but not when removing. Scrambled passwords
// (values beginning with "~") may hold ";" (the string form of the grammar).
#pragma once

#include <cstddef>

#include "core/records.h"

namespace q4 {

// The keywords the grammar knows, in removal order: a keyword that ends
// another comes after it (Q4PWD before PWD, ACPASSWORD before PASSWORD,
// AConnectDialog before ConnectDialog), so that each removal takes a whole
// item. The newer ones come last: LogFile, then PORT (the port under the
// name most drivers use; PORTNUMBER wins over it), then DisableArrayPipeline,
// then the two TLS settings.
constexpr int kConnectKeywordCount = 29;
extern const char* const kConnectKeywords[kConnectKeywordCount];

// The output connection string holds at most this many characters.
constexpr size_t kOutConnectStringMax = 1023;

// The driver's upper-case mapping of one byte: a-z to A-Z, and the lower-case
// letters of code page 866 (0xA0-0xAF to 0x80-0x8F, 0xE0-0xEF to 0x90-0x9F).
unsigned char to_upper_char(unsigned char c);

// Looks `keyword` up in `text` and copies its value into `dest` (at most
// capacity-1 characters and a NUL).
// - A match needs the characters after it to be a blank or "="; the value
//   starts after the next "=" and ends at a blank (leading blanks are
//   skipped), at ";" or at the end of the text.
// - `string_form`: a value beginning with "~" is a scrambled password; a ";"
//   in it ends it only when a known keyword (exact case) or nothing follows,
//   otherwise the ";" is dropped and the value goes on.
// Returns 1 when found (even with an empty value) and stores the keyword's
// offset in *position; otherwise 0, an empty `dest` and *position 0.
// A match with no "=" anywhere after it counts as absent: the keyword was
// mentioned but given no value, and inventing one from a later item would
// send the wrong credentials.
int get_keyword_value(const char* text, const char* keyword, char* dest, size_t capacity,
                      size_t* position, bool string_form);

// Removes the first item of `keyword` (exact case) from `text` in place: from
// the keyword through the character that ended its value, or to the end of
// the text. Returns 1 when an item was removed.
int remove_keyword(char* text, const char* keyword);

// Builds the completed connection string into `output` (room for
// kOutConnectStringMax characters and a NUL).
// - With a data source named (and a DSN item in the input) it begins with
//   "DSN=<dsn>;"; otherwise with the input, minus every known keyword's item
//   and ended by ";".
// - Then the connection's settings follow, one item each; the passwords are
//   always written, scrambled. Q4PWD only when no data source is named;
//   LogFile last, only when the connection has a log file.
void build_out_connect_string(char* output, const char* input, const Connection* conn,
                              bool dsn_named);

}  // namespace q4
