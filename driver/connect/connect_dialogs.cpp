#include "connect/connect_dialogs.h"

#include "connect/dialogs_full.h"
#include "connect/dialogs_small.h"

namespace q4 {

int run_small_connect_dialog(Window* owner, Connection* conn) {
  dialog_ops()->bring_to_front(owner);
  SmallConnectDialog dialog;
  return dialog_ops()->run_dialog(kTemplateConnectInfo, owner, &dialog, conn);
}

int run_full_connect_dialog(Window* owner, Connection* conn, bool dsn_named) {
  FullConnectDialog dialog(dsn_named);
  int result = dialog_ops()->run_dialog(
      dsn_named ? kTemplateFullConnectInfo : kTemplateFullConnectInfo2, owner, &dialog, conn);
  conn->confirm_flag = 0;
  return result;
}

}  // namespace q4
