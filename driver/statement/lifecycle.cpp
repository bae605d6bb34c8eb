#include "statement/lifecycle.h"

#include "core/descriptor_registry.h"
#include "core/diagnostics.h"
#include "core/memory.h"
#include "link/framing.h"
#include "link/transport.h"
#include "protocol/requests.h"
#include "protocol/wire.h"
#include "results/result_set.h"
#include "results/statement_exchange.h"
#include "statement/binary_blocks.h"
#include "statement/param_description.h"

namespace q4 {

namespace {

// One allocate or release exchange on behalf of `stmt`. The reply's status
// and payload are not examined: only whether the exchange completed matters.
// A broken exchange is a communication failure on the connection.
SQLRETURN exchange_statement_request(Statement* stmt, uint8_t command) {
  int32_t length = encode_statement_request(stmt->io_buffer, statement_id(stmt));
  return exchange_for_statement(stmt, command, stmt->io_buffer, length, kIoBufferSize).failed()
             ? SQL_ERROR
             : SQL_SUCCESS;
}

void link_at_front(Connection* conn, Statement* stmt) {
  stmt->prev = nullptr;
  stmt->next = conn->statements;
  if (conn->statements != nullptr) conn->statements->prev = stmt;
  conn->statements = stmt;
}

// Removes `stmt` from its connection's list. A statement whose earlier drop
// failed at the server release is already out of the list; dropping it again
// must not touch its stale links, so membership is checked first.
// Takes a record out of the connection's unreleased chain, if it is there.
void take_from_unreleased(Statement* stmt) {
  for (Statement** at = &stmt->connection->unreleased; *at != nullptr; at = &(*at)->next) {
    if (*at == stmt) {
      *at = stmt->next;
      stmt->next = nullptr;
      return;
    }
  }
}

void unlink(Statement* stmt) {
  Connection* conn = stmt->connection;
  take_from_unreleased(stmt);
  bool linked = false;
  for (Statement* s = conn->statements; s != nullptr; s = s->next) {
    if (s == stmt) {
      linked = true;
      break;
    }
  }
  if (linked) {
    if (stmt->prev != nullptr) {
      stmt->prev->next = stmt->next;
    } else {
      conn->statements = stmt->next;
    }
    if (stmt->next != nullptr) stmt->next->prev = stmt->prev;
  }
  stmt->prev = nullptr;
  stmt->next = nullptr;
}

// Each parameter's record owns its accumulation buffer; piece_data points
// either into that buffer or at the application's memory, so it is never
// freed itself.
void free_records(Descriptor& desc) {
  DescRecord* record = desc.records;
  while (record != nullptr) {
    DescRecord* next = record->next;
    drv_free(record->buffer);
    drv_free(record);
    record = next;
  }
  desc.records = nullptr;
  desc.irregular_records = 0;
}

void init_descriptor(Statement* stmt, Descriptor* desc, DescriptorKind kind) {
  desc->kind = kind;
  desc->connection = stmt->connection;
  desc->statement = stmt;
  register_descriptor(desc);
}

// The statement's four descriptors leave the registry: their handles are
// invalid from here on.
void retire_descriptors(Statement* stmt) {
  unregister_descriptor(&stmt->row_descriptor);
  unregister_descriptor(&stmt->param_descriptor);
  unregister_descriptor(&stmt->result_descriptor);
  unregister_descriptor(&stmt->marker_descriptor);
}

void copy_connection_defaults(const Connection* conn, Statement* stmt) {
  stmt->async_enable = conn->default_async_enable;
  stmt->concurrency = conn->default_concurrency;
  stmt->cursor_type = conn->default_cursor_type;
  stmt->max_rows = conn->default_max_rows;
  stmt->noscan = conn->default_noscan;
  stmt->use_bookmarks = conn->default_use_bookmarks;
  app_row_desc(stmt).bind_type = conn->default_bind_type;
  stmt->retrieve_data = conn->default_retrieve_data;
  app_row_desc(stmt).array_size = conn->default_rowset_size;
  stmt->query_timeout = conn->default_query_timeout;
  // max_length starts at 0: it cannot be set.
}

}  // namespace

SQLRETURN alloc_statement(Connection* conn, Statement** out) {
  if (out == nullptr) return post_connection_error(conn, kDiagBadArg);
  auto* stmt = static_cast<Statement*>(drv_alloc(conn, nullptr, sizeof(Statement)));
  if (stmt == nullptr) {
    *out = nullptr;
    return SQL_ERROR;
  }
  link_at_front(conn, stmt);
  stmt->connection = conn;
  stmt->getdata_column = -1;
  init_descriptor(stmt, &stmt->row_descriptor, DescriptorKind::kAppRow);
  init_descriptor(stmt, &stmt->param_descriptor, DescriptorKind::kAppParam);
  init_descriptor(stmt, &stmt->result_descriptor, DescriptorKind::kImpRow);
  init_descriptor(stmt, &stmt->marker_descriptor, DescriptorKind::kImpParam);
  copy_connection_defaults(conn, stmt);

  // On the failures below the record stays in the connection's list without
  // being handed out; SQLDisconnect drops it with the others.
  stmt->binary_lengths = drv_alloc_array<uint64_t>(conn, nullptr, kInitialBinarySlots);
  if (stmt->binary_lengths == nullptr) return SQL_ERROR;
  stmt->binary_blocks = drv_alloc_array<uint8_t*>(conn, nullptr, kInitialBinarySlots);
  if (stmt->binary_blocks == nullptr) {
    drv_free(stmt->binary_lengths);
    stmt->binary_lengths = nullptr;
    return SQL_ERROR;
  }
  stmt->binary_capacity = kInitialBinarySlots;

  // Statements that may not scroll are announced to the server.
  stmt->ext_fetch_disabled = conn->disable_ext_fetch[0] == 'Y' ? 1 : 0;
  if (stmt->ext_fetch_disabled) {
    SQLRETURN rc = exchange_statement_request(stmt, kCmdAllocate);
    if (rc != SQL_SUCCESS) return rc;
  }

  *out = stmt;
  return SQL_SUCCESS;
}

SQLRETURN free_statement(Statement* stmt, SQLUSMALLINT option) {
  end_piecewise_read(stmt);
  discard_binary_blocks(stmt);
  // Unbinding empties the descriptor the statement uses, an application's
  // own included; a drop empties the statement's own and lets go of the
  // application's, which outlive it.
  if (option == SQL_UNBIND) free_records(app_row_desc(stmt));
  if (option == SQL_RESET_PARAMS) free_records(app_param_desc(stmt));
  if (option == SQL_DROP) {
    stmt->explicit_row_descriptor = nullptr;
    stmt->explicit_param_descriptor = nullptr;
    free_records(stmt->row_descriptor);
    free_records(stmt->param_descriptor);
  }

  if (option == SQL_CLOSE) {
    // Only a rewind: the result stays open until the next close_result.
    rewind_cursor(stmt);
    return SQL_SUCCESS;
  }
  if (option != SQL_DROP) return SQL_SUCCESS;

  close_result(stmt);
  stmt->cursor_name[0] = '\0';
  release_binary_tables(stmt);
  release_block(stmt->statement_text, stmt->statement_text_capacity);
  forget_param_descriptions(stmt);
  stmt->statement_text_length = 0;
  unlink(stmt);

  // A link lost before this drop (a failure, a query timeout, a cancel that
  // cut a wait) ended the server's session, and with it the statement there:
  // there is nothing left to release, and the failure was reported when it
  // happened. The record goes, as the application (pyodbc closing a cursor,
  // a reconnect) expects of a drop.
  const Link* link = stmt->connection->link;
  if (link == nullptr || link->lost) {
    discard_dropped_statement(stmt);
    return SQL_SUCCESS;
  }

  // A failed release keeps the record: the handle stays valid after an
  // SQL_ERROR, and the application may drop it again. Until then it waits in
  // the connection's unreleased chain, so that SQLDisconnect frees it when no
  // second drop comes (a Driver Manager forgets the handle after the error).
  SQLRETURN rc = release_server_statement(stmt);
  if (rc != SQL_SUCCESS) {
    stmt->next = stmt->connection->unreleased;
    stmt->connection->unreleased = stmt;
    return rc;
  }

  discard_dropped_statement(stmt);
  return SQL_SUCCESS;
}

void discard_unreleased_statements(Connection* conn) {
  while (conn->unreleased != nullptr) {
    Statement* stmt = conn->unreleased;
    conn->unreleased = stmt->next;
    discard_dropped_statement(stmt);
  }
}

void discard_dropped_statement(Statement* stmt) {
  retire_descriptors(stmt);
  drv_free(stmt->request_buffer);
  drv_free(stmt);
}

SQLRETURN release_server_statement(Statement* stmt) {
  return exchange_statement_request(stmt, kCmdRelease);
}

}  // namespace q4
