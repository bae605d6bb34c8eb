// The ODBC scalar functions of {fn ...} escapes, rewritten as SQLite
// expressions, and the capability masks that the information request
// reports for them and for CONVERT.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace q4::lite {

// Answer of the information request when the server has nothing to say.
constexpr int32_t kNoInformation = -9999;

// Rewrites the call `name(args...)` as an SQLite expression into *out.
// Arguments are already translated SQL text. Returns false with *error set
// for an unknown function or a wrong number of arguments.
bool expand_scalar_function(std::string_view name, const std::vector<std::string>& args,
                            std::string* out, std::string* error);

// The information request: `first` is SQL_NUMERIC_FUNCTIONS (49),
// SQL_STRING_FUNCTIONS (50), SQL_SYSTEM_FUNCTIONS (51) or
// SQL_TIMEDATE_FUNCTIONS (52), answered with the mask of the functions that
// expand_scalar_function knows; or SQL_CONVERT_FUNCTIONS (48) with `second`
// one of SQL_CONVERT_BIGINT .. SQL_CONVERT_LONGVARBINARY (53..71), answered
// with the SQL_CVT_* mask of the types CONVERT turns that type into.
// Anything else is kNoInformation.
int32_t server_information(uint16_t first, uint16_t second);

}  // namespace q4::lite
