// The database layer's contract on both backends: quoting, cuts, date-times, errors and cursors.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Db/AllBindings.h"
#include "Db/Database.h"
#include "db/backend.h"
#include "support/db_fixture.h"

namespace {

using evd::test::DbTest;

class DbLayerTest : public DbTest {
 protected:
  std::vector<std::string> paramValues(int eventId) {
    std::vector<std::string> out;
    NTDparams t(nullptr);
    t.setWhere("eventId = %d", eventId);
    int counter = 0;
    while (t.getNextRow(&counter) == 0) out.emplace_back(t.getDataPtr()->value);
    return out;
  }
};

// Texts an event may carry that would break a statement built by pasting.
const std::vector<std::string>& hostileTexts() {
  static const std::vector<std::string> v = {"O'Brien's client", "C:\\dir\\", "100% done %s %d",
                                             "a; DROP TABLE NTDparams; --", "x' OR '1'='1", "\\'"};
  return v;
}

TEST_P(DbLayerTest, HostileTextsRoundTripThroughWhereSetAndValues) {
  int id = 1;
  for (const std::string& text : hostileTexts()) {
    ++id;
    ASSERT_EQ(0, insertParam(id, 7, text)) << text;
    NTDparams byValue(nullptr);
    byValue.setWhere("eventId = %d and value = N'%s'", id, text.c_str());
    ASSERT_EQ(0, byValue.getOneRow()) << text;
    EXPECT_EQ(text, byValue.getDataPtr()->value);
    // Rewritten through a SET list; the pasted-SQL reading would hit every row.
    NTDparams upd(nullptr);
    upd.setWhere("eventId = %d", id);
    ASSERT_EQ(0, upd.rowUpdate("value = N'%s' , created = %d", (text + "!").c_str(), 5));
    EXPECT_EQ(std::vector<std::string>{text + "!"}, paramValues(id));
  }
  // A caller that passes a ready literal to a bare %s cannot widen the where clause either.
  NTDparams bare(nullptr);
  bare.setWhere("eventId = %d and value = %s", 2, "'zzz' OR 1=1");
  EXPECT_EQ(DB_NO_DATA, bare.getOneRow());
  // Nothing leaked into other rows and the table is still there.
  EXPECT_EQ(0, queryInt("SELECT COUNT(*) FROM NTDparams WHERE created <> 5"));
}

TEST_P(DbLayerTest, FixedTextIsCutToColumnWidthWithoutSplittingCharacters) {
  // KRCounter.name holds 18 bytes: after 17 bytes, a two-byte character goes whole.
  KRCounter k(nullptr);
  EXPECT_TRUE(dbCopyText(k.getDataPtr()->name, "12345678901234567\xC3\xA9"));
  EXPECT_STREQ("12345678901234567", k.getDataPtr()->name);

  // A longer value written by another component is cut when read with 1004; the rest is intact.
  exec("INSERT INTO KRCounter (name, next_h, next_l) VALUES ('Event_Counter_with_a_long_name', 1, 77)");
  KRCounter r(nullptr);
  r.setWhere("next_l = %d", 77);
  EXPECT_EQ(DB_SUCCESS_TRUNCATED, r.getOneRow());
  EXPECT_STREQ("Event_Counter_with", r.getDataPtr()->name);
  EXPECT_EQ(1, r.getDataPtr()->next_h);
}

TEST_P(DbLayerTest, ZeroDateTimesRoundTripAndDateTimesBindThroughFormats) {
  NTDetectedAlerts t(nullptr);
  DB_DATETIME when;
  when.year = 2031;
  when.month = 12;
  when.day = 31;
  when.fraction = 999;
  t.getDataPtr()->occurTime = when;  // processTime stays zero
  ASSERT_EQ(0, t.rowInsert(true));
  NTDetectedAlerts r(nullptr);
  r.setWhere("eventId = %d", t.getDataPtr()->eventId);
  ASSERT_EQ(0, r.getOneRow());
  EXPECT_TRUE(r.getDataPtr()->processTime.isZero());

  // %p in a SET list and in a where clause; the zero date sorts first.
  DB_DATETIME later = when;
  later.year = 2032;
  ASSERT_EQ(0, r.rowUpdate("processTime = %p", DBodbcDate(&later)));
  NTDetectedAlerts q(nullptr);
  q.setWhere("processTime = %p and occurTime > %p", DBodbcDate(&later), DBodbcDate(nullptr));
  ASSERT_EQ(0, q.getOneRow());
  EXPECT_TRUE(q.getDataPtr()->processTime == later);
}

TEST_P(DbLayerTest, ErrorsCarryTheBackendsCodeAndText) {
  exec("DROP TABLE NTDvaultTracker");
  NTDvaultTracker t(nullptr);
  int rc = t.getOneRow();
  EXPECT_TRUE(rc != 0 && rc != DB_NO_DATA && rc != DB_SUCCESS_TRUNCATED) << rc;
  const std::string text = t.getErrorStr(rc);
  EXPECT_NE(std::string::npos, text.find(isPostgres() ? "does not exist (SQLSTATE 42P01)" : "no such table")) << text;
  // An object that did not see the failure describes the code as the backend does.
  NTDvaultTracker other(nullptr);
  EXPECT_STREQ(isPostgres() ? "PostgreSQL error (SQLSTATE 42P01)" : "SQLite error 1 (SQL logic error)",
               other.getErrorStr(rc));
  EXPECT_STREQ("database error 131072", other.getErrorStr(131072));
}

TEST_P(DbLayerTest, UpdateAndDeleteReportWhenNothingMatched) {
  NTDetectedAlerts t(nullptr);
  t.setWhere("ntNotificationId = %d", 42);
  EXPECT_EQ(DB_NO_DATA, t.rowDelete());
  EXPECT_EQ(DB_NO_DATA, t.rowUpdate("processStat = %d", 1));
  // Writing back a row that was never read is refused.
  EXPECT_EQ(DB_ERR_USAGE, t.rowUpdate(nullptr));
}

// A keyless table: of two identical rows, only the one read is written back.
TEST_P(DbLayerTest, WholeRowWriteBackTouchesOnlyTheRowRead) {
  ASSERT_EQ(0, insertParam(9, 2, "same"));
  ASSERT_EQ(0, insertParam(9, 2, "same"));
  NTDparams t(nullptr);
  t.setWhere("eventId = %d", 9);
  ASSERT_EQ(0, t.getOneRow());
  dbCopyText(t.getDataPtr()->value, "changed");
  ASSERT_EQ(0, t.rowUpdate(nullptr));
  EXPECT_EQ((std::vector<std::string>{"changed", "same"}), paramValues(9));

}

// Rows written many to a statement come back in the order given, across
// statements; a refused row fails its own statement only.
TEST_P(DbLayerTest, RowsInsertWritesInOrderAcrossStatements) {
  const size_t count = 2 * DBtable::kMaxRowsPerInsert + 3;
  const auto text = [](size_t i) { return "v" + std::to_string(i); };
  refuseInserts("NTDparams", "value", text(count - 1));
  for (const int eventId : {7, 8}) {
    SCOPED_TRACE(eventId);
    const size_t rows = eventId == 7 ? count - 1 : count;
    NTDparams t(nullptr);
    const int rc = t.rowsInsert(rows, [&](size_t i) {
      t.getDataPtr()->eventId = eventId;
      dbCopyText(t.getDataPtr()->value, text(i).c_str());
    });
    std::vector<std::string> expected;
    for (size_t i = 0; i < rows - (eventId == 8 ? 3 : 0); ++i) expected.push_back(text(i));
    EXPECT_EQ(eventId == 7, rc == 0) << t.getErrorStr(rc);
    EXPECT_EQ(expected, paramValues(eventId));
  }
}

TEST_P(DbLayerTest, CursorsOverOneStatementNestAndRestart) {
  for (int i = 1; i <= 3; ++i) ASSERT_EQ(0, insertParam(3, i, std::to_string(i)));
  NTDparams outer(nullptr), inner(nullptr);
  outer.setWhere("eventId = %d", 3);
  inner.setWhere("eventId = %d", 3);
  int c1 = 0, c2 = 0;
  std::string seen;
  while (outer.getNextRow(&c1) == 0) {
    ASSERT_EQ(0, inner.getNextRow(&c2));
    seen += std::to_string(outer.getDataPtr()->type) + std::to_string(inner.getDataPtr()->type);
  }
  EXPECT_EQ("112233", seen);
  c1 = 0;  // a counter set back to 0 restarts the cursor
  ASSERT_EQ(0, outer.getNextRow(&c1));
  EXPECT_EQ(1, outer.getDataPtr()->type);
}

EVD_INSTANTIATE_BACKENDS(DbLayerTest);

TEST(DbOpenTest, SchemalessAndMissingDatabasesAreRefused) {
  // A SQLite file that holds other tables is not taken over silently.
  std::string path = evd::test::tempPath("foreign") + ".db";
  {
    std::string err;
    auto b = Db::detail::openBackend(path, &err);
    ASSERT_TRUE(b) << err;
    ASSERT_EQ(0, b->exec("CREATE TABLE NTDetectedAlerts (x INTEGER)"));
  }
  Db::configure("sqlite:" + path);
  std::string err;
  EXPECT_EQ(DB_ERR_NO_SCHEMA, Db::openThreadConnection(&err));
  Db::closeThreadConnection();

  // A missing file is not created: only initSchema makes a database.
  const std::string fresh = evd::test::tempPath("fresh") + ".db";
  Db::configure("sqlite:" + fresh);
  EXPECT_EQ(DB_ERR_CONNECT, Db::openThreadConnection(&err));
  EXPECT_FALSE(std::filesystem::exists(fresh));
  Db::closeThreadConnection();
}

}  // namespace

namespace {

// In a new SQLite file the hidden row id of a keyless table is a plain rowid:
// inserts leave sqlite_sequence alone (serials still use it) and the rows
// still read back in the order written.
TEST_P(DbLayerTest, KeylessTablesUseAPlainRowidInNewSqliteFilesAndOlderFilesKeepTheirs) {
  if (isPostgres()) GTEST_SKIP() << "the row id of PostgreSQL is an identity column";
  for (const char* value : {"first", "second", "third"}) ASSERT_EQ(0, insertParam(5, 1, value));
  exec("INSERT INTO NTDetectedAlerts (alertType, criteria) VALUES (3, 1)");
  EXPECT_EQ(0, countRows("sqlite_sequence WHERE name = 'NTDparams'"));
  EXPECT_EQ(1, countRows("sqlite_sequence WHERE name = 'NTDetectedAlerts'"));
  EXPECT_EQ((std::vector<std::string>{"first", "second", "third"}), paramValues(5));

  // A file made when the row id was AUTOINCREMENT keeps it through a later
  // init, and its rows still go in and come back in order.
  const std::string sql = queryText("SELECT sql FROM sqlite_master WHERE name = 'NTDparams'");
  const std::string plain = "evdRowId INTEGER PRIMARY KEY";
  ASSERT_NE(std::string::npos, sql.find(plain)) << sql;
  const std::string older = sql.substr(0, sql.find(plain)) + plain + " AUTOINCREMENT" + sql.substr(sql.find(plain) + plain.size());
  const std::string path = evd::test::tempPath("older") + ".db";
  std::string report, err;
  ASSERT_EQ(0, Db::initSchema("sqlite:" + path, &report, &err)) << err;
  {
    auto b = Db::detail::openBackend(path, &err);
    ASSERT_TRUE(b) << err;
    ASSERT_EQ(0, b->exec("DROP TABLE NTDparams")) << b->lastError();
    ASSERT_EQ(0, b->exec(older)) << b->lastError();
  }
  ASSERT_EQ(0, Db::initSchema("sqlite:" + path, &report, &err)) << err;
  Db::closeThreadConnection();
  Db::configure("sqlite:" + path);
  for (const char* value : {"first", "second"}) EXPECT_EQ(0, insertParam(6, 1, value));
  const std::vector<std::string> values = paramValues(6);
  const long long sequenced = countRows("sqlite_sequence WHERE name = 'NTDparams'");
  const std::string kept = queryText("SELECT sql FROM sqlite_master WHERE name = 'NTDparams'");
  Db::closeThreadConnection();
  Db::configure(uri());
  EXPECT_EQ((std::vector<std::string>{"first", "second"}), values);
  EXPECT_EQ(1, sequenced);
  EXPECT_EQ(older, kept);
}

}  // namespace
