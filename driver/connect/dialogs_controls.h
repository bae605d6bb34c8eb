// The controls of the connect windows, and moving connection fields in and
// out of them. One number means the same field in every window.
#pragma once

#include <cstddef>
#include <cstdio>

#include "core/records.h"
#include "platform/dialog_ops.h"

namespace q4 {

// Credentials.
constexpr int kControlUser = 202;
constexpr int kControlPassword = 204;
constexpr int kControlAccount = 207;
constexpr int kControlAcPassword = 209;
// Server.
constexpr int kControlDsn = 1134;
constexpr int kControlDescription = 1135;
constexpr int kControlServer = 1101;
constexpr int kControlPort = 1136;
constexpr int kControlVirtualMachine = 206;
constexpr int kControlVersionList = 218;
// Numeric format.
constexpr int kControlServerFormat = 1015;  // check box
constexpr int kControlDecimalMark = 1012;
constexpr int kControlThousandMark = 1013;
constexpr int kControlCurrencySign = 1014;
// Advanced.
constexpr int kControlLoginTimeout = 219;
constexpr int kControlConnectDialog = 1157;  // check box
constexpr int kControlNotNull = 1159;        // check box
// Buttons beside OK (kIdOk) and Cancel (kIdCancel).
constexpr int kControlHelp = 1158;

// A text control that shows and edits one text field of the connection
// record.
struct FieldControl {
  int control;
  size_t offset;  // of the field in the record
  size_t size;
};
#define Q4_FIELD_CONTROL(control, field)                            \
  FieldControl {                                                    \
    control, offsetof(Connection, field), sizeof(Connection::field) \
  }

inline char* field_of(Connection* conn, const FieldControl& entry) {
  return reinterpret_cast<char*>(conn) + entry.offset;
}

// Reads each control of [first, last) into its field.
inline void read_field_controls(Window* dialog, Connection* conn, const FieldControl* first,
                                const FieldControl* last) {
  for (const FieldControl* entry = first; entry != last; ++entry) {
    dialog_ops()->get_control_text(dialog, entry->control, field_of(conn, *entry), entry->size);
  }
}

// Puts `text` into `control` unless it is empty (the control keeps the
// template's text then).
inline void show_if_set(Window* dialog, int control, const char* text) {
  if (text[0] != '\0') dialog_ops()->set_control_text(dialog, control, text);
}

// Reads `control` into `field`, at most the field's size less one characters.
template <size_t N>
void read_control(Window* dialog, int control, char (&field)[N]) {
  dialog_ops()->get_control_text(dialog, control, field, N);
}

// The switch text a check box stands for: "Yes" when checked, else "No".
template <size_t N>
void read_check(Window* dialog, int control, char (&field)[N]) {
  snprintf(field, N, "%s", dialog_ops()->is_checked(dialog, control) ? "Yes" : "No");
}

}  // namespace q4
