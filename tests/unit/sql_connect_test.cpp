// SQLConnect and the logon text without a server (no host is named).
#include "connect/logon.h"
#include "connect_test_support.h"
#include "link/link.h"
#include "private_odbc_ini.h"

namespace q4 {
namespace {

// An empty or missing name fails before any socket is opened.
TEST(SqlConnect, MissingDsnAndCountedNames) {
  for (const auto& [dsn, length] :
       {std::pair<const char*, SQLSMALLINT>{nullptr, SQL_NTS}, {"", SQL_NTS}, {"abc", 0}}) {
    ConnectionRecord conn;
    int users = socket_layer_users();
    EXPECT_EQ(SQLConnect(conn.get(), sql_text(dsn), length, nullptr, 0, nullptr, 0), SQL_ERROR);
    EXPECT_EQ(conn.sqlstate() + " " + conn.message(), "S1000 No DSN was specified");
    EXPECT_EQ(socket_layer_users(), users);
  }
  // Counted names are not read past their length.
  std::string dsn = PrivateOdbcIni::get().add_dsn({{"USER", "profile-user"}});
  ConnectionRecord conn;
  SQLConnect(conn.get(), sql_text((dsn + "garbage").c_str()), static_cast<SQLSMALLINT>(dsn.size()),
             sql_text("annXX"), 3, sql_text("pw-XX"), 2);
  EXPECT_EQ(fields({conn->dsn, conn->user, conn->password}), dsn + "|ann|pw");
}

Connection logon_record(uint32_t level, const char* server_format_opt, const char* user = "joe") {
  Connection conn{};
  // clang-format off
  const std::pair<char*, const char*> texts[] = {{conn.server, "db1"}, {conn.virtual_machine, "vm"},
      {conn.user, user}, {conn.password, "pw"}, {conn.account, "acc"}, {conn.ac_password, "acpw"},
      {conn.currency_sign, "$"}, {conn.thousand_mark, ","}, {conn.decimal_mark, "."},
      {conn.server_format_opt, server_format_opt}, {conn.field_separator, ","}};
  // clang-format on
  for (const auto& [field, text] : texts) strcpy(field, text);
  conn.server_version = level;
  return conn;
}

// "yes" is no "Yes", only a leading "?" empties a field (the marks' rules: wire).
TEST(LogonText, FieldsAndMarks) {
  const std::pair<Connection, const char*> cases[] = {
      {logon_record(754, "yes"), "db1,vm,joe,pw,acc,acpw,\"$/,/.\","},
      {logon_record(710, "No", "?joe"), "db1,vm,,pw,acc,acpw,"}};
  for (auto [conn, text] : cases) {
    EXPECT_EQ(build_logon_text(&conn), static_cast<int>(strlen(text)));
    EXPECT_EQ(std::string(conn.exchange_buffer), text);
  }
}

TEST(LogonText, LongestFieldsFitTheExchangeBuffer) {
  Connection conn = logon_record(754, "No");
  memset(conn.server, 's', sizeof conn.server - 1);
  memset(conn.account, 'a', sizeof conn.account - 1);
  memset(conn.field_separator, ';', sizeof conn.field_separator - 1);
  int length = build_logon_text(&conn);
  EXPECT_EQ(length, static_cast<int>(strlen(conn.exchange_buffer)));
  EXPECT_LT(length, kExchangeBufferSize);
  EXPECT_EQ(std::string(conn.exchange_buffer).substr(length - 9), std::string(9, ';'));
}

}  // namespace
}  // namespace q4
