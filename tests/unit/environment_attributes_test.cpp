// SQLSetEnvAttr and SQLGetEnvAttr on an environment: the ODBC version an
// application declares, what is refused, and what SQLError then reads.

#include "statement_fixture.h"

namespace q4 {
namespace {

SQLPOINTER as_value(intptr_t value) {
  return reinterpret_cast<SQLPOINTER>(value);
}

class EnvironmentAttributes : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, nullptr, &env_), SQL_SUCCESS); }
  void TearDown() override { SQLFreeHandle(SQL_HANDLE_ENV, env_); }
  Environment* env() { return static_cast<Environment*>(env_); }
  // The outcome of a set, with the diagnostic SQLError reads off the
  // environment ("OK" or "ERROR HY024 Invalid attribute value").
  std::string set(SQLINTEGER attribute, intptr_t value) {
    return take(SQLSetEnvAttr(env_, attribute, as_value(value), 0));
  }
  std::string get(SQLINTEGER attribute) {
    SQLINTEGER value = -7;
    SQLINTEGER length = -7;
    SQLRETURN rc = SQLGetEnvAttr(env_, attribute, &value, sizeof value, &length);
    if (rc != SQL_SUCCESS) return take(rc);
    EXPECT_EQ(length, static_cast<SQLINTEGER>(sizeof(SQLINTEGER)));
    return std::to_string(value);
  }
  std::string take(SQLRETURN rc) {
    if (rc == SQL_SUCCESS) return "OK";
    SQLCHAR state[6];
    SQLCHAR text[300];
    SQLINTEGER native;
    SQLSMALLINT length;
    if (SQLError(env_, nullptr, nullptr, state, &native, text, sizeof text, &length) != SQL_SUCCESS)
      return "ERROR without diagnostic";
    std::string message = reinterpret_cast<char*>(text);
    return "ERROR " + std::string(reinterpret_cast<char*>(state)) + " " +
           message.substr(strlen(kMessagePrefix));
  }

  SQLHENV env_ = nullptr;
};

// Each attribute in turn on one environment: the set's outcome, then what a get reads. A refused
// value leaves the one before; the ODBC version decides the generation of the states.
TEST_F(EnvironmentAttributes, SetAndReadBack) {
  struct Case {
    SQLINTEGER attribute;
    intptr_t value;
    const char* outcome;
    const char* answered;
  };
  const char kInvalid[] = "ERROR HY024 Invalid attribute value";
  const char kUnknown[] = "ERROR S1092 Invalid attribute/option identifier";
  // clang-format off
  const Case cases[] = {
      {SQL_ATTR_ODBC_VERSION, SQL_OV_ODBC3_80, "OK", "380"},
      {SQL_ATTR_ODBC_VERSION, SQL_OV_ODBC2, "OK", "2"}, {SQL_ATTR_ODBC_VERSION, 0, kInvalid, "2"},
      {SQL_ATTR_OUTPUT_NTS, SQL_TRUE, "OK", "1"}, {SQL_ATTR_OUTPUT_NTS, SQL_FALSE, "ERROR S1C00 Driver Not Capable", "1"},
      {SQL_ATTR_CONNECTION_POOLING, SQL_CP_ONE_PER_HENV, "OK", "2"}, {SQL_ATTR_CONNECTION_POOLING, 9, kInvalid, "2"},
      {12345, 1, kUnknown, kUnknown},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.attribute << " = " << c.value);
    EXPECT_EQ(set(c.attribute, c.value), c.outcome);
    EXPECT_EQ(get(c.attribute), c.answered);
  }
  EXPECT_EQ(env()->odbc_version, OdbcVersion::kOdbc2);
  // Null handles; a null value pointer only tells the length.
  EXPECT_EQ(SQLSetEnvAttr(nullptr, SQL_ATTR_ODBC_VERSION, as_value(SQL_OV_ODBC3), 0),
            SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLGetEnvAttr(nullptr, SQL_ATTR_ODBC_VERSION, nullptr, 0, nullptr), SQL_INVALID_HANDLE);
  SQLINTEGER length = 0;
  EXPECT_EQ(SQLGetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, nullptr, 0, &length), SQL_SUCCESS);
  EXPECT_EQ(length, static_cast<SQLINTEGER>(sizeof(SQLINTEGER)));
  // SQLAllocEnv's environment is an ODBC 2 one.
  SQLHENV old_env;
  ASSERT_EQ(SQLAllocEnv(&old_env), SQL_SUCCESS);
  SQLINTEGER value = 0;
  EXPECT_EQ(SQLGetEnvAttr(old_env, SQL_ATTR_ODBC_VERSION, &value, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(value, SQL_OV_ODBC2);
  EXPECT_EQ(SQLFreeEnv(old_env), SQL_SUCCESS);
}

// Once a connection exists the version is refused (the 3.x state), unless it is the one set.
TEST_F(EnvironmentAttributes, TheVersionStaysWhileConnectionsExist) {
  ASSERT_EQ(set(SQL_ATTR_ODBC_VERSION, SQL_OV_ODBC3), "OK");
  SQLHDBC dbc = nullptr;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc), SQL_SUCCESS);
  EXPECT_EQ(set(SQL_ATTR_ODBC_VERSION, SQL_OV_ODBC2), "ERROR HY010 Function sequence error");
  EXPECT_EQ(set(SQL_ATTR_ODBC_VERSION, SQL_OV_ODBC3), "OK");
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  EXPECT_EQ(set(SQL_ATTR_ODBC_VERSION, SQL_OV_ODBC3_80), "OK");
}

}  // namespace
}  // namespace q4
