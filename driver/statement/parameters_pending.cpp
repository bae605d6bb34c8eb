// Stand-in for the literal substitution while it is not built: a text whose
// markers have bindings is refused rather than sent with its "?" left in
// place or with wrong values.
//
// "S1C00" "Driver Not Capable" is the ODBC 2 state for an optional feature the
// driver does not provide, which is what the application meets here: the
// function exists and its arguments are valid, only this use of it cannot be
// served. IM001 would claim the whole function is missing, and a general
// error would hide that retrying cannot help.
#include "statement/parameters.h"

#include "core/diagnostics.h"

namespace q4 {

SQLRETURN substitute_parameters(Statement* stmt, const char* /*text*/, int64_t /*length*/) {
  return post_error(stmt, kDiagNotCapable);
}

}  // namespace q4
