#include "connect/dialogs_small.h"

#include "connect/connect_dialogs.h"
#include "connect/dialogs_controls.h"

namespace q4 {

void SmallConnectDialog::on_init(Window* dialog, Connection* conn) {
  conn_ = conn;
  DialogOps* ops = dialog_ops();
  ops->center_dialog(dialog);
  ops->bring_to_front(dialog);
  show_if_set(dialog, kControlUser, conn->user);
  show_if_set(dialog, kControlPassword, conn->password);
  show_if_set(dialog, kControlAccount, conn->account);
  show_if_set(dialog, kControlAcPassword, conn->ac_password);
}

void SmallConnectDialog::on_command(Window* dialog, int control) {
  if (control == kIdOk) {
    read_control(dialog, kControlUser, conn_->user);
    read_control(dialog, kControlPassword, conn_->password);
    read_control(dialog, kControlAccount, conn_->account);
    read_control(dialog, kControlAcPassword, conn_->ac_password);
    dialog_ops()->end_dialog(dialog, 0);
  } else if (control == kIdCancel) {
    dialog_ops()->end_dialog(dialog, kDialogCancelled);
  }
}

// Closing the window connects with what the record already holds.
void SmallConnectDialog::on_close(Window* dialog) {
  dialog_ops()->end_dialog(dialog, 0);
}

}  // namespace q4
