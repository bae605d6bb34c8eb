// The small connect dialog (template CONNECTINFO): user, password, account
// and account password of a connection, asked before it logs on.
#pragma once

#include "core/records.h"
#include "platform/dialog_ops.h"

namespace q4 {

// Connect (button 1) reads the four controls into the record and ends the
// dialog with 0; Cancel (2) ends it with 100 and closing the window with 0,
// both without reading anything. The record is the one run_dialog hands to
// on_init; it must outlive the dialog.
class SmallConnectDialog final : public DialogProc {
 public:
  void on_init(Window* dialog, Connection* conn) override;
  void on_command(Window* dialog, int control) override;
  void on_close(Window* dialog) override;

 private:
  Connection* conn_ = nullptr;
};

}  // namespace q4
