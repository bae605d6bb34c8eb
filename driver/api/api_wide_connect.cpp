// ODBC entry points: the wide forms of connecting. Names, passwords and
// connection strings arrive as UTF-16 and are handed to the narrow work as
// UTF-8 (core/wide_arguments.h); the completed connection string goes back
// as UTF-16, its length in characters.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "api/statement_call.h"
#include "connect/driver_connect.h"
#include "connect/session.h"
#include "core/wide_arguments.h"
#include "platform/export.h"

using namespace q4;

namespace {

// Room for the completed connection string in UTF-8: every setting the
// driver writes back fits many times over.
constexpr int64_t kCompletedStringRoom = 4096;

}  // namespace

Q4_EXPORT SQLRETURN SQL_API SQLConnectW(SQLHDBC hdbc, SQLWCHAR* szDSN, SQLSMALLINT cchDSN,
                                        SQLWCHAR* szUID, SQLSMALLINT cchUID, SQLWCHAR* szAuthStr,
                                        SQLSMALLINT cchAuthStr) {
  return connection_call(hdbc, [&](Connection* conn) {
    WideIn dsn(conn, nullptr, szDSN, cchDSN);
    WideIn uid(conn, nullptr, szUID, cchUID);
    WideIn auth(conn, nullptr, szAuthStr, cchAuthStr);
    if (dsn.failed() || uid.failed() || auth.failed()) return static_cast<SQLRETURN>(SQL_ERROR);
    return connect_with_dsn(conn, dsn.text(), dsn.short_length(), uid.text(), uid.short_length(),
                            auth.text(), auth.short_length());
  });
}

// Unlike the narrow call, a completed string that does not fit is reported
// as "01004", its full length in characters: a wide application sizes its
// buffer in characters and could not otherwise tell a cut string.
Q4_EXPORT SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC hdbc, SQLHWND hwnd, SQLWCHAR* in,
                                              SQLSMALLINT cch_in, SQLWCHAR* out, SQLSMALLINT room,
                                              SQLSMALLINT* cch_out, SQLUSMALLINT completion) {
  return connection_call(hdbc, [&](Connection* conn) {
    WideIn text(conn, nullptr, in, cch_in);
    WideOut done(conn, nullptr, out, room, WideUnit::kCharacters, cch_out, kCompletedStringRoom);
    if (text.failed() || done.failed()) return static_cast<SQLRETURN>(SQL_ERROR);
    return done.finish(driver_connect(conn, static_cast<Window*>(hwnd), text.text(),
                                      text.short_length(), done.text(), done.short_room(),
                                      done.short_length(), completion));
  });
}

// As its narrow form: browsing is not offered; the call succeeds and writes
// nothing.
Q4_EXPORT SQLRETURN SQL_API SQLBrowseConnectW(SQLHDBC hdbc, SQLWCHAR* /*szConnStrIn*/,
                                              SQLSMALLINT /*cchConnStrIn*/,
                                              SQLWCHAR* /*szConnStrOut*/,
                                              SQLSMALLINT /*cchConnStrOutMax*/,
                                              SQLSMALLINT* /*pcchConnStrOut*/) {
  return connection_call(hdbc, [](Connection*) { return static_cast<SQLRETURN>(SQL_SUCCESS); });
}
