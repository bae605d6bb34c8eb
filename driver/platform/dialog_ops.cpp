#include "platform/dialog_ops.h"

namespace q4 {

namespace {

// Without a user interface nothing is shown: status lines go nowhere and a
// message box counts as cancelled.
class NoUserInterface final : public DialogOps {
 public:
  void add_status_line(Window*, const char*) override {}
  int message_box(Window*, const char*, const char*, unsigned) override { return kIdCancel; }
};

NoUserInterface g_no_ui;
DialogOps* g_ops = &g_no_ui;

}  // namespace

DialogOps* dialog_ops() {
  return g_ops;
}

DialogOps* set_dialog_ops(DialogOps* ops) {
  DialogOps* previous = g_ops;
  g_ops = ops != nullptr ? ops : &g_no_ui;
  return previous;
}

}  // namespace q4
