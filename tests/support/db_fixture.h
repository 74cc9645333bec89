// A fixture that runs each test once per backend: on a fresh SQLite file and
// on the PostgreSQL server named by EVD_TEST_PG_URI (a schema private to this
// process, emptied before every test).
//
//   class ParamStoreTest : public evd::test::DbTest {};
//   TEST_P(ParamStoreTest, ...) { ... }
//   EVD_INSTANTIATE_BACKENDS(ParamStoreTest);
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace evd::test {

class DbTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override;
  void TearDown() override;

  bool isPostgres() const { return GetParam() == "postgres"; }
  const std::string& uri() const { return uri_; }
  // Runs raw SQL on this thread's connection (seeding other modules' tables).
  void exec(const std::string& sql);
  // One integer from a raw query (-1 when there is no row).
  long long queryInt(const std::string& sql);
  std::string queryText(const std::string& sql);
  // COUNT(*) of a "table [WHERE ...]" text.
  long long countRows(const std::string& fromWhere) { return queryInt("SELECT COUNT(*) FROM " + fromWhere); }
  // An event parameter row written through its binding; the binding's result.
  int insertParam(int eventId, int type, const std::string& value);
  // Makes every insert into TABLE whose COLUMN holds VALUE fail, for the rest
  // of the test (TearDown drops the trigger PostgreSQL would keep).
  void refuseInserts(const std::string& table, const std::string& column, const std::string& value);
  void refuseInserts(const std::string& table, const std::string& column, const std::vector<std::string>& values);

 private:
  std::string uri_;
  std::vector<std::string> refusing_;
};

// TEXT as an SQL string literal (quotes doubled), for seeding raw rows.
std::string sqlText(const std::string& text);

// A unique scratch file path under the test temp directory.
std::string tempPath(const std::string& stem);

// The PostgreSQL URI of this process's private schema, or "" without a server.
std::string postgresUri();

// A new database of BACKEND ("sqlite" or "postgres") with the schema and its
// seed rows, apart from the test's own (a scratch file, or a schema removed
// at exit): its URI, or "" when it cannot be made.
std::string freshDatabase(const std::string& backend);

}  // namespace evd::test

#define EVD_INSTANTIATE_BACKENDS(Suite)                                                     \
  INSTANTIATE_TEST_SUITE_P(Backends, Suite, ::testing::Values("sqlite", "postgres"),      \
                           [](const ::testing::TestParamInfo<std::string>& i) { return i.param; })
