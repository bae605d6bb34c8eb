// Conversion of one server value into the C type an application asked for.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "core/records.h"

namespace q4 {

// Converts the value (`server_type`, `data`, `length`) into `c_type`, writes
// it into `buffer` (`buffer_length` bytes) and its length into `*length_out`
// when that is not null. Returns SQL_SUCCESS, SQL_SUCCESS_WITH_INFO after
// posting "01004" on `stmt`, or SQL_ERROR after posting the failure; on
// SQL_ERROR neither the buffer nor the length has been written.
//
// The value is the `length` bytes at `data`; nothing before or after them is
// read and nothing of them is written, so a value is converted where it lies
// in a received block. A null `data` or a negative length is taken as an
// empty value.
//
// The piecewise rules (text, raw and hexadecimal copies) start at the
// statement's getdata_offset and advance it by what they delivered; whoever
// calls decides when a value is read from its start again.
//
// `buffer_length` is taken as a 32-bit length; lengths above 2^31 - 1 are
// clamped to it (never wrapped). A null `buffer` has no room: character and
// binary targets then only report the length, fixed-size targets fail with
// "S1009".
SQLRETURN convert_value(Statement* stmt, SQLSMALLINT server_type, SQLSMALLINT c_type,
                        const uint8_t* data, int32_t length, SQLLEN buffer_length,
                        SQLPOINTER buffer, SQLLEN* length_out);

}  // namespace q4
