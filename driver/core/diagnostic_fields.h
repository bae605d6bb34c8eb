// SQLGetDiagRec and SQLGetDiagField: a handle's diagnostic records read
// without removing them, by record number, in narrow or wide text.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"

namespace q4 {

// A handle's diagnostics as the reading functions see them.
struct DiagView {
  SQLSMALLINT handle_type;
  char* sqlstate;  // the slot: the first record
  char* message;
  DiagArea* area;
  bool odbc3;              // states in their 3.x form
  const Connection* conn;  // names; null for an environment
  const Statement* stmt;   // the row count; null unless a statement
};

// The view of `handle` of `handle_type` (SQL_HANDLE_ENV, _DBC, _STMT or
// _DESC); false for another type, and for a descriptor handle that is no live
// descriptor (core/descriptor_registry.h).
bool diag_view(SQLSMALLINT handle_type, void* handle, DiagView* out);

// How many records the handle holds.
int diag_record_count(const DiagView& view);

// Text arguments: narrow (UTF-8 bytes) or wide (UTF-16 units).
enum class TextForm : uint8_t { kNarrow, kWide };

// SQLGetDiagRec(W): `message_max` and `*message_length` count characters of
// `form` (bytes or UTF-16 units).
SQLRETURN get_diag_rec(const DiagView& view, SQLSMALLINT record, void* sqlstate_out,
                       SQLINTEGER* native, void* message_out, SQLSMALLINT message_max,
                       SQLSMALLINT* message_length, TextForm form);

// SQLGetDiagField(W): string fields' `buffer_length` and `*string_length`
// count bytes in either form.
SQLRETURN get_diag_field(const DiagView& view, SQLSMALLINT record, SQLSMALLINT field,
                         SQLPOINTER value, SQLSMALLINT buffer_length, SQLSMALLINT* string_length,
                         TextForm form);

}  // namespace q4
