// Data source settings: number and switch rules, NUMERICFORMAT, the profile keys.
#include <arpa/inet.h>

#include "connect/settings.h"
#include "connect_test_support.h"
#include "private_odbc_ini.h"

namespace q4 {
namespace {

// A fresh record naming a fresh data source with `keys`.
Connection record_for(const std::map<std::string, std::string>& keys) {
  Connection conn{};
  set(conn.dsn, PrivateOdbcIni::get().add_dsn(keys));
  return conn;
}

// Only "Y" switches on; leading integers saturate; timeouts cap at 32767; ports wrap.
TEST(SettingTexts, SwitchAndNumberRules) {
  for (const auto& [text, on] : {std::pair{"Yonder", true}, {"yes", false}, {" Yes", false}}) {
    EXPECT_EQ(switch_on(text), on) << '"' << text << '"';
  }
  // clang-format off
  const std::pair<const char*, int32_t> ints[] = {{"  42x", 42}, {"-1", -1}, {"abc", 0},
      {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN}};
  const std::pair<const char*, uint32_t> timeouts[] = {{"32767", 32767}, {"32768", 32767}};
  const std::pair<const char*, uint16_t> ports[] = {{"70000", 70000 - 65536}, {"-1", 65535}};
  // clang-format on
  for (const auto& [text, value] : ints) EXPECT_EQ(parse_leading_int(text), value) << text;
  for (const auto& [text, value] : timeouts) EXPECT_EQ(timeout_from_text(text), value) << text;
  for (const auto& [text, port] : ports) EXPECT_EQ(port_from_text(text), htons(port)) << text;
  EXPECT_EQ(level_from_text("-1"), 0xFFFFFFFFu);
}

// Marks the text does not give keep what they held ("C", "T", "D").
TEST(SettingTexts, NumericFormatSplitsUpToFirstEmptyPart) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
      {"$/,/.", "$|,|."}, {"$//.", "$|T|D"}, {"/,/.", "C|T|D"}, {"$/,", "$|,|D"},
      {"$/,/ . x", "$|,|."},    // the third part is one word
      {"EUR /./,", "EUR |.|,"},  // the first two keep their blanks
      {"abcdefg/1234567/uvwxyz", "abcde|12345|uvwxy"}};
  // clang-format on
  for (const auto& [text, expected] : cases) {
    Connection conn{};
    strcpy(conn.currency_sign, "C"), strcpy(conn.thousand_mark, "T"),
        strcpy(conn.decimal_mark, "D");
    split_numeric_format(&conn, text);
    EXPECT_EQ(fields({conn.currency_sign, conn.thousand_mark, conn.decimal_mark}), expected)
        << text;
  }
}

// USER before UID, PASSWORD before PWD, port kept as text, longest passwords whole.
TEST(DriverConnectSettings, UserPasswordAndPortKeys) {
  // clang-format off
  Connection conn = record_for({{"USER", "u"}, {"UID", "x"}, {"PASSWORD", "p"}, {"PWD", "y"},
                                {"PORTNUMBER", "1700"}, {"DESCRIPTION", "d"}});
  // clang-format on
  EXPECT_TRUE(read_driver_connect_settings(&conn));
  EXPECT_EQ(fields({conn.user, conn.password, conn.port_text, conn.description}), "u|p|1700|d");
  EXPECT_EQ(conn.port, 0) << "SQLDriverConnect converts the port when connecting";
  const std::string longest(19, 'k');
  conn = record_for({{"PASSWORD", scrambled(longest)}, {"ACPASSWORD", scrambled(longest)}});
  EXPECT_FALSE(read_driver_connect_settings(&conn)) << "no user";
  EXPECT_EQ(fields({conn.user, conn.password, conn.ac_password}), "|" + longest + "|" + longest);
}

}  // namespace
}  // namespace q4
