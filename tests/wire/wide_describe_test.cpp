// SQLDescribeColW and SQLColAttributesW on a result whose description came
// with the execute reply: names of every length and script in UTF-16, cut
// whole characters at a time, full lengths in characters (describe) or bytes
// (attributes).
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "result_fixture.h"

namespace q4::wire {
namespace {

std::u16string units(const SQLWCHAR* text, int64_t count) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), static_cast<size_t>(count));
}

std::string repeated(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

// Longer than the conversion's inline room (512 bytes): the name is read again whole.
const std::string kLongName = repeated("東", 300) + "😀";  // 904 bytes, 302 units
const std::u16string kLongWide = std::u16string(300, u'東') + u"😀";

class WideDescribe : public StatementTest {
 protected:
  void SetUp() override {
    StatementTest::SetUp();
    ASSERT_EQ(
        execute(join({execute_payload(3, 1),
                      description({column_record(kLongName, SQL_VARCHAR, 40),
                                   column_record("prénom", SQL_VARCHAR, 40),
                                   column_record("N", SQL_VARCHAR, 40)}),
                      block_of({join({text_value("a"), text_value("b"), text_value("c")})}, 'W')})),
        SQL_SUCCESS)
        << diag();
  }
};

struct DescribeCase {
  SQLUSMALLINT column;
  SQLSMALLINT room;  // characters
  SQLRETURN rc;
  std::u16string name;
  SQLSMALLINT length;
};

TEST_F(WideDescribe, NamesAreWholeOrCutAtACharacterWithTheirFullLength) {
  const DescribeCase cases[] = {
      {1, 400, SQL_SUCCESS, kLongWide, 302},
      {1, 302, SQL_SUCCESS_WITH_INFO, kLongWide.substr(0, 300), 302},  // the pair does not fit
      {1, 10, SQL_SUCCESS_WITH_INFO, kLongWide.substr(0, 9), 302},
      {2, 7, SQL_SUCCESS, u"prénom", 6},
      {2, 6, SQL_SUCCESS_WITH_INFO, u"préno", 6},
      {3, 2, SQL_SUCCESS, u"N", 1},
  };
  for (const DescribeCase& c : cases) {
    SCOPED_TRACE("column " + std::to_string(c.column) + " room " + std::to_string(c.room));
    SQLWCHAR name[400];
    SQLSMALLINT length = -1, type = 0, scale = -1, nullable = -1;
    SQLULEN size = 0;
    EXPECT_EQ(
        SQLDescribeColW(stmt, c.column, name, c.room, &length, &type, &size, &scale, &nullable),
        c.rc);
    EXPECT_EQ(units(name, static_cast<int64_t>(c.name.size()) + 1), c.name + u'\0');
    EXPECT_EQ(length, c.length);
    EXPECT_EQ(type, SQL_VARCHAR);
    EXPECT_EQ(size, 40u);
    EXPECT_EQ(sqlstate(), c.rc == SQL_SUCCESS ? "" : "01004");
    clear_diagnostic(stmt->sqlstate, stmt->message);
  }
  SQLSMALLINT length = -1;  // a null buffer still gets the length
  EXPECT_EQ(SQLDescribeColW(stmt, 1, nullptr, 0, &length, nullptr, nullptr, nullptr, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(length, 302);
}

struct AttributeCase {
  SQLUSMALLINT field;
  SQLSMALLINT room;  // bytes
  SQLRETURN rc;
  std::u16string text;
  SQLSMALLINT length;  // bytes
};

TEST_F(WideDescribe, AttributeTextsCountBytes) {
  const AttributeCase cases[] = {
      {SQL_COLUMN_NAME, 14, SQL_SUCCESS, u"prénom", 12},
      {SQL_COLUMN_NAME, 13, SQL_SUCCESS_WITH_INFO, u"préno", 12},  // an odd room: 6 units
      {SQL_COLUMN_LABEL, 100, SQL_SUCCESS, u"prénom", 12},
      {SQL_COLUMN_TYPE_NAME, 100, SQL_SUCCESS, u"VARCHAR", 14},
  };
  for (const AttributeCase& c : cases) {
    SCOPED_TRACE("field " + std::to_string(c.field) + " room " + std::to_string(c.room));
    SQLWCHAR text[50];
    SQLSMALLINT length = -1;
    SQLLEN number = -1;
    EXPECT_EQ(SQLColAttributesW(stmt, 2, c.field, text, c.room, &length, &number), c.rc);
    EXPECT_EQ(units(text, static_cast<int64_t>(c.text.size()) + 1), c.text + u'\0');
    EXPECT_EQ(length, c.length);
    clear_diagnostic(stmt->sqlstate, stmt->message);
  }
  // A numeric attribute leaves the text alone.
  SQLWCHAR text[4] = {u'z', 0, 0, 0};
  SQLSMALLINT length = -1;
  SQLLEN number = -1;
  EXPECT_EQ(SQLColAttributesW(stmt, 2, SQL_COLUMN_LENGTH, text, sizeof text, &length, &number),
            SQL_SUCCESS);
  EXPECT_EQ(number, 40);
  EXPECT_EQ(text[0], u'z');
  EXPECT_EQ(length, -1);
}

}  // namespace
}  // namespace q4::wire
