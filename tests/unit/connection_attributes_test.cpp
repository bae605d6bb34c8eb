// Connection attributes (the ODBC 3 forms of the connection options). (Closing a cursor:
// odbc3/connection_attributes_test.c and odbc3/descriptors_test.c.)

#include "connect/connection_attributes.h"
#include "core/wide_text.h"
#include "statement/options.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

// An environment and a connection that was never connected: no request can
// leave, so only stored values and refusals show.
class UnconnectedAttributes : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(alloc_environment(&env_), SQL_SUCCESS);
    ASSERT_EQ(alloc_connection(env_, &conn_), SQL_SUCCESS);
  }
  void TearDown() override {
    free_connection(conn_);
    free_environment(env_);
  }
  SQLRETURN set(SQLINTEGER attribute, uintptr_t value) {
    clear_diagnostic(conn_->sqlstate, conn_->message);
    return set_connect_attr(conn_, attribute, reinterpret_cast<SQLPOINTER>(value), 0,
                            AttributeText::kNarrow);
  }
  // The attribute read back as SQLGetConnectAttr stores it, or the outcome.
  std::string get(SQLINTEGER attribute) {
    clear_diagnostic(conn_->sqlstate, conn_->message);
    SQLULEN value = 0xA5A5A5A5A5A5A5A5u;  // only the low 32 bits may change
    SQLRETURN rc = get_connect_attr(conn_, attribute, &value, SQL_IS_UINTEGER, nullptr,
                                    AttributeText::kNarrow);
    if (rc != SQL_SUCCESS) return outcome(rc, conn_);
    EXPECT_EQ(value >> 32, 0xA5A5A5A5u) << "wrote past 32 bits";
    return std::to_string(value & 0xFFFFFFFFu);
  }
  Environment* env_ = nullptr;
  Connection* conn_ = nullptr;
};

const char kUnknown[] = "ERROR S1092 Invalid attribute/option identifier";

// Each attribute family once: what a set answers and what a get reads back.
TEST_F(UnconnectedAttributes, SetAndReadBack) {
  // clang-format off
  struct Case { SQLINTEGER attribute; uintptr_t value; const char* set; const char* read_back; } cases[] = {
      // The options of the same number, with their diagnostics.
      {SQL_ATTR_LOGIN_TIMEOUT, 40000, "INFO 01S02 Option value changed", "32767"},
      {SQL_ATTR_ACCESS_MODE, SQL_MODE_READ_ONLY, "INFO 01S02 Option value changed", "0"},
      {SQL_ATTR_TRACE, SQL_OPT_TRACE_ON, "ERROR S1C00 Driver Not Capable", "ERROR S1C00 Driver Not Capable"},
      // Statement options become the defaults, checked as on a statement (a new statement
      // reading one: odbc3/connection_attributes_test.c); one without a default is refused as
      // SQLGetConnectOption refuses it.
      {SQL_ATTR_NOSCAN, 2, "ERROR S1009 Invalid argument value", "1"},
      {SQL_ATTR_MAX_LENGTH, 10, "ERROR S1C00 Driver not capable", "ERROR S1092 Bad Option"},
      // ODBC 3 statement attributes are the statement's alone.
      {SQL_ATTR_ROW_ARRAY_SIZE, 10, kUnknown, kUnknown},
      {SQL_ATTR_CONNECTION_TIMEOUT, uintptr_t{1} << 40, "OK", "4294967295"},
      // Read only: never connected is dead.
      {SQL_ATTR_CONNECTION_DEAD, SQL_CD_FALSE, kUnknown, "1"},
      {SQL_ATTR_METADATA_ID, SQL_TRUE, "ERROR S1C00 Driver not capable", "0"},
      // Write only, and only "yes".
      {SQL_ATTR_RESET_CONNECTION, 2, "ERROR S1009 Invalid argument value", kUnknown},
      {12345, 1, kUnknown, kUnknown},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.attribute << " = " << c.value);
    EXPECT_EQ(outcome(set(c.attribute, c.value), conn_), c.set);
    EXPECT_EQ(get(c.attribute), c.read_back);
  }
}

// The current catalog: set with explicit lengths and SQL_NTS, narrow and wide. (Read back
// whole and cut: odbc3/connection_attributes_test.c.)
TEST_F(UnconnectedAttributes, CatalogLengthsBothWays) {
  const char kName[] = "Zo\xc3\xab_db";  // 7 bytes, 6 characters
  // 67 bytes fit; a longer catalog is cut with "01S02", whichever form set it.
  const std::string long_name(100, 'c'), cut(67, 'c');
  // clang-format off
  struct Case { const void* text; SQLINTEGER length; AttributeText form; const char* outcome; std::string stored; } cases[] = {
      {kName, SQL_NTS, AttributeText::kNarrow, "OK", kName},
      {kName, -5, AttributeText::kNarrow, "ERROR S1090 Invalid string or buffer length", ""},
      {u"Zo\u00eb_db", 6, AttributeText::kWide, "OK", "Zo\xc3\xab"},
      {nullptr, SQL_NTS, AttributeText::kNarrow, "ERROR S1009 Invalid argument value", ""},
      {long_name.data(), SQL_NTS, AttributeText::kNarrow, "INFO 01S02 Option value changed", cut},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    strcpy(conn_->current_qualifier, "");
    clear_diagnostic(conn_->sqlstate, conn_->message);
    EXPECT_EQ(outcome(set_connect_attr(conn_, SQL_ATTR_CURRENT_CATALOG, const_cast<void*>(c.text),
                                       c.length, c.form),
                      conn_),
              c.outcome);
    EXPECT_EQ(conn_->current_qualifier, c.stored);
  }
}

using ConnectionDead = StatementTest;

// What the link knows, without a request: alive until a failure drops it.
TEST_F(ConnectionDead, AnsweredFromTheLink) {
  SQLUINTEGER dead = 7;
  EXPECT_EQ(
      get_connect_attr(conn_, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr, AttributeText::kNarrow),
      SQL_SUCCESS);
  EXPECT_EQ(dead, static_cast<SQLUINTEGER>(SQL_CD_FALSE));
  drop_link(conn_->link);
  EXPECT_EQ(
      get_connect_attr(conn_, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr, AttributeText::kWide),
      SQL_SUCCESS);
  EXPECT_EQ(dead, static_cast<SQLUINTEGER>(SQL_CD_TRUE));
}

}  // namespace
}  // namespace q4
