#include "platform/dialog_ops.h"

#include "platform/terminal_dialogs.h"

namespace q4 {

// The default bodies: a platform without dialogs.
int DialogOps::run_dialog(const char*, Window*, DialogProc*, Connection*) {
  return kDialogFailed;
}
void DialogOps::end_dialog(Window*, int) {}
int DialogOps::get_control_text(Window*, int, char* dest, size_t size) {
  if (size > 0) dest[0] = '\0';
  return 0;
}
void DialogOps::set_control_text(Window*, int, const char*) {}
void DialogOps::limit_text(Window*, int, int) {}
void DialogOps::set_check(Window*, int, bool) {}
bool DialogOps::is_checked(Window*, int) {
  return false;
}
void DialogOps::combo_add(Window*, int, const char*) {}
void DialogOps::combo_select(Window*, int, const char*) {}
int DialogOps::combo_get_selected(Window*, int, char* dest, size_t size) {
  if (size > 0) dest[0] = '\0';
  return 0;
}
void DialogOps::bring_to_front(Window*) {}
void DialogOps::center_dialog(Window*) {}
bool DialogOps::open_document(const char*, const char*) {
  return false;
}

#ifndef Q4_TEST_SEAMS

DialogOps* dialog_ops() {
  return terminal_dialogs();
}

#else

namespace {

// Without a user interface nothing is shown: status lines go nowhere, a
// message box counts as cancelled and no dialog can run.
class NoUserInterface final : public DialogOps {
 public:
  void add_status_line(Window*, const char*) override {}
  int message_box(Window*, const char*, const char*, unsigned) override { return kIdCancel; }
};

NoUserInterface g_no_ui;
DialogOps* g_ops = nullptr;  // null: the platform's

}  // namespace

DialogOps* dialog_ops() {
  return g_ops != nullptr ? g_ops : terminal_dialogs();
}

DialogOps* set_dialog_ops(DialogOps* ops) {
  DialogOps* previous = dialog_ops();
  g_ops = ops;
  return previous;
}

DialogOps* no_user_interface() {
  return &g_no_ui;
}

#endif

}  // namespace q4
