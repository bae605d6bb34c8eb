#include "connect/connect_dialogs.h"

namespace q4 {

int run_small_connect_dialog(Window* owner, Connection* conn) {
  dialog_ops()->bring_to_front(owner);
  return dialog_ops()->run_dialog(kTemplateConnectInfo, owner, conn);
}

int run_full_connect_dialog(Window* owner, Connection* conn, bool dsn_named) {
  return dialog_ops()->run_dialog(dsn_named ? kTemplateFullConnectInfo : kTemplateFullConnectInfo2,
                                  owner, conn);
}

}  // namespace q4
