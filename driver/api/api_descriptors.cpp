// ODBC entry points: the descriptor functions (statement/descriptors.h does
// the work). A descriptor handle is looked up among the live descriptors
// before it is touched: a freed one, or one of a dropped statement, is
// SQL_INVALID_HANDLE. A call runs under the call lock of the descriptor's
// connection, as the statement calls do, and starts by emptying the
// descriptor's diagnostic.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <functional>
#include <optional>

#include "api/statement_call.h"
#include "core/descriptor_registry.h"
#include "core/diagnostics.h"
#include "core/wide_text.h"
#include "platform/export.h"
#include "statement/descriptors.h"

using namespace q4;

namespace {

template <typename Body>
SQLRETURN descriptor_call(SQLHDESC hdesc, Body&& body) {
  Descriptor* desc = live_descriptor(hdesc);
  if (desc == nullptr) return SQL_INVALID_HANDLE;
  ConnectionCall call(desc->connection);
  clear_records(desc->sqlstate, desc->message, &desc->diag);
  SQLRETURN rc = body(desc);
  desc->diag.return_code = rc;  // SQLGetDiagField's SQL_DIAG_RETURNCODE
  return rc;
}

SQLRETURN field(SQLHDESC hdesc, SQLSMALLINT record, SQLSMALLINT id, SQLPOINTER value,
                SQLINTEGER value_max, SQLINTEGER* value_length, TextForm form) {
  return descriptor_call(hdesc, [&](Descriptor* desc) {
    return get_desc_field(desc, record, id, value, value_max, value_length, form);
  });
}

// No field the driver keeps is a string (a parameter's name changes nothing),
// so the narrow and the wide form are one.
SQLRETURN set_field(SQLHDESC hdesc, SQLSMALLINT record, SQLSMALLINT id, SQLPOINTER value,
                    SQLINTEGER value_max) {
  return descriptor_call(
      hdesc, [&](Descriptor* desc) { return set_desc_field(desc, record, id, value, value_max); });
}

}  // namespace

Q4_EXPORT SQLRETURN SQL_API SQLGetDescField(SQLHDESC hdesc, SQLSMALLINT iRecord, SQLSMALLINT iField,
                                            SQLPOINTER rgbValue, SQLINTEGER cbValueMax,
                                            SQLINTEGER* pcbValue) {
  return field(hdesc, iRecord, iField, rgbValue, cbValueMax, pcbValue, TextForm::kNarrow);
}

Q4_EXPORT SQLRETURN SQL_API SQLGetDescFieldW(SQLHDESC hdesc, SQLSMALLINT iRecord,
                                             SQLSMALLINT iField, SQLPOINTER rgbValue,
                                             SQLINTEGER cbValueMax, SQLINTEGER* pcbValue) {
  return field(hdesc, iRecord, iField, rgbValue, cbValueMax, pcbValue, TextForm::kWide);
}

Q4_EXPORT SQLRETURN SQL_API SQLSetDescField(SQLHDESC hdesc, SQLSMALLINT iRecord, SQLSMALLINT iField,
                                            SQLPOINTER rgbValue, SQLINTEGER cbValueMax) {
  return set_field(hdesc, iRecord, iField, rgbValue, cbValueMax);
}

Q4_EXPORT SQLRETURN SQL_API SQLSetDescFieldW(SQLHDESC hdesc, SQLSMALLINT iRecord,
                                             SQLSMALLINT iField, SQLPOINTER rgbValue,
                                             SQLINTEGER cbValueMax) {
  return set_field(hdesc, iRecord, iField, rgbValue, cbValueMax);
}

Q4_EXPORT SQLRETURN SQL_API SQLGetDescRec(SQLHDESC hdesc, SQLSMALLINT iRecord, SQLCHAR* szName,
                                          SQLSMALLINT cbNameMax, SQLSMALLINT* pcbName,
                                          SQLSMALLINT* pfType, SQLSMALLINT* pfSubType,
                                          SQLLEN* pLength, SQLSMALLINT* pPrecision,
                                          SQLSMALLINT* pScale, SQLSMALLINT* pNullable) {
  return descriptor_call(hdesc, [&](Descriptor* desc) {
    return get_desc_rec(desc, iRecord, szName, cbNameMax, pcbName, pfType, pfSubType, pLength,
                        pPrecision, pScale, pNullable, TextForm::kNarrow);
  });
}

// The name's room and length count characters here, not bytes.
Q4_EXPORT SQLRETURN SQL_API SQLGetDescRecW(SQLHDESC hdesc, SQLSMALLINT iRecord, SQLWCHAR* szName,
                                           SQLSMALLINT cchNameMax, SQLSMALLINT* pcchName,
                                           SQLSMALLINT* pfType, SQLSMALLINT* pfSubType,
                                           SQLLEN* pLength, SQLSMALLINT* pPrecision,
                                           SQLSMALLINT* pScale, SQLSMALLINT* pNullable) {
  return descriptor_call(hdesc, [&](Descriptor* desc) {
    SQLSMALLINT bytes = 0;
    const int64_t unit = wide_unit_bytes();
    const SQLSMALLINT room =
        cchNameMax > INT16_MAX / unit ? INT16_MAX : static_cast<SQLSMALLINT>(cchNameMax * unit);
    SQLRETURN rc = get_desc_rec(desc, iRecord, szName, room, &bytes, pfType, pfSubType, pLength,
                                pPrecision, pScale, pNullable, TextForm::kWide);
    if (pcchName != nullptr && SQL_SUCCEEDED(rc))
      *pcchName = static_cast<SQLSMALLINT>(bytes / unit);
    return rc;
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLSetDescRec(SQLHDESC hdesc, SQLSMALLINT iRecord, SQLSMALLINT fType,
                                          SQLSMALLINT fSubType, SQLLEN cbLength,
                                          SQLSMALLINT iPrecision, SQLSMALLINT iScale,
                                          SQLPOINTER rgbData, SQLLEN* pcbStringLength,
                                          SQLLEN* pcbIndicator) {
  return descriptor_call(hdesc, [&](Descriptor* desc) {
    return set_desc_rec(desc, iRecord, fType, fSubType, cbLength, iPrecision, iScale, rgbData,
                        pcbStringLength, pcbIndicator);
  });
}

// Both connections' call locks are held for the copy, taken in address
// order so that two copies in opposite directions cannot wait on each other.
Q4_EXPORT SQLRETURN SQL_API SQLCopyDesc(SQLHDESC hdescSource, SQLHDESC hdescTarget) {
  Descriptor* source = live_descriptor(hdescSource);
  Descriptor* target = live_descriptor(hdescTarget);
  if (source == nullptr || target == nullptr) return SQL_INVALID_HANDLE;
  const bool source_first = std::less<Connection*>()(source->connection, target->connection);
  ConnectionCall first(source_first ? source->connection : target->connection);
  std::optional<ConnectionCall> second;
  if (source->connection != target->connection) {
    second.emplace(source_first ? target->connection : source->connection);
  }
  clear_records(target->sqlstate, target->message, &target->diag);
  SQLRETURN rc = copy_desc(source, target);
  target->diag.return_code = rc;
  return rc;
}
