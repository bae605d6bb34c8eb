// A generic dialog procedure that host programs may use for simple connect
// windows of their own (exported as FDriverConnectProc; the driver itself
// does not use it).
#pragma once

#include "platform/dialog_ops.h"
#include "platform/window_procedure.h"

namespace q4 {

// WM_INITDIALOG answers TRUE; WM_COMMAND from control 1 ends the dialog with
// 1 and from control 2 with 0, answering TRUE; everything else answers FALSE.
DialogAnswer generic_connect_dialog(Window* window, unsigned message, WParam wparam, LParam lparam);

}  // namespace q4
