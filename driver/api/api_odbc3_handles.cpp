// ODBC entry points: SQLAllocHandle and SQLFreeHandle, the ODBC 3 forms of
// the allocation functions.
//
// Exporting SQLAllocHandle is what makes unixODBC take the driver for an ODBC
// 3.x driver (core/odbc_version.h says what changes with that). An
// environment allocated here is marked as such; connections and statements
// behave exactly as from SQLAllocConnect and SQLAllocStmt, and freeing one
// exactly as SQLFreeEnv, SQLFreeConnect and SQLFreeStmt(SQL_DROP) do.
//
// A descriptor is allocated on a connected connection and freed by
// SQLFreeHandle or at the disconnect (statement/descriptors.h).
#include <sql.h>
#include <sqlext.h>

#include "api/statement_call.h"
#include "core/diagnostics.h"
#include "core/handles.h"
#include "platform/export.h"
#include "connect/session.h"
#include "core/descriptor_registry.h"
#include "statement/descriptors.h"
#include "statement/lifecycle.h"

using namespace q4;

Q4_EXPORT SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT fHandleType, SQLHANDLE hInput,
                                           SQLHANDLE* phOutput) {
  switch (fHandleType) {
    case SQL_HANDLE_ENV: {
      if (phOutput == nullptr) return SQL_ERROR;
      Environment* env;
      SQLRETURN rc = alloc_environment(&env);
      if (env != nullptr) env->odbc3_caller = 1;
      *phOutput = env;
      return rc;
    }
    case SQL_HANDLE_DBC: {
      if (hInput == SQL_NULL_HANDLE) return SQL_INVALID_HANDLE;
      if (phOutput == nullptr) return SQL_ERROR;
      Connection* conn;
      SQLRETURN rc = alloc_connection(static_cast<Environment*>(hInput), &conn);
      *phOutput = conn;
      return rc;
    }
    case SQL_HANDLE_STMT: {
      // As SQLAllocStmt: a null connection is a plain SQL_ERROR, and the
      // output keeps its value where alloc_statement does not set it.
      if (hInput == SQL_NULL_HANDLE) return SQL_ERROR;
      auto* conn = static_cast<Connection*>(hInput);
      ConnectionCall call(conn);
      if (phOutput == nullptr) return alloc_statement(conn, nullptr);
      Statement* stmt = static_cast<Statement*>(*phOutput);
      SQLRETURN rc = alloc_statement(conn, &stmt);
      *phOutput = stmt;
      return rc;
    }
    case SQL_HANDLE_DESC:
      if (hInput == SQL_NULL_HANDLE) return SQL_INVALID_HANDLE;
      return connection_call(hInput, [&](Connection* conn) {
        Descriptor* desc = nullptr;
        SQLRETURN rc = alloc_descriptor(conn, phOutput != nullptr ? &desc : nullptr);
        if (phOutput != nullptr) *phOutput = desc;
        return rc;
      });
    default:
      return SQL_ERROR;
  }
}

Q4_EXPORT SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT fHandleType, SQLHANDLE hHandle) {
  if (hHandle == SQL_NULL_HANDLE) return SQL_INVALID_HANDLE;
  switch (fHandleType) {
    case SQL_HANDLE_ENV:
      return free_environment(static_cast<Environment*>(hHandle));
    case SQL_HANDLE_DBC: {
      SQLRETURN rc = connection_call(hHandle, check_connection_free);
      return rc == SQL_SUCCESS ? release_connection(static_cast<Connection*>(hHandle)) : rc;
    }
    case SQL_HANDLE_STMT: {
      Statement* stmt = static_cast<Statement*>(hHandle);
      StatementCall call(stmt);
      SQLRETURN rc = free_statement(stmt, SQL_DROP);
      // As SQLFreeStmt(SQL_DROP): a record whose release failed stays valid.
      if (rc == SQL_SUCCESS) call.forget();
      return rc;
    }
    case SQL_HANDLE_DESC: {
      // Looked up first: a freed or unknown handle is never touched.
      Descriptor* desc = live_descriptor(hHandle);
      if (desc == nullptr) return SQL_INVALID_HANDLE;
      ConnectionCall call(desc->connection);
      // An implicit descriptor stays and says why (HY017) through its own
      // diagnostics; a freed one is gone with its records.
      clear_records(desc->sqlstate, desc->message, &desc->diag);
      SQLRETURN rc = free_descriptor(desc);
      if (rc != SQL_SUCCESS) desc->diag.return_code = rc;
      return rc;
    }
    default:
      return SQL_INVALID_HANDLE;
  }
}
