// The module's string table, compiled in. Answers what a resource string load
// answers: the text with the given id, or nothing when the id is absent.
#pragma once

#include <cstddef>

namespace q4 {

// String ids the driver uses.
enum StringId : unsigned {
  kStrDriverName = 1110,         // SQL_DRIVER_NAME
  kStrDriverVersion = 1111,      // SQL_DRIVER_VER
  kStrDbmsVersion = 1113,        // SQL_DBMS_VER
  kStrDriverOdbcVersion = 1115,  // SQL_DRIVER_ODBC_VER
  kStrFieldSeparator = 1116,     // separator of the logon text fields
  kStrLogonCommand = 1117,       // command code of the logon request
  kStrParameterErrorTitle = 1143,
  kStrNeedDsnAndHost = 1144,
  kStrNetworkErrorTitle = 1145,
  kStrResolveFailed1 = 1146,
  kStrResolveFailed2 = 1147,
  kStrResolveFailed3 = 1148,
  kStrYes = 1149,
  kStrHelpDocument = 1161,
  kStrConfirmUserTemplate = 1162,
  kStrConfirmAccountTemplate = 1163,
  kStrNeedHost = 1164,
  kStrNeedUser = 1165,
  kStrNeedAccount = 1166,
};

// The text of `id`, or null when the table has no such string.
const char* find_string(unsigned id);

// Copies the text of `id` into `buffer` (at most size-1 characters and a NUL)
// and returns the number of characters copied; 0 when the id is absent or
// `size` is 0 (then nothing is written).
int load_string(unsigned id, char* buffer, size_t size);

}  // namespace q4
