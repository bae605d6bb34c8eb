// Wide (UTF-16) arguments: the conversions of one argument shape each, and the
// wide entry points that need no server, called as a Driver Manager calls them.

#include "core/wide_arguments.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

std::u16string units(const SQLWCHAR* text, int64_t count) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), static_cast<size_t>(count));
}
SQLWCHAR* wide(const std::u16string& text) {
  return reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(text.c_str()));
}

struct CopyCase {
  const char* utf8;
  int64_t room;
  WideUnit unit;
  std::u16string written;  // before the terminator
  int64_t full_length;
  bool truncated;
};

TEST(CopyToWide, CutsWholeCharactersAndCountsInTheBuffersUnit) {
  const CopyCase cases[] = {
      {"Zoë", 4, WideUnit::kCharacters, u"Zoë", 3, false},
      {"Zoë", 3, WideUnit::kCharacters, u"Zo", 3, true},
      {"Zoë", 8, WideUnit::kBytes, u"Zoë", 6, false},
      {"Zoë", 7, WideUnit::kBytes, u"Zo", 6, true},  // an odd room loses its last byte
      // (A surrogate pair never split, in rooms around it: odbc3/wide_calls_test.c's names.)
      {"", 1, WideUnit::kCharacters, u"", 0, false},
      {"", 2, WideUnit::kBytes, u"", 0, false},
      {"x", 1, WideUnit::kBytes, u"", 2, true},  // no room for the terminator
  };
  for (const CopyCase& c : cases) {
    SQLWCHAR out[16];
    memset(out, 0xAA, sizeof out);
    WideCopy copy = copy_to_wide(c.utf8, static_cast<int64_t>(strlen(c.utf8)), out, c.room, c.unit);
    SCOPED_TRACE(std::string(c.utf8) + " room " + std::to_string(c.room));
    EXPECT_EQ(copy.full_length, c.full_length);
    EXPECT_EQ(copy.truncated, c.truncated);
    int64_t room_units = c.unit == WideUnit::kBytes ? c.room / 2 : c.room;
    if (room_units >= 1) {
      EXPECT_EQ(units(out, static_cast<int64_t>(c.written.size())), c.written);
      EXPECT_EQ(out[c.written.size()], 0) << "terminated";
    }
    EXPECT_EQ(out[room_units], 0xAAAA) << "nothing written past the room";
  }
  // A null buffer only measures.
  WideCopy copy = copy_to_wide("東京", 6, nullptr, 0, WideUnit::kBytes);
  EXPECT_EQ(copy.full_length, 4);
  EXPECT_FALSE(copy.truncated);
}

struct InCase {
  std::u16string text;
  SQLINTEGER length;
  std::string utf8;
  SQLINTEGER utf8_length;
};

// The units the length says (an explicit length cutting a name: odbc3/wide_calls_test.c's
// SQLColumnsW); null texts, bad lengths and long texts.
TEST(WideIn, ConvertsTheUnitsTheLengthSays) {
  const InCase cases[] = {
      {u"Grüße", SQL_NTS, "Grüße", 7},
      {u"東京😀", SQL_NTS, "東京😀", 10},
      {u"", SQL_NTS, "", 0},
      {u"abc", 0, "", 0},
      // An unpaired surrogate (a pair cut by the length) becomes U+FFFD.
      {u"a😀", 2, "a\xEF\xBF\xBD", 4},
  };
  for (const InCase& c : cases) {
    WideIn in(nullptr, nullptr, wide(c.text), c.length);
    ASSERT_FALSE(in.failed());
    EXPECT_EQ(in.chars(), c.utf8);
    EXPECT_EQ(in.length(), c.utf8_length);
  }
  // Null texts and bad lengths go on for the narrow rules to judge.
  WideIn null_text(nullptr, nullptr, nullptr, 5);
  EXPECT_EQ(null_text.text(), nullptr);
  EXPECT_EQ(null_text.length(), 5);
  std::u16string text = u"abc";
  WideIn bad_length(nullptr, nullptr, wide(text), -7);
  EXPECT_EQ(bad_length.length(), -7);
  EXPECT_EQ(bad_length.short_length(), -7);
  // Long texts are held whole; too long for a short length they go as SQL_NTS.
  std::u16string long_text(20000, u'é');  // 40000 bytes of UTF-8: beyond a SQLSMALLINT
  WideIn in(nullptr, nullptr, wide(long_text), SQL_NTS);
  ASSERT_FALSE(in.failed());
  EXPECT_EQ(in.length(), 40000);
  EXPECT_EQ(strlen(in.chars()), 40000u);
  EXPECT_EQ(in.short_length(), SQL_NTS);
}

// The wide entry points that need no server, through the exported functions.
class WideEntryPoints : public ::testing::Test {
 protected:
  std::string take(SQLRETURN rc) { return taken(rc, r.stmt); }
  StatementRecord r;
};

struct CursorCase {
  SQLSMALLINT room;  // characters
  const char* rc;
  std::u16string name;
};

TEST_F(WideEntryPoints, CursorNamesRoundTripAndACutNameReportsItsFullLength) {
  std::u16string name = u"Café_東";
  ASSERT_EQ(take(SQLSetCursorNameW(r.stmt, wide(name), SQL_NTS)), "OK");
  const CursorCase cases[] = {
      {7, "OK", u"Café_東"},
      {6, "INFO 01004 Data truncated", u"Café_"},
      {1, "INFO 01004 Data truncated", u""},
  };
  for (const CursorCase& c : cases) {
    SQLWCHAR out[20];
    SQLSMALLINT length = -1;
    EXPECT_EQ(take(SQLGetCursorNameW(r.stmt, out, c.room, &length)), c.rc);
    EXPECT_EQ(length, 6) << "the full length in characters, not UTF-8 bytes (8)";
    EXPECT_EQ(units(out, static_cast<int64_t>(c.name.size()) + 1),
              c.name + std::u16string(1, u'\0'));
  }
  // An explicit length counts characters.
  std::u16string longer = u"Zoë_cursor_and_more";
  ASSERT_EQ(take(SQLSetCursorNameW(r.stmt, wide(longer), 3)), "OK");
  SQLWCHAR out[20];
  SQLSMALLINT length = -1;
  EXPECT_EQ(take(SQLGetCursorNameW(r.stmt, out, 20, &length)), "OK");
  EXPECT_EQ(units(out, length), u"Zoë");
}

TEST_F(WideEntryPoints, ErrorMessagesAreReadOnceAndCutInCharacters) {
  post_error(r.stmt, "Valeur refusée: 東京", "S1000");
  // The message as the narrow call reads it, widened.
  SQLWCHAR whole[300];
  WideCopy full = copy_to_wide(r.stmt->message, static_cast<int64_t>(strlen(r.stmt->message)),
                               whole, 300, WideUnit::kCharacters);
  std::u16string expected = units(whole, full.full_length);
  ASSERT_EQ(expected.substr(expected.size() - 18), u"Valeur refusée: 東京");
  SQLWCHAR state[6];
  SQLWCHAR message[8];
  SQLINTEGER native = -1;
  SQLSMALLINT length = -1;
  EXPECT_EQ(SQLErrorW(nullptr, nullptr, r.stmt, state, &native, message, 8, &length),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(units(state, 6), std::u16string(u"S1000") + u'\0');
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(expected.size()));
  EXPECT_EQ(units(message, 8), expected.substr(0, 7) + u'\0');
  EXPECT_EQ(SQLErrorW(nullptr, nullptr, r.stmt, state, &native, message, 8, &length),
            SQL_NO_DATA_FOUND);
  EXPECT_EQ(units(state, 6), std::u16string(u"00000") + u'\0');
}

TEST_F(WideEntryPoints, TheCurrentQualifierRoundTripsAsText) {
  std::u16string qualifier = u"Bâle_東京";
  EXPECT_EQ(SQLSetConnectOptionW(r.conn, SQL_CURRENT_QUALIFIER,
                                 reinterpret_cast<SQLULEN>(wide(qualifier))),
            SQL_SUCCESS);
  EXPECT_STREQ(r.conn->current_qualifier, "Bâle_東京") << "stored as UTF-8";
  SQLWCHAR out[SQL_MAX_OPTION_STRING_LENGTH + 1];
  EXPECT_EQ(SQLGetConnectOptionW(r.conn, SQL_CURRENT_QUALIFIER, out), SQL_SUCCESS);
  EXPECT_EQ(units(out, 8), qualifier + u'\0');
  // A numeric option stays a number.
  SQLUINTEGER timeout = 0;
  EXPECT_EQ(SQLSetConnectOptionW(r.conn, SQL_LOGIN_TIMEOUT, 17), SQL_SUCCESS);
  EXPECT_EQ(SQLGetConnectOptionW(r.conn, SQL_LOGIN_TIMEOUT, &timeout), SQL_SUCCESS);
  EXPECT_EQ(timeout, 17u);
}

}  // namespace
}  // namespace q4
