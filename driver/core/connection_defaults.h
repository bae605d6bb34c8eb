// The values a connection's attributes and statement defaults start with.
// A new connection takes them, and a connection handed back to a pool takes
// them again (connect/connection_reset.h), so that its next user finds it as
// if it were new.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"

namespace q4 {

// Sets every connection attribute the application can change, and the
// statement defaults new statements copy, to their initial values. The
// login timeout is left alone: it comes from the data source as well, and
// only a connect reads it.
inline void set_attribute_defaults(Connection* conn) {
  conn->access_mode = SQL_MODE_READ_WRITE;
  conn->autocommit = SQL_AUTOCOMMIT_ON;
  conn->txn_isolation = SQL_TXN_READ_COMMITTED;
  conn->current_qualifier[0] = '\0';
  conn->connection_timeout = 0;
  conn->default_async_enable = SQL_ASYNC_ENABLE_OFF;
  conn->default_concurrency = SQL_CONCUR_READ_ONLY;
  conn->default_cursor_type = SQL_CURSOR_FORWARD_ONLY;
  conn->default_max_rows = 0;
  conn->default_noscan = SQL_NOSCAN_ON;
  conn->default_query_timeout = 0;
  conn->default_use_bookmarks = SQL_UB_OFF;
  conn->default_bind_type = SQL_BIND_BY_COLUMN;
  conn->default_retrieve_data = SQL_RD_ON;
  conn->default_rowset_size = 1;
}

}  // namespace q4
