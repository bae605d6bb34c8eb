// The full connect dialog: every setting of a connection. FULLCONNECTINFO
// when the connection string named a data source (its name and description
// may be edited), FULLCONNECTINFO2 otherwise (they are only shown).
#pragma once

#include <cstdint>

#include "core/records.h"
#include "platform/dialog_ops.h"

namespace q4 {

// The items of the server version list, and the level each stands for.
struct VersionItem {
  const char* text;
  uint32_t level;
};
extern const VersionItem kVersionItems[4];

// The list item shown for `level`: its own item for the four levels the
// list offers, "7.1.X" for any other number.
const char* version_item_for_level(uint32_t level);
// The level of a selected item's text; 754 for any text that is not one of
// the first three items (an empty selection included).
uint32_t level_for_version_item(const char* text);

// OK (button 1) reads every control into the record, then checks the
// entries; each failed check shows an information box and keeps the dialog
// open. With a data source, a missing user or account name is confirmed
// through CONFDLGU / CONFDLGA (which turn the matching connect-time dialog
// switch to "YES"); without one, both are required. The dialog ends with 0
// once the entries pass. Cancel (2) ends it with 100, closing the window with
// 0 (neither reads the controls); Help (1158) opens the help document.
// `conn->confirm_flag` is 1 while the confirm boxes run and 0 otherwise.
class FullConnectDialog final : public DialogProc {
 public:
  explicit FullConnectDialog(bool dsn_named) : dsn_named_(dsn_named) {}

  void on_init(Window* dialog, Connection* conn) override;
  void on_command(Window* dialog, int control) override;
  void on_close(Window* dialog) override;

 private:
  void read_controls(Window* dialog);
  // The checks of OK, in order; each false keeps the dialog open.
  bool required_fields_given(Window* dialog);
  bool server_resolves(Window* dialog);
  bool names_confirmed(Window* dialog);
  bool names_given(Window* dialog);
  void show_help();

  bool dsn_named_;
  Connection* conn_ = nullptr;
};

}  // namespace q4
