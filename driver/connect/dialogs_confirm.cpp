#include "connect/dialogs_confirm.h"

#include "platform/strings.h"

namespace q4 {

namespace {

// OK ends the box with kIdOk, Cancel and closing with kIdCancel.
class ConfirmBox final : public DialogProc {
 public:
  void on_init(Window* dialog, Connection*) override { dialog_ops()->center_dialog(dialog); }
  void on_command(Window* dialog, int control) override {
    if (control == kIdOk || control == kIdCancel) dialog_ops()->end_dialog(dialog, control);
  }
  void on_close(Window* dialog) override { dialog_ops()->end_dialog(dialog, kIdCancel); }
};

// Longest template name in the string table, with room to spare.
constexpr size_t kTemplateNameSize = 32;

}  // namespace

bool confirm_box(Window* owner, Connection* conn, unsigned template_string) {
  char name[kTemplateNameSize] = "";
  load_string(template_string, name, sizeof name);
  ConfirmBox box;
  return dialog_ops()->run_dialog(name, owner, &box, conn) == kIdOk;
}

}  // namespace q4
