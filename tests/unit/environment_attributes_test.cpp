// SQLSetEnvAttr and SQLGetEnvAttr on an environment: the ODBC version an
// application declares, what is refused, and what SQLError then reads.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "metadata/driver_info.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

SQLPOINTER as_value(intptr_t value) {
  return reinterpret_cast<SQLPOINTER>(value);
}

class EnvironmentAttributes : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, nullptr, &env_), SQL_SUCCESS); }
  void TearDown() override {
    if (dbc_ != nullptr) SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
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
  SQLHDBC dbc_ = nullptr;
};

TEST_F(EnvironmentAttributes, TheVersionSetIsTheVersionAnsweredAndDecidesTheGeneration) {
  struct Case {
    intptr_t set;
    const char* outcome;
    const char* answered;
    OdbcVersion stored;
  };
  const Case cases[] = {
      {SQL_OV_ODBC3_80, "OK", "380", OdbcVersion::kOdbc380},
      {SQL_OV_ODBC3, "OK", "3", OdbcVersion::kOdbc3},
      {SQL_OV_ODBC2, "OK", "2", OdbcVersion::kOdbc2},
      // Refused values leave the version as it was.
      {0, "ERROR HY024 Invalid attribute value", "2", OdbcVersion::kOdbc2},
      {1, "ERROR HY024 Invalid attribute value", "2", OdbcVersion::kOdbc2},
      {300, "ERROR HY024 Invalid attribute value", "2", OdbcVersion::kOdbc2},
      {381, "ERROR HY024 Invalid attribute value", "2", OdbcVersion::kOdbc2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.set);
    EXPECT_EQ(set(SQL_ATTR_ODBC_VERSION, c.set), c.outcome);
    EXPECT_EQ(get(SQL_ATTR_ODBC_VERSION), c.answered);
    EXPECT_EQ(env()->odbc_version, c.stored);
  }
}

TEST_F(EnvironmentAttributes, AnEnvironmentFromSQLAllocEnvIsOdbc2) {
  SQLHENV old_env;
  ASSERT_EQ(SQLAllocEnv(&old_env), SQL_SUCCESS);
  SQLINTEGER value = 0;
  EXPECT_EQ(SQLGetEnvAttr(old_env, SQL_ATTR_ODBC_VERSION, &value, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(value, SQL_OV_ODBC2);
  EXPECT_EQ(SQLFreeEnv(old_env), SQL_SUCCESS);
}

TEST_F(EnvironmentAttributes, TheVersionStaysWhileConnectionsExist) {
  ASSERT_EQ(set(SQL_ATTR_ODBC_VERSION, SQL_OV_ODBC3), "OK");
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_SUCCESS);
  // The environment is an ODBC 3 one: the state is the 3.x one.
  EXPECT_EQ(set(SQL_ATTR_ODBC_VERSION, SQL_OV_ODBC2), "ERROR HY010 Function sequence error");
  // Setting the version it has is no change, and is no error.
  EXPECT_EQ(set(SQL_ATTR_ODBC_VERSION, SQL_OV_ODBC3), "OK");
  EXPECT_EQ(get(SQL_ATTR_ODBC_VERSION), "3");
  SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  dbc_ = nullptr;
  EXPECT_EQ(set(SQL_ATTR_ODBC_VERSION, SQL_OV_ODBC3_80), "OK");
}

TEST_F(EnvironmentAttributes, TheOtherAttributes) {
  struct Case {
    SQLINTEGER attribute;
    intptr_t value;
    const char* outcome;
    const char* answered;
  };
  const Case cases[] = {
      {SQL_ATTR_OUTPUT_NTS, SQL_TRUE, "OK", "1"},
      {SQL_ATTR_OUTPUT_NTS, SQL_FALSE, "ERROR S1C00 Driver Not Capable", "1"},
      {SQL_ATTR_OUTPUT_NTS, 7, "ERROR HY024 Invalid attribute value", "1"},
      {SQL_ATTR_CONNECTION_POOLING, SQL_CP_ONE_PER_HENV, "OK", "2"},
      {SQL_ATTR_CONNECTION_POOLING, 9, "ERROR HY024 Invalid attribute value", "2"},
      {SQL_ATTR_CONNECTION_POOLING, SQL_CP_OFF, "OK", "0"},
      {SQL_ATTR_CP_MATCH, SQL_CP_RELAXED_MATCH, "OK", "1"},
      {SQL_ATTR_CP_MATCH, 2, "ERROR HY024 Invalid attribute value", "1"},
      {SQL_ATTR_CP_MATCH, SQL_CP_STRICT_MATCH, "OK", "0"},
      {12345, 1, "ERROR S1092 Invalid attribute/option identifier",
       "ERROR S1092 Invalid attribute/option identifier"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attribute);
    EXPECT_EQ(set(c.attribute, c.value), c.outcome);
    EXPECT_EQ(get(c.attribute), c.answered);
  }
}

TEST_F(EnvironmentAttributes, NullHandlesAndOutputs) {
  EXPECT_EQ(SQLSetEnvAttr(nullptr, SQL_ATTR_ODBC_VERSION, as_value(SQL_OV_ODBC3), 0),
            SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLGetEnvAttr(nullptr, SQL_ATTR_ODBC_VERSION, nullptr, 0, nullptr), SQL_INVALID_HANDLE);
  SQLINTEGER length = 0;
  EXPECT_EQ(SQLGetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, nullptr, 0, &length), SQL_SUCCESS);
  EXPECT_EQ(length, static_cast<SQLINTEGER>(sizeof(SQLINTEGER)));
}

// What SQLGetInfo tells each generation: its own driver ODBC version, and the
// ODBC 3 information types to a 3.x application only.
TEST(InfoByVersion, EachGenerationItsAnswers) {
  struct Case {
    OdbcVersion version;
    SQLUSMALLINT type;
    const char* want;  // a text, a number, or the refusal's state
  };
  const Case cases[] = {
      {OdbcVersion::kOdbc2, SQL_DRIVER_ODBC_VER, "02.50"},
      {OdbcVersion::kOdbc3, SQL_DRIVER_ODBC_VER, "03.80"},
      {OdbcVersion::kOdbc380, SQL_DRIVER_ODBC_VER, "03.80"},
      {OdbcVersion::kOdbc2, SQL_ODBC_INTERFACE_CONFORMANCE, "HY096"},
      {OdbcVersion::kOdbc380, SQL_ODBC_INTERFACE_CONFORMANCE, "1"},
      {OdbcVersion::kOdbc380, SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1, "1"},
      {OdbcVersion::kOdbc380, SQL_KEYSET_CURSOR_ATTRIBUTES1, "0"},
      {OdbcVersion::kOdbc380, SQL_ASYNC_MODE, "0"},
      {OdbcVersion::kOdbc380, SQL_DESCRIBE_PARAMETER, "Y"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " " + std::to_string(static_cast<int>(c.version)));
    Environment env{};
    env.odbc_version = c.version;
    StatementRecord record;
    record.conn->environment = &env;
    char text[32] = {};
    SQLUINTEGER number = 77;
    bool is_text = c.type == SQL_DRIVER_ODBC_VER || c.type == SQL_DESCRIBE_PARAMETER;
    SQLSMALLINT length = 0;
    SQLRETURN rc = get_info(record.conn, c.type, is_text ? static_cast<void*>(text) : &number,
                            sizeof text, &length);
    if (rc != SQL_SUCCESS) {
      EXPECT_EQ(record.conn->sqlstate, std::string(c.want));
      continue;
    }
    EXPECT_EQ(is_text ? std::string(text) : std::to_string(number), c.want);
  }
}

}  // namespace
}  // namespace q4
