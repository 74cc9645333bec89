// evdetect check on a sound database, on a schema missing a table, column or index, and on a damaged file.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "db/backend.h"
#include "support/child_process.h"
#include "support/db_fixture.h"

namespace {

struct Result {
  int status = -1;
  std::string out;  // standard output and standard error
};

Result check(const std::string& db) {
  Result r;
  r.out = evd::test::shell(std::string(EVDETECT_PATH) + " --db " + evd::test::shellQuoted(db) + " check 2>&1", &r.status);
  return r;
}

class CheckTest : public ::testing::TestWithParam<std::string> {
 protected:
  // A database of its own with the schema, changed by SQL.
  std::string database(const std::string& sql) {
    const std::string db = evd::test::freshDatabase(GetParam());
    if (db.empty()) return db;
    std::string err;
    auto b = Db::detail::openBackend(db, &err);
    EXPECT_TRUE(b) << err;
    if (b && !sql.empty()) {
      EXPECT_EQ(0, b->exec(sql)) << b->lastError();
    }
    return db;
  }
};

TEST_P(CheckTest, ASoundDatabasePassesAndAMissingPartIsNamed) {
  if (GetParam() == "postgres" && evd::test::postgresUri().empty()) GTEST_SKIP() << "no PostgreSQL server";
  const struct {
    std::string sql;
    std::string named;  // "" for a sound database
  } cases[] = {
      {"", ""},
      {"ALTER TABLE NTDparams DROP COLUMN value", "damaged: missing column NTDparams.value"},
      {"DROP INDEX NTDparams_event", "damaged: missing index NTDparams_event on NTDparams"},
      {"DROP TABLE NTLMalert", "damaged: missing table NTLMalert"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    const std::string db = database(c.sql);
    ASSERT_FALSE(db.empty());
    const Result r = check(db);
    if (c.named.empty()) {
      EXPECT_EQ(0, r.status) << r.out;
      EXPECT_EQ(std::string::npos, r.out.find("damaged")) << r.out;
      EXPECT_NE(std::string::npos, r.out.find(": sound\n")) << r.out;
      continue;
    }
    EXPECT_EQ(3, r.status) << r.out;
    EXPECT_NE(std::string::npos, r.out.find(c.named + "\n")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("evdetect: database '")) << r.out;
    EXPECT_EQ(std::string::npos, r.out.find(": sound")) << r.out;
  }
}

// Bytes overwritten in the middle of the file, as a torn write or a bad disk leaves them.
TEST_P(CheckTest, ADamagedSqliteFileFails) {
  if (GetParam() != "sqlite") GTEST_SKIP() << "a file of pages is SQLite's";
  const std::string db = database(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 4000) "
      "INSERT INTO NTDparams (eventId, type, value) SELECT i, 1, printf('%0300d', i) FROM n");
  ASSERT_FALSE(db.empty());
  ASSERT_EQ(0, check(db).status) << "sound before the damage";
  const std::string path = db.substr(7);
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  ASSERT_TRUE(f);
  unsigned char header[18] = {};
  f.read(reinterpret_cast<char*>(header), sizeof header);
  const long pageSize = header[16] == 0 && header[17] == 1 ? 65536 : header[16] << 8 | header[17];
  f.seekg(0, std::ios::end);
  const long pages = static_cast<long>(f.tellg()) / pageSize;
  ASSERT_GT(pages, 50);
  f.seekp(pages / 2 * pageSize);  // a page's header: its kind and cell count
  const std::string junk(24, '\xa5');
  f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  f.close();
  const Result r = check(db);
  EXPECT_EQ(3, r.status) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("damaged: ")) << r.out;
}

EVD_INSTANTIATE_BACKENDS(CheckTest);

}  // namespace
