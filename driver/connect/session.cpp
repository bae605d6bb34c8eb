#include "connect/session.h"

#include <cstring>

#include "connect/connect_dialogs.h"
#include "connect/connection_log.h"
#include "connect/logon.h"
#include "connect/odbc_text.h"
#include "connect/settings.h"
#include "core/diagnostics.h"
#include "core/handles.h"
#include "link/link.h"
#include "platform/strings.h"
#include "protocol/wire.h"
#include "statement/descriptors.h"
#include "statement/lifecycle.h"

namespace q4 {

SQLRETURN connect_with_dsn(Connection* conn, const SQLCHAR* dsn, SQLSMALLINT dsn_length,
                           const SQLCHAR* uid, SQLSMALLINT uid_length, const SQLCHAR* auth,
                           SQLSMALLINT auth_length) {
  if (odbc_text_length(dsn, dsn_length) == 0) return post_connection_error(conn, kDiagNoDsn);
  copy_odbc_text(conn->dsn, sizeof conn->dsn, dsn, dsn_length);
  char user[sizeof conn->user];
  copy_odbc_text(user, sizeof user, uid, uid_length);
  char password[sizeof conn->password];
  copy_odbc_text(password, sizeof password, auth, auth_length);

  read_dsn_setting(conn->dsn, "USER", "", conn->user, sizeof conn->user);
  if (password[0] != '\0') {
    memcpy(conn->password, password, sizeof password);
  } else if (user[0] == '\0' || strcmp(user, conn->user) == 0) {
    read_password_setting(conn->dsn, "PASSWORD", conn->password, sizeof conn->password, false);
  }
  if (user[0] != '\0') memcpy(conn->user, user, sizeof user);

  read_connect_settings(conn);
  load_string(kStrFieldSeparator, conn->field_separator, sizeof conn->field_separator);

  if (switch_on(conn->account_connect_dialog)) {
    int result = run_small_connect_dialog(nullptr, conn);
    if (result != 0) return static_cast<SQLRETURN>(result);
  } else if (conn->user[0] == '\0') {
    return post_missing_user(conn);
  }
  build_logon_text(conn);
  return connect_and_logon(conn);
}

void drop_statements(Connection* conn) {
  // free_statement unlinks the statement it drops: take the successor first.
  // A release that cannot reach the server keeps the record for another try;
  // none comes for these, so those records are freed at the end.
  for (Statement* stmt = conn->statements; stmt != nullptr;) {
    Statement* next = stmt->next;
    free_statement(stmt, SQL_DROP);
    stmt = next;
  }
  discard_unreleased_statements(conn);
}

SQLRETURN disconnect(Connection* conn) {
  if (conn->link == nullptr) return SQL_SUCCESS;
  drop_statements(conn);
  free_explicit_descriptors(conn);
  // The answer does not matter: the link goes whatever it is.
  exchange(conn->link, kCmdDisconnect, nullptr, 0,
           ReplyArea{conn->exchange_buffer, sizeof conn->exchange_buffer}, 0);
  close_link(conn->link);
  conn->link = nullptr;
  close_connection_log(conn);
  return SQL_SUCCESS;
}

SQLRETURN release_connection(Connection* conn) {
  close_connection_log(conn);
  return free_connection(conn);
}

}  // namespace q4
