// Descriptors: the four of every statement and those an application
// allocates, read and written field by field or record by record, copied,
// and set as a statement's row or parameter descriptor.
//
// An application descriptor's header and records are the bindings
// themselves (core/records.h): SQLBindCol, SQLBindParameter, the statement
// attributes and these functions all read and write the one copy, and a
// fetch or execution uses whichever descriptor the statement has. The
// implementation row descriptor answers from the result's descriptions
// (results/column_attributes.h); the implementation parameter descriptor from
// the parameters' bindings or, for an unbound marker, from SQLDescribeParam's
// description. Decisions:
// - A record's indicator and octet length pointers are one pointer, as
//   SQLBindCol and SQLBindParameter set them: writing either sets both.
// - Setting a record field other than the data, indicator and octet length
//   pointers unbinds the record's data (the data pointer becomes null), as
//   ODBC has it; a fetch skips a record without data. Setting the data
//   pointer checks the record: an SQL_C_NUMERIC target needs a precision of 1
//   to 38 and a scale within it ("HY021").
// - SQLCopyDesc copies between application descriptors, and from the
//   implementation row descriptor (each column's type as its C type);
//   copying into an implementation descriptor is refused.
// The caller holds the descriptor's connection's call lock. Failures are
// posted on the descriptor (its own slot) unless said otherwise.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/diag_texts.h"
#include "core/records.h"
#include "results/describe.h"

namespace q4 {

// Posts `diag` on the descriptor's slot; SQL_ERROR.
SQLRETURN post_descriptor_error(Descriptor* desc, const DiagText& diag);

// SQLAllocHandle(SQL_HANDLE_DESC): an explicit descriptor on `conn`
// ("S1001" posted on the connection when there is no memory).
SQLRETURN alloc_descriptor(Connection* conn, Descriptor** out);
// SQLFreeHandle(SQL_HANDLE_DESC): statements using it go back to their own;
// an implicit descriptor is refused ("HY017").
SQLRETURN free_descriptor(Descriptor* desc);
// SQLDisconnect and freeing the connection: every explicit descriptor goes.
void free_explicit_descriptors(Connection* conn);

// SQLSetStmtAttr/SQLGetStmtAttr of SQL_ATTR_APP_ROW_DESC ..
// SQL_ATTR_IMP_PARAM_DESC (failures posted on the statement).
SQLRETURN set_statement_descriptor(Statement* stmt, SQLINTEGER attribute, SQLPOINTER value);
SQLRETURN get_statement_descriptor(Statement* stmt, SQLINTEGER attribute, SQLPOINTER value);

SQLRETURN get_desc_field(Descriptor* desc, SQLSMALLINT record, SQLSMALLINT field, SQLPOINTER value,
                         SQLINTEGER buffer_length, SQLINTEGER* string_length, TextForm form);
SQLRETURN set_desc_field(Descriptor* desc, SQLSMALLINT record, SQLSMALLINT field, SQLPOINTER value,
                         SQLINTEGER buffer_length);

// SQLGetDescRec: the name (in `form`, room and length in bytes) and the
// record's type, subtype, octet length, precision, scale and nullability.
// SQL_NO_DATA for a record past the count.
SQLRETURN get_desc_rec(Descriptor* desc, SQLSMALLINT record, SQLPOINTER name, SQLSMALLINT name_max,
                       SQLSMALLINT* name_length, SQLSMALLINT* type, SQLSMALLINT* subtype,
                       SQLLEN* length, SQLSMALLINT* precision, SQLSMALLINT* scale,
                       SQLSMALLINT* nullable, TextForm form);
// SQLSetDescRec: the fields in ODBC's order, the data pointer last.
SQLRETURN set_desc_rec(Descriptor* desc, SQLSMALLINT record, SQLSMALLINT type, SQLSMALLINT subtype,
                       SQLLEN length, SQLSMALLINT precision, SQLSMALLINT scale, SQLPOINTER data,
                       SQLLEN* string_length, SQLLEN* indicator);

// SQLCopyDesc (failures posted on the target).
SQLRETURN copy_desc(Descriptor* source, Descriptor* target);

}  // namespace q4
