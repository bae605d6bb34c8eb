#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "connect/logon.h"

namespace q4 {
namespace {

Connection filled(uint32_t level, const char* server_format_opt) {
  Connection conn{};
  snprintf(conn.server, sizeof conn.server, "db1");
  snprintf(conn.virtual_machine, sizeof conn.virtual_machine, "vm");
  snprintf(conn.user, sizeof conn.user, "joe");
  snprintf(conn.password, sizeof conn.password, "pw");
  snprintf(conn.account, sizeof conn.account, "acc");
  snprintf(conn.ac_password, sizeof conn.ac_password, "acpw");
  snprintf(conn.currency_sign, sizeof conn.currency_sign, "$");
  snprintf(conn.thousand_mark, sizeof conn.thousand_mark, ",");
  snprintf(conn.decimal_mark, sizeof conn.decimal_mark, ".");
  snprintf(conn.server_format_opt, sizeof conn.server_format_opt, "%s", server_format_opt);
  snprintf(conn.field_separator, sizeof conn.field_separator, ",");
  conn.server_version = level;
  return conn;
}

struct LogonTextCase {
  uint32_t level;
  const char* server_format_opt;
  const char* text;
};

TEST(LogonText, MarksOnlyFromLevel754WithoutServerFormat) {
  const LogonTextCase cases[] = {
      {754, "No", "db1,vm,joe,pw,acc,acpw,\"$/,/.\","},
      {755, "", "db1,vm,joe,pw,acc,acpw,\"$/,/.\","},
      {754, "yes", "db1,vm,joe,pw,acc,acpw,\"$/,/.\","},  // "yes" is off
      {754, "Yes", "db1,vm,joe,pw,acc,acpw,"},
      {720, "No", "db1,vm,joe,pw,acc,acpw,"},
      {710, "No", "db1,vm,joe,pw,acc,acpw,"},
  };
  for (const LogonTextCase& c : cases) {
    Connection conn = filled(c.level, c.server_format_opt);
    int length = build_logon_text(&conn);
    EXPECT_EQ(std::string(conn.exchange_buffer), c.text) << c.level << c.server_format_opt;
    EXPECT_EQ(length, static_cast<int>(strlen(c.text)));
  }
}

TEST(LogonText, OnlyALeadingQuestionMarkEmpties) {
  Connection conn = filled(710, "No");
  snprintf(conn.user, sizeof conn.user, "j?e");
  build_logon_text(&conn);
  EXPECT_EQ(std::string(conn.exchange_buffer), "db1,vm,j?e,pw,acc,acpw,");
}

TEST(LogonText, EmptyFieldsKeepTheirSeparators) {
  Connection conn{};
  snprintf(conn.field_separator, sizeof conn.field_separator, "|");
  conn.server_version = 700;
  build_logon_text(&conn);
  EXPECT_EQ(std::string(conn.exchange_buffer), "||||||");
}

TEST(LogonText, LongestFieldsFitTheExchangeBuffer) {
  Connection conn = filled(754, "No");
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
