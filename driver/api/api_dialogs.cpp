// Exported dialog procedures for host programs that show connect windows of
// their own. Calling convention and types: platform/window_procedure.h.
#include "connect/dialogs_generic.h"
#include "connect/dialogs_spec_info.h"
#include "platform/export.h"

using namespace q4;

Q4_EXPORT DialogAnswer FDriverConnectProc(void* hwnd, unsigned int message, WParam wparam,
                                          LParam lparam) {
  return generic_connect_dialog(static_cast<Window*>(hwnd), message, wparam, lparam);
}

Q4_EXPORT DialogAnswer SpecInfoDlg(void* hwnd, unsigned int message, WParam wparam, LParam lparam) {
  return spec_info_dialog(static_cast<Window*>(hwnd), message, wparam, lparam);
}
