// ODBC entry points: SQLGetDiagRec and SQLGetDiagField, narrow and wide.
// They read a handle's records without removing them and post nothing; a
// connection's, statement's or descriptor's are read under the connection's
// call lock, as SQLError reads them.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "api/statement_call.h"
#include "core/diagnostic_fields.h"
#include "platform/export.h"

using namespace q4;

namespace {

// The connection whose call lock guards `handle`'s records; null for an
// environment (its records are its own functions').
Connection* lock_owner(SQLSMALLINT type, SQLHANDLE handle) {
  if (type == SQL_HANDLE_DBC) return static_cast<Connection*>(handle);
  if (type == SQL_HANDLE_STMT) return static_cast<Statement*>(handle)->connection;
  if (type == SQL_HANDLE_DESC) return static_cast<Descriptor*>(handle)->connection;
  return nullptr;
}

// Runs `read(view)` on the records of `handle`; SQL_INVALID_HANDLE for a
// null handle, a type the driver hands out no handles of, or a descriptor
// handle that names no live descriptor (checked before it is read).
template <typename Read>
SQLRETURN read_records(SQLSMALLINT type, SQLHANDLE handle, Read&& read) {
  DiagView view;
  if (handle == SQL_NULL_HANDLE || !diag_view(type, handle, &view)) return SQL_INVALID_HANDLE;
  Connection* owner = lock_owner(type, handle);
  if (owner == nullptr) return read(view);
  ConnectionCall call(owner);
  return read(view);
}

// The narrow and the wide forms differ only in how a text is written.
SQLRETURN diag_rec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, void* state,
                   SQLINTEGER* native, void* message, SQLSMALLINT message_max,
                   SQLSMALLINT* message_length, TextForm form) {
  return read_records(type, handle, [&](const DiagView& view) {
    return get_diag_rec(view, record, state, native, message, message_max, message_length, form);
  });
}

SQLRETURN diag_field(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLSMALLINT field,
                     SQLPOINTER value, SQLSMALLINT value_max, SQLSMALLINT* value_length,
                     TextForm form) {
  return read_records(type, handle, [&](const DiagView& view) {
    return get_diag_field(view, record, field, value, value_max, value_length, form);
  });
}

}  // namespace

Q4_EXPORT SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT fHandleType, SQLHANDLE hHandle,
                                          SQLSMALLINT iRecord, SQLCHAR* szSqlState,
                                          SQLINTEGER* pfNativeError, SQLCHAR* szErrorMsg,
                                          SQLSMALLINT cbErrorMsgMax, SQLSMALLINT* pcbErrorMsg) {
  return diag_rec(fHandleType, hHandle, iRecord, szSqlState, pfNativeError, szErrorMsg,
                  cbErrorMsgMax, pcbErrorMsg, TextForm::kNarrow);
}

Q4_EXPORT SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT fHandleType, SQLHANDLE hHandle,
                                           SQLSMALLINT iRecord, SQLWCHAR* szSqlState,
                                           SQLINTEGER* pfNativeError, SQLWCHAR* szErrorMsg,
                                           SQLSMALLINT cbErrorMsgMax, SQLSMALLINT* pcbErrorMsg) {
  return diag_rec(fHandleType, hHandle, iRecord, szSqlState, pfNativeError, szErrorMsg,
                  cbErrorMsgMax, pcbErrorMsg, TextForm::kWide);
}

Q4_EXPORT SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT fHandleType, SQLHANDLE hHandle,
                                            SQLSMALLINT iRecord, SQLSMALLINT fDiagField,
                                            SQLPOINTER rgbDiagInfo, SQLSMALLINT cbDiagInfoMax,
                                            SQLSMALLINT* pcbDiagInfo) {
  return diag_field(fHandleType, hHandle, iRecord, fDiagField, rgbDiagInfo, cbDiagInfoMax,
                    pcbDiagInfo, TextForm::kNarrow);
}

Q4_EXPORT SQLRETURN SQL_API SQLGetDiagFieldW(SQLSMALLINT fHandleType, SQLHANDLE hHandle,
                                             SQLSMALLINT iRecord, SQLSMALLINT fDiagField,
                                             SQLPOINTER rgbDiagInfo, SQLSMALLINT cbDiagInfoMax,
                                             SQLSMALLINT* pcbDiagInfo) {
  return diag_field(fHandleType, hHandle, iRecord, fDiagField, rgbDiagInfo, cbDiagInfoMax,
                    pcbDiagInfo, TextForm::kWide);
}
