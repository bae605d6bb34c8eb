// The sample database that the README's main command serves.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "test_support.h"

namespace q4::test {
namespace {

std::string q4lite_binary() {
  const char* dir = std::getenv("Q4_BUILD_DIR");
  return std::string(dir != nullptr ? dir : "build") + "/q4lite";
}

TEST(Sample, SeedsOnceAndServesEveryWireType) {
  char dir[] = "/tmp/q4lite-sample-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string db = std::string(dir) + "/sample.db";
  const std::string seed = q4lite_binary() + " --quiet --seed-sample " + db;
  ASSERT_EQ(std::system(seed.c_str()), 0);
  EXPECT_NE(std::system((seed + " 2>/dev/null").c_str()), 0);  // never overwrites a file
  {
    auto server = start_server({"--db", db});
    ASSERT_TRUE(server);
    auto client = logged_on(*server);
    Result first;
    std::vector<std::vector<Value>> rows;
    std::string error;
    struct Count {
      const char* table;
      int rows;
    };
    for (const Count& c : {Count{"customers", 500}, Count{"products", 200}, Count{"orders", 5000},
                           Count{"order_lines", 15000}, Count{"order_totals", 5000}}) {
      ASSERT_TRUE(client->query(1, std::string("SELECT * FROM ") + c.table, &first, &rows, &error))
          << error;
      EXPECT_EQ(rows.size(), static_cast<size_t>(c.rows)) << c.table;
    }
    std::set<int16_t> types;
    for (const char* table : {"customers", "products", "orders", "order_lines"}) {
      ASSERT_TRUE(client->query(1, std::string("SELECT * FROM ") + table + " LIMIT 1", &first,
                                &rows, &error));
      for (const Description& d : first.descriptions) types.insert(d.type);
    }
    EXPECT_EQ(types, (std::set<int16_t>{kSqlChar, kSqlNumeric, kSqlInteger, kSqlSmallint, kSqlDate,
                                        kSqlTime, kSqlTimestamp, kSqlVarchar, kSqlVarbinary,
                                        kSqlLongVarbinary}));
    // Generated from row numbers only: the same values on every run.
    ASSERT_TRUE(client->query(1, "SELECT total FROM order_totals WHERE order_id = 1", &first, &rows,
                              &error));
    EXPECT_EQ(rows[0][0].data, "3319.42");
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

}  // namespace
}  // namespace q4::test
