// The calling convention of the two exported dialog procedures,
// FDriverConnectProc and SpecInfoDlg:
//
//   intptr_t procedure(void* window, unsigned int message, uintptr_t wparam, intptr_t lparam);
//
// A host program's dialog manager calls them once per message. Linux has no
// window-system ABI for this, so the types keep the shape such procedures have
// always had: an opaque window handle (which the procedure passes to the
// dialog operations in use, see platform/dialog_ops.h), a message number, and
// two message parameters as wide as a pointer, because the initialisation
// message carries the connection record's address in `lparam`. The answer is
// a pointer-sized integer too: 1 (TRUE) when the procedure handled the
// message, 0 (FALSE) when the host should do its default processing.
#pragma once

#include <cstdint>

namespace q4 {

using WParam = uintptr_t;       // WM_COMMAND: control id in the low 16 bits
using LParam = intptr_t;        // WM_INITDIALOG: the Connection* the dialog serves
using DialogAnswer = intptr_t;  // kTrue / kFalse

constexpr DialogAnswer kTrue = 1;
constexpr DialogAnswer kFalse = 0;

// Message numbers, with their usual values.
constexpr unsigned kWmDestroy = 0x0002;
constexpr unsigned kWmClose = 0x0010;
constexpr unsigned kWmInitDialog = 0x0110;
constexpr unsigned kWmCommand = 0x0111;

// The control that sent a WM_COMMAND.
inline int command_control(WParam wparam) {
  return static_cast<int>(wparam & 0xFFFF);
}

}  // namespace q4
