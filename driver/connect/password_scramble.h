// The scrambled form of stored passwords: "~" followed by one character for
// each character of the plain value. It keeps passwords in ODBC.INI and in
// connection strings from being read at a glance; it is not encryption.
#pragma once

namespace q4 {

// Scrambles `value` in place. An empty value stays empty. The buffer needs
// room for strlen(value) + 2 bytes (the "~" and the terminator). With
// `string_form` the result holds no ";" (a blank stands in its place), so that
// it can stand inside a connection-string item.
char* scramble_password(char* value, bool string_form);

// Unscrambles `value` in place when it begins with "~"; any other value is
// returned unchanged. `string_form` must match the form it was scrambled in.
char* unscramble_password(char* value, bool string_form);

}  // namespace q4
