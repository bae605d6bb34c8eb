// The data-at-execution state that every execution starts from and hands
// over (SQLParamData and SQLPutData build on it).
#pragma once

#include "core/records.h"

namespace q4 {

// Run by SQLExecDirect and SQLExecute before they build the request: clears
// every binding's piece_length, piece_seen and complete, and the SQLGetData
// state (getdata_column -1, getdata_offset 0).
void reset_data_at_exec(Statement* stmt);

// First step of every execution: each binding that collected data (its
// piece_length is not 0) becomes an ordinary value of that length at
// piece_data: the length goes into the application's indicator variable,
// value points at the data, and the piece fields are emptied.
void hand_over_pieces(Statement* stmt);

}  // namespace q4
