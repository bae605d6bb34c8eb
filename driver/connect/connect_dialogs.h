// The connect dialogs as the connect functions use them. The dialogs run
// through the dialog operations; without a user interface they cannot be
// shown and answer kDialogFailed, which the connect functions return as
// SQL_ERROR. A dialog that could not be shown ran none of its logic, so the
// record holds what the profile and the arguments gave, nothing is posted and
// no socket is opened: the application sees SQL_ERROR with no diagnostic
// and an unconnected connection, and may retry with the settings completed.
#pragma once

#include "core/records.h"
#include "platform/dialog_ops.h"

namespace q4 {

// Dialog templates.
inline constexpr const char* kTemplateConnectInfo = "CONNECTINFO";            // credentials
inline constexpr const char* kTemplateFullConnectInfo = "FULLCONNECTINFO";    // with a DSN
inline constexpr const char* kTemplateFullConnectInfo2 = "FULLCONNECTINFO2";  // without one

// Adds a progress line to the status list of `window` (nothing without one).
inline void show_status_line(Window* window, const char* text) {
  if (window != nullptr) dialog_ops()->add_status_line(window, text);
}

// What a dialog ends with when the user cancels; the connect functions pass
// it on as SQL_NO_DATA_FOUND.
constexpr int kDialogCancelled = 100;

// The small connect dialog (user, password, account, account password) over
// `owner` (may be null). 0 when the user confirmed, kDialogCancelled, or
// kDialogFailed.
int run_small_connect_dialog(Window* owner, Connection* conn);

// The full connect dialog over `owner`: FULLCONNECTINFO when the connection
// string named a data source, FULLCONNECTINFO2 otherwise. Results as above.
int run_full_connect_dialog(Window* owner, Connection* conn, bool dsn_named);

}  // namespace q4
