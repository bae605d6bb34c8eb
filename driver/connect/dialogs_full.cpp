#include "connect/dialogs_full.h"

#include <netdb.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iterator>

#include "connect/connect_dialogs.h"
#include "connect/dialogs_confirm.h"
#include "connect/dialogs_controls.h"
#include "connect/settings.h"
#include "platform/locale_marks.h"
#include "platform/program_path.h"
#include "platform/strings.h"

namespace q4 {

const VersionItem kVersionItems[4] = {
    {"7.0.X", kServerLevel700},
    {"7.1.X", kServerLevel710},
    {"7.2.X - 7.5.S3", kServerLevel720},
    {"7.5.S4 and up", kServerLevel754},
};

const char* version_item_for_level(uint32_t level) {
  for (const VersionItem& item : kVersionItems) {
    if (item.level == level) return item.text;
  }
  return kVersionItems[1].text;
}

uint32_t level_for_version_item(const char* text) {
  for (size_t i = 0; i + 1 < sizeof kVersionItems / sizeof kVersionItems[0]; ++i) {
    if (strcmp(text, kVersionItems[i].text) == 0) return kVersionItems[i].level;
  }
  return kServerLevel754;
}

namespace {

// Characters the mark edits accept.
constexpr int kMarkChars = 5;
// Room for the texts of the checks' boxes.
constexpr size_t kMessageSize = 512;
constexpr size_t kTitleSize = 64;
constexpr size_t kPathSize = 4096;

constexpr const char* kHelpMissing = "Help is currently not available.  Help topic not found.";
constexpr const char* kHelpTitle = "Help";

// Shows the string `text_id` in an information box titled " PARAMETER ERROR".
void parameter_error(Window* dialog, unsigned text_id) {
  char text[kMessageSize] = "";
  char title[kTitleSize] = "";
  load_string(text_id, text, sizeof text);
  load_string(kStrParameterErrorTitle, title, sizeof title);
  dialog_ops()->message_box(dialog, text, title, kMbIconInformation);
}

// Reads a mark edit; an empty edit takes the user locale's mark.
template <size_t N>
void read_mark(Window* dialog, int control, char (&field)[N], const char* locale_mark) {
  read_control(dialog, control, field);
  if (field[0] == '\0') snprintf(field, N, "%s", locale_mark);
}

template <size_t N>
void set_switch(char (&field)[N], const char* text) {
  snprintf(field, N, "%s", text);
}

// Looks `host` up as a connect would (any address family, stream socket),
// without connecting.
bool host_resolves(const char* host) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  bool resolved = getaddrinfo(host, nullptr, &hints, &found) == 0 && found != nullptr;
  if (found != nullptr) freeaddrinfo(found);
  return resolved;
}

// The text controls of the data source, shown only when one was named, and
// those of the server and the credentials.
constexpr FieldControl kDataSourceControls[] = {
    Q4_FIELD_CONTROL(kControlDsn, dsn),
    Q4_FIELD_CONTROL(kControlDescription, description),
};
constexpr FieldControl kServerControls[] = {
    Q4_FIELD_CONTROL(kControlServer, server),
    Q4_FIELD_CONTROL(kControlPort, port_text),
    Q4_FIELD_CONTROL(kControlVirtualMachine, virtual_machine),
    Q4_FIELD_CONTROL(kControlUser, user),
    Q4_FIELD_CONTROL(kControlPassword, password),
    Q4_FIELD_CONTROL(kControlAccount, account),
    Q4_FIELD_CONTROL(kControlAcPassword, ac_password),
};

}  // namespace

void FullConnectDialog::on_init(Window* dialog, Connection* conn) {
  conn_ = conn;
  DialogOps* ops = dialog_ops();
  ops->center_dialog(dialog);
  if (dsn_named_) {
    for (const FieldControl& entry : kDataSourceControls) {
      show_if_set(dialog, entry.control, field_of(conn, entry));
    }
  }
  for (const FieldControl& entry : kServerControls) {
    show_if_set(dialog, entry.control, field_of(conn, entry));
  }
  if (switch_on(conn->connect_dialog)) ops->set_check(dialog, kControlConnectDialog, true);
  if (switch_on(conn->not_null_constraint)) ops->set_check(dialog, kControlNotNull, true);

  for (const VersionItem& item : kVersionItems) {
    ops->combo_add(dialog, kControlVersionList, item.text);
  }
  ops->combo_select(dialog, kControlVersionList, version_item_for_level(conn->server_version));

  char timeout[12];
  snprintf(timeout, sizeof timeout, "%u", conn->login_timeout);
  ops->set_control_text(dialog, kControlLoginTimeout, timeout);
  if (switch_on(conn->server_format_opt)) ops->set_check(dialog, kControlServerFormat, true);
  for (int control : {kControlDecimalMark, kControlThousandMark, kControlCurrencySign}) {
    ops->limit_text(dialog, control, kMarkChars);
  }
  show_if_set(dialog, kControlDecimalMark, conn->decimal_mark);
  show_if_set(dialog, kControlThousandMark, conn->thousand_mark);
  show_if_set(dialog, kControlCurrencySign, conn->currency_sign);
}

void FullConnectDialog::read_controls(Window* dialog) {
  DialogOps* ops = dialog_ops();
  if (dsn_named_) {
    read_field_controls(dialog, conn_, std::begin(kDataSourceControls),
                        std::end(kDataSourceControls));
  }
  read_field_controls(dialog, conn_, std::begin(kServerControls), std::end(kServerControls));

  char item[32] = "";
  ops->combo_get_selected(dialog, kControlVersionList, item, sizeof item);
  conn_->server_version = level_for_version_item(item);

  char timeout[12] = "";
  ops->get_control_text(dialog, kControlLoginTimeout, timeout, sizeof timeout);
  conn_->login_timeout = timeout_from_text(timeout);

  read_check(dialog, kControlServerFormat, conn_->server_format_opt);
  LocaleMarks marks = locale_marks();
  read_mark(dialog, kControlDecimalMark, conn_->decimal_mark, marks.decimal_mark);
  read_mark(dialog, kControlThousandMark, conn_->thousand_mark, marks.thousand_mark);
  read_mark(dialog, kControlCurrencySign, conn_->currency_sign, marks.currency_sign);

  read_check(dialog, kControlConnectDialog, conn_->connect_dialog);
  set_switch(conn_->account_connect_dialog, conn_->connect_dialog);
  read_check(dialog, kControlNotNull, conn_->not_null_constraint);
}

bool FullConnectDialog::required_fields_given(Window* dialog) {
  if (dsn_named_ && (conn_->dsn[0] == '\0' || conn_->server[0] == '\0')) {
    parameter_error(dialog, kStrNeedDsnAndHost);
    return false;
  }
  if (!dsn_named_ && conn_->server[0] == '\0') {
    parameter_error(dialog, kStrNeedHost);
    return false;
  }
  return true;
}

bool FullConnectDialog::server_resolves(Window* dialog) {
  if (host_resolves(conn_->server)) return true;
  char text[kMessageSize] = "";
  size_t length = 0;
  for (unsigned id : {kStrResolveFailed1, kStrResolveFailed2, kStrResolveFailed3}) {
    length += static_cast<size_t>(load_string(id, text + length, sizeof text - length));
  }
  char title[kTitleSize] = "";
  load_string(kStrNetworkErrorTitle, title, sizeof title);
  // Either button leaves the user in the dialog to correct the host.
  dialog_ops()->message_box(dialog, text, title, kMbOkCancel | kMbIconInformation);
  return false;
}

// With a data source, a missing name may be entered at connect time instead:
// each confirm box that the user cancels keeps the full dialog open.
bool FullConnectDialog::names_confirmed(Window* dialog) {
  char yes[sizeof conn_->connect_dialog] = "";
  load_string(kStrYes, yes, sizeof yes);
  conn_->confirm_flag = 1;
  if (conn_->user[0] == '\0') {
    if (confirm_box(dialog, conn_, kStrConfirmUserTemplate)) {
      set_switch(conn_->connect_dialog, yes);
    } else {
      conn_->confirm_flag = 0;
    }
  }
  if (conn_->account[0] == '\0') {
    if (confirm_box(dialog, conn_, kStrConfirmAccountTemplate)) {
      set_switch(conn_->account_connect_dialog, yes);
    } else {
      conn_->confirm_flag = 0;
    }
  }
  if (conn_->confirm_flag == 0) return false;
  conn_->confirm_flag = 0;
  return true;
}

// Without a data source there is no profile to ask later: both names are
// needed now.
bool FullConnectDialog::names_given(Window* dialog) {
  if (conn_->user[0] == '\0') {
    parameter_error(dialog, kStrNeedUser);
    return false;
  }
  if (conn_->account[0] == '\0') {
    parameter_error(dialog, kStrNeedAccount);
    return false;
  }
  return true;
}

// The help document lies beside the calling program; its name is string
// kStrHelpDocument.
void FullConnectDialog::show_help() {
  char document[kPathSize] = "";
  char directory[kPathSize] = "";
  load_string(kStrHelpDocument, document, sizeof document);
  program_directory(directory, sizeof directory);
  if (document[0] == '\0' || !dialog_ops()->open_document(document, directory)) {
    dialog_ops()->message_box(nullptr, kHelpMissing, kHelpTitle, kMbIconStop);
  }
}

void FullConnectDialog::on_command(Window* dialog, int control) {
  switch (control) {
    case kIdOk:
      read_controls(dialog);
      if (!required_fields_given(dialog) || !server_resolves(dialog)) return;
      if (dsn_named_ ? names_confirmed(dialog) : names_given(dialog)) {
        dialog_ops()->end_dialog(dialog, 0);
      }
      return;
    case kIdCancel:
      dialog_ops()->end_dialog(dialog, kDialogCancelled);
      return;
    case kControlHelp:
      show_help();
      return;
    default:
      return;
  }
}

// Closing the window connects with what the record already holds.
void FullConnectDialog::on_close(Window* dialog) {
  dialog_ops()->end_dialog(dialog, 0);
}

}  // namespace q4
