// SQLDescribeColW on a result whose description came with the execute reply:
// a name beyond the conversion's inline room, whole or cut before a pair,
// with its full length in characters. (Short names in rooms of every size:
// the odbc3 wide calls program.)
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
    ASSERT_EQ(execute(join({execute_payload(1, 1),
                            description({column_record(kLongName, SQL_VARCHAR, 40)}),
                            block_of({text_value("a")}, 'W')})),
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

}  // namespace
}  // namespace q4::wire
