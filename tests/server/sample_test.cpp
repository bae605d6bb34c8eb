// The sample database that the README's main command serves.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "protocol_client.h"

namespace q4::test {
namespace {

TEST(Sample, SeedsOnceAndServesEveryWireType) {
  char dir[] = "/tmp/q4lite-sample-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string db = std::string(dir) + "/sample.db";
  const char* build = std::getenv("Q4_BUILD_DIR");
  const std::string seed =
      std::string(build != nullptr ? build : "build") + "/q4lite --quiet --seed-sample " + db;
  ASSERT_EQ(std::system(seed.c_str()), 0);
  EXPECT_NE(std::system((seed + " 2>/dev/null").c_str()), 0);  // never overwrites a file
  auto server = start_server({"--db", db});
  ASSERT_TRUE(server);
  auto client = logged_on(*server);
  Result first;
  Rows rows;
  std::string error;
  std::set<int16_t> types;
  for (const auto& [table, count] :
       std::initializer_list<std::pair<const char*, int>>{{"customers", 500},
                                                          {"products", 200},
                                                          {"orders", 5000},
                                                          {"order_lines", 15000},
                                                          {"order_totals", 5000}}) {
    ASSERT_TRUE(client->query(1, std::string("SELECT * FROM ") + table, &first, &rows, &error))
        << error;
    EXPECT_EQ(rows.size(), static_cast<size_t>(count)) << table;
    for (const Description& d : first.descriptions) types.insert(d.type);
  }
  EXPECT_EQ(types,
            (std::set<int16_t>{kSqlChar, kSqlNumeric, kSqlInteger, kSqlSmallint, kSqlDate, kSqlTime,
                               kSqlTimestamp, kSqlVarchar, kSqlVarbinary, kSqlLongVarbinary}));
  // Generated from row numbers only: the same values on every run.
  ASSERT_TRUE(
      client->query(1, "SELECT total FROM order_totals WHERE order_id = 1", &first, &rows, &error));
  EXPECT_EQ(rows[0][0].data, "3319.42");
  server.reset();
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace q4::test
