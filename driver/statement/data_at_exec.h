// Data at execution: parameters whose values the application delivers while
// the statement runs (SQLParamData, SQLPutData).
//
// The server takes a statement only as complete text, so nothing is sent
// until every such parameter has its value: SQLPutData collects the pieces,
// and each SQLParamData rebuilds the request from statement_text, stopping at
// the next marker still waiting (pending_parameter = 500 + its ordinal). The
// marks every execution starts from, and the hand-over of collected pieces to
// the bindings, are in exec_marks.h.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"

namespace q4 {

// SQLParamData (the caller holds the statement's claim and ran enter_statement). When the
// wanted parameter has received no data yet, announces it again: its binding's
// `value` goes to *token and SQL_NEED_DATA is returned. Otherwise that
// parameter counts as complete and statement_text is executed again: either
// the next waiting parameter is announced the same way, or the request is sent
// and the execution's result returned. "S1000" without a statement text.
SQLRETURN param_data(Statement* stmt, SQLPOINTER* token);

// SQLPutData (the caller holds the statement's claim and ran enter_statement): delivers data
// for the wanted parameter. Character and binary values (SQL_C_CHAR or
// SQL_C_BINARY, or SQL_C_DEFAULT standing for them, bound to a character or
// binary SQL type) may come in any number of pieces, copied into the
// binding's own buffer; `length` may be SQL_NTS, or SQL_NULL_DATA to send
// NULL. Every other value comes in one piece, used in place: `data` must stay
// valid until the next SQLParamData. "22003" when no parameter waits or a
// one-piece value is put twice.
SQLRETURN put_data(Statement* stmt, SQLPOINTER data, SQLLEN length);

}  // namespace q4
