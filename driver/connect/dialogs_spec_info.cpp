#include "connect/dialogs_spec_info.h"

#include <odbcinst.h>

#include <cstdio>
#include <cstring>
#include <iterator>

#include "connect/dialogs_controls.h"
#include "connect/logon.h"
#include "connect/settings.h"
#include "core/records.h"
#include "connect/connect_dialogs.h"
#include "link/link.h"
#include "protocol/wire.h"

namespace q4 {

namespace {

constexpr const char* kNote =
    "   NOTE\r\n Modify the connection parameters\r\n and then select the <Connect> menu item.\r\n "
    "All parameters exept Account and \r\n and Account password must be set\r\n";
constexpr const char* kMissingParameter = "Missing Connection Parameter";
constexpr const char* kMissingParameterTitle = "Logical Error";
constexpr const char* kSaveQuestion = "Save parameters in the ODBC.INI file?";
constexpr const char* kSaveTitle = "Save connection parameters";
constexpr const char* kProfileFile = "ODBC.INI";
constexpr const char* kLinkError = "Link error!!";
constexpr const char* kAccountSet = "Account set";
// Not one of the window's fixed texts: a save that the installer library
// refused must not pass for a saved one.
constexpr const char* kSaveFailed = "Saving to ODBC.INI failed";

// The record the open window serves, from WM_INITDIALOG on.
Connection* g_conn = nullptr;

// A field is shown unless it holds a "?" placeholder.
void show_unless_placeholder(Window* window, int control, const char* text) {
  if (text[0] != '?') dialog_ops()->set_control_text(window, control, text);
}

// The window's text controls: the three a logon cannot go without first,
// then the rest.
constexpr FieldControl kControls[] = {
    Q4_FIELD_CONTROL(kControlServer, server),
    Q4_FIELD_CONTROL(kControlUser, user),
    Q4_FIELD_CONTROL(kControlVirtualMachine, virtual_machine),
    Q4_FIELD_CONTROL(kControlPassword, password),
    Q4_FIELD_CONTROL(kControlAccount, account),
    Q4_FIELD_CONTROL(kControlAcPassword, ac_password),
    Q4_FIELD_CONTROL(kControlDecimalMark, decimal_mark),
    Q4_FIELD_CONTROL(kControlThousandMark, thousand_mark),
    Q4_FIELD_CONTROL(kControlCurrencySign, currency_sign),
};
constexpr size_t kRequiredControls = 3;

void on_init(Window* window, Connection* conn) {
  g_conn = conn;
  DialogOps* ops = dialog_ops();
  ops->center_dialog(window);
  for (const FieldControl& entry : kControls) {
    show_unless_placeholder(window, entry.control, field_of(conn, entry));
  }
  ops->set_control_text(window, kControlNote, kNote);
}

// Logs on with the window's entries. The port and the field separator are
// those an earlier connect call left in the record. Progress and a refusal
// go to the window's status list.
void connect(Window* window, Connection* conn) {
  read_field_controls(window, conn, kControls, kControls + kRequiredControls);
  if (conn->server[0] == '\0' || conn->user[0] == '\0' || conn->virtual_machine[0] == '\0') {
    dialog_ops()->message_box(window, kMissingParameter, kMissingParameterTitle,
                              kMbIconInformation);
    return;
  }
  read_field_controls(window, conn, kControls + kRequiredControls, std::end(kControls));
  build_logon_text(conn);
  switch (logon(window, conn)) {
    case kLogonAccepted:
      dialog_ops()->end_dialog(window, 1);
      return;
    case kLogonRefused:
      close_link(conn->link);
      conn->link = nullptr;
      return;
    default:
      // No link (nothing to close), or a transport failure that was posted
      // on the connection: the record counts as connected until
      // SQLDisconnect closes its lost link, as after any link failure.
      return;
  }
}

bool write_setting(const Connection* conn, const char* key, const char* value) {
  return SQLWritePrivateProfileString(conn->dsn, key, value, kProfileFile) != 0;
}

// Writes the record's settings into its data source's section, passwords in
// plain text.
void save(Window* window, Connection* conn) {
  if (dialog_ops()->message_box(window, kSaveQuestion, kSaveTitle, kMbYesNo) != kIdYes) return;
  bool saved = true;
  saved &= write_setting(conn, "SERVER", conn->server);
  saved &= write_setting(conn, "VIRTUALMACHINE", conn->virtual_machine);
  saved &= write_setting(conn, "USER", conn->user);
  saved &= write_setting(conn, "ACCOUNT", conn->account);
  saved &= write_setting(conn, "PASSWORD", conn->password);
  saved &= write_setting(conn, "ACPASSWORD", conn->ac_password);
  if (conn->server_version >= kServerLevel754) {
    char format[3 * sizeof conn->decimal_mark];
    format_numeric_marks(format, sizeof format, conn->currency_sign, conn->thousand_mark,
                         conn->decimal_mark);
    saved &= write_setting(conn, "ServerFormatOpt", conn->server_format_opt);
    saved &= write_setting(conn, "NUMERICFORMAT", format);
  }
  if (!saved) show_status_line(window, kSaveFailed);
}

// Sends "account,account password" as an account set request over the
// connection's link and reports the answer in the status list.
void set_account(Window* window, Connection* conn) {
  read_control(window, kControlAccount, conn->account);
  read_control(window, kControlAcPassword, conn->ac_password);
  char payload[sizeof conn->account + 1 + sizeof conn->ac_password];
  int length = snprintf(payload, sizeof payload, "%s,%s", conn->account, conn->ac_password);
  // Only this exchange's status may be reported below.
  conn->exchange_buffer[0] = '\0';
  if (!exchange(conn->link, kCmdAccount, reinterpret_cast<const uint8_t*>(payload), length,
                ReplyArea{conn->exchange_buffer, sizeof conn->exchange_buffer},
                effective_wait_seconds(conn->login_timeout))
           .ok()) {
    show_status_line(window, kLinkError);
  }
  // A status that never arrived has nothing to report.
  if (conn->exchange_buffer[0] == kStatusOk) {
    show_status_line(window, kAccountSet);
  } else if (conn->exchange_buffer[0] != '\0') {
    show_status_line(window, conn->exchange_buffer + 1);
  }
}

DialogAnswer on_command(Window* window, int control) {
  if (g_conn == nullptr) return kFalse;
  switch (control) {
    case kCommandConnect:
      connect(window, g_conn);
      return kTrue;
    case kCommandSave:
      save(window, g_conn);
      return kTrue;
    case kCommandSetAccount:
      set_account(window, g_conn);
      return kTrue;
    case kCommandLeave:
      dialog_ops()->end_dialog(window, 0);
      return kTrue;
    case kCommandLeaveDone:
      dialog_ops()->end_dialog(window, 1);
      return kTrue;
    default:
      return kFalse;
  }
}

}  // namespace

DialogAnswer spec_info_dialog(Window* window, unsigned message, WParam wparam, LParam lparam) {
  switch (message) {
    case kWmInitDialog: {
      Connection* conn = reinterpret_cast<Connection*>(lparam);
      if (conn == nullptr) return kFalse;
      on_init(window, conn);
      return kTrue;
    }
    case kWmCommand:
      return on_command(window, command_control(wparam));
    case kWmDestroy:
      // The record may not outlive the window: forget it.
      g_conn = nullptr;
      dialog_ops()->end_dialog(window, 1);
      return kTrue;
    default:
      return kFalse;
  }
}

}  // namespace q4
