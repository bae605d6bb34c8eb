#include "connect/dialogs_generic.h"

namespace q4 {

DialogAnswer generic_connect_dialog(Window* window, unsigned message, WParam wparam, LParam) {
  if (message == kWmInitDialog) return kTrue;
  if (message != kWmCommand) return kFalse;
  int control = command_control(wparam);
  if (control != kIdOk && control != kIdCancel) return kFalse;
  dialog_ops()->end_dialog(window, control == kIdOk ? 1 : 0);
  return kTrue;
}

}  // namespace q4
