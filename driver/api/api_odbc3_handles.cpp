// ODBC entry points: SQLAllocHandle and SQLFreeHandle, the ODBC 3 forms of
// the allocation functions.
//
// Exporting SQLAllocHandle is what makes unixODBC take the driver for an ODBC
// 3.x driver (core/odbc_version.h says what changes with that). An
// environment allocated here is marked as such; connections and statements
// behave exactly as from SQLAllocConnect and SQLAllocStmt, and freeing one
// exactly as SQLFreeEnv, SQLFreeConnect and SQLFreeStmt(SQL_DROP) do.
//
// The driver has no descriptor records: every statement keeps its bindings
// in its own lists. Allocating a descriptor is refused with "S1C00" "Driver
// Not Capable" on the connection (unixODBC asks only when an application
// allocates one explicitly).
#include <sql.h>
#include <sqlext.h>

#include "api/statement_call.h"
#include "core/diagnostics.h"
#include "core/handles.h"
#include "platform/export.h"
#include "connect/session.h"
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
        if (phOutput != nullptr) *phOutput = SQL_NULL_HANDLE;
        return post_connection_error(conn, kDiagNotCapable);
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
    default:
      // Descriptors (the driver never hands one out) and unknown kinds.
      return SQL_INVALID_HANDLE;
  }
}
