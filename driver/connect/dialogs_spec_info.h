// The connect window of a host program, served by the exported SpecInfoDlg.
// The host supplies the window (its template is not the driver's) with the
// credential, server and mark controls of the full connect dialog, a note
// (215), a status list (1102) and the commands below, and hands the
// connection record to the procedure in WM_INITDIALOG's lparam.
#pragma once

#include "platform/dialog_ops.h"
#include "platform/window_procedure.h"

namespace q4 {

constexpr int kControlNote = 215;
constexpr int kCommandConnect = 1105;    // log on with the window's entries
constexpr int kCommandSave = 216;        // save the record to ODBC.INI
constexpr int kCommandSetAccount = 217;  // send the account set request
constexpr int kCommandLeave = 2;         // ends the dialog with 0
constexpr int kCommandLeaveDone = 211;   // ends the dialog with 1

// The window procedure. WM_INITDIALOG fills the controls from the record and
// answers TRUE; WM_COMMAND from one of the commands acts and answers TRUE;
// WM_DESTROY ends the dialog with 1. Anything else answers FALSE.
//
// The record is kept in a process-wide variable from WM_INITDIALOG on (the
// procedure has nowhere else to keep it), so at most one such window may be
// open in a process at a time. Commands that arrive before any WM_INITDIALOG
// answer FALSE and do nothing.
DialogAnswer spec_info_dialog(Window* window, unsigned message, WParam wparam, LParam lparam);

}  // namespace q4
