// The database layer's contract, run on both backends: quoting, cuts,
// date-times, error codes, transactions and cursors.
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
  static const std::vector<std::string> v = {
      "O'Brien's client", "C:\\backup\\dir\\", "100% done, 50%% left %s %d", "a; DROP TABLE NTDparams; --",
      "x' OR '1'='1",     "N'wide'",                "Zürich – 東京 – 🚀",          "''",
      "\\'",
  };
  return v;
}

TEST_P(DbLayerTest, HostileTextsRoundTripThroughWhereSetAndValues) {
  int id = 1;
  for (const std::string& text : hostileTexts()) {
    ++id;
    ASSERT_EQ(0, insertParam(id, 7, text)) << text;
    // Found again through a quoted where clause, wide and plain forms.
    NTDparams byValue(nullptr);
    byValue.setWhere("eventId = %d and value = N'%s'", id, text.c_str());
    ASSERT_EQ(0, byValue.getOneRow()) << text;
    EXPECT_EQ(text, byValue.getDataPtr()->value);
    NTDparams plain(nullptr);
    plain.setWhere("value = '%s' and type = %d", text.c_str(), 7);
    EXPECT_EQ(0, plain.getOneRow()) << text;

    // Rewritten through a SET list; the pasted-SQL reading would hit every row.
    NTDparams upd(nullptr);
    upd.setWhere("eventId = %d", id);
    ASSERT_EQ(0, upd.rowUpdate("value = N'%s' , created = %d", (text + "!").c_str(), 5));
    EXPECT_EQ(std::vector<std::string>{text + "!"}, paramValues(id));
  }
  // A caller that passes a ready literal to a bare %s cannot widen the where
  // clause either.
  NTDparams bare(nullptr);
  bare.setWhere("eventId = %d and value = %s", 2, "'zzz' OR 1=1");
  EXPECT_EQ(DB_NO_DATA, bare.getOneRow());
  // Nothing leaked into other rows and the table is still there.
  EXPECT_EQ(static_cast<long long>(hostileTexts().size()), queryInt("SELECT COUNT(*) FROM NTDparams"));
  EXPECT_EQ(0, queryInt("SELECT COUNT(*) FROM NTDparams WHERE created <> 5"));
}

TEST_P(DbLayerTest, DialectFragmentsRunOnBothBackends) {
  for (int stat : {0, 1, 2, 4, 0x40, 128}) {
    NTDetectedAlerts t(nullptr);
    t.getDataPtr()->processStat = stat;
    t.getDataPtr()->alertType = 3;
    ASSERT_EQ(0, t.rowInsert(true));
  }
  NTDetectedAlerts t(nullptr);
  t.setWhere("alertType = %d and ( processStat & (1|2|0x42) )<> 0 and N'x' = 'x'", 3);
  t.setOrderBy("eventId");
  std::vector<int> stats;
  int counter = 0;
  while (t.getNextRow(&counter) == 0) stats.push_back(t.getDataPtr()->processStat);
  EXPECT_EQ((std::vector<int>{1, 2, 0x40}), stats);
  EXPECT_EQ(3, counter);
}

TEST_P(DbLayerTest, FixedTextIsCutToColumnWidthWithoutSplittingCharacters) {
  // KRCounter.name holds at most 18 bytes.
  KRCounter k(nullptr);
  EXPECT_FALSE(dbCopyText(k.getDataPtr()->name, "123456789012345678"));
  // 17 bytes then a two-byte character: the character goes whole.
  EXPECT_TRUE(dbCopyText(k.getDataPtr()->name, "12345678901234567\xC3\xA9"));
  EXPECT_STREQ("12345678901234567", k.getDataPtr()->name);

  // A longer value written by another component is cut when read, and the
  // read says so with 1004; the rest of the row is intact.
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
  when.year = 2031; when.month = 12; when.day = 31; when.hour = 23; when.minute = 59; when.fraction = 999;
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
  EXPECT_TRUE(q.getDataPtr()->occurTime == when);
}

TEST_P(DbLayerTest, ErrorsCarryTheBackendsCodeAndText) {
  exec("DROP TABLE NTDvaultTracker");
  NTDvaultTracker t(nullptr);
  int rc = t.getOneRow();
  EXPECT_TRUE(rc != 0 && rc != DB_NO_DATA && rc != DB_SUCCESS_TRUNCATED) << rc;
  std::string text = t.getErrorStr(rc);
  EXPECT_NE(std::string::npos, text.find(isPostgres() ? "does not exist (SQLSTATE 42P01)" : "no such table")) << text;
  EXPECT_STREQ("NTDvaultTracker", t.getTableName());
  int counter = 0;
  EXPECT_EQ(rc, t.getNextRow(&counter));
  EXPECT_NE(0, t.rowInsert(true));
  EXPECT_NE(0, t.rowDelete());
}

TEST_P(DbLayerTest, UpdateAndDeleteReportWhenNothingMatched) {
  NTDetectedAlerts t(nullptr);
  t.setWhere("ntNotificationId = %d", 42);
  EXPECT_EQ(DB_NO_DATA, t.rowDelete());
  EXPECT_EQ(DB_NO_DATA, t.rowUpdate("processStat = %d", 1));
  // Writing back a row that was never read is refused.
  EXPECT_EQ(DB_ERR_USAGE, t.rowUpdate(nullptr));
}

TEST_P(DbLayerTest, WholeRowWriteBackTouchesOnlyTheRowRead) {
  // Keyless table: two identical rows, one read and written back.
  ASSERT_EQ(0, insertParam(9, 2, "same"));
  ASSERT_EQ(0, insertParam(9, 2, "same"));
  NTDparams t(nullptr);
  t.setWhere("eventId = %d", 9);
  ASSERT_EQ(0, t.getOneRow());
  dbCopyText(t.getDataPtr()->value, "changed");
  ASSERT_EQ(0, t.rowUpdate(nullptr));
  EXPECT_EQ((std::vector<std::string>{"changed", "same"}), paramValues(9));

  // Keyed table: the key is taken from the row read, not the buffer.
  NTDetectedAlerts a(nullptr), b(nullptr);
  ASSERT_EQ(0, a.rowInsert(true));
  ASSERT_EQ(0, b.rowInsert(true));
  NTDetectedAlerts r(nullptr);
  r.setWhere("eventId = %d", a.getDataPtr()->eventId);
  ASSERT_EQ(0, r.getOneRow());
  r.getDataPtr()->processStat = 4;
  Db::assignText(r.getDataPtr()->entityId, "Media|5");
  ASSERT_EQ(0, r.rowUpdate(nullptr));
  EXPECT_EQ(1, queryInt("SELECT COUNT(*) FROM NTDetectedAlerts WHERE processStat = 4"));
  EXPECT_EQ("Media|5", queryText("SELECT entityId FROM NTDetectedAlerts WHERE eventId = " +
                                 std::to_string(a.getDataPtr()->eventId)));
}

TEST_P(DbLayerTest, CursorsWalkManyRowsInOrderAndNest) {
  const int kRows = 400;
  DBtran tran;
  ASSERT_EQ(0, tran.startTran());
  for (int i = 0; i < kRows; ++i) ASSERT_EQ(0, insertParam(i % 2 ? 3 : 4, i, std::to_string(i)));
  ASSERT_EQ(0, tran.commitTran());

  // Two cursors over the same statement, read in turn.
  NTDparams odd(nullptr), even(nullptr);
  odd.setWhere("eventId = %d", 3);
  even.setWhere("eventId = %d", 3);
  int c1 = 0, c2 = 0, last = -1;
  while (odd.getNextRow(&c1) == 0) {
    EXPECT_GT(odd.getDataPtr()->type, last);
    last = odd.getDataPtr()->type;
    if (c1 % 100 == 0) {
      ASSERT_EQ(0, even.getNextRow(&c2));
      EXPECT_EQ(c2 * 2 - 1, even.getDataPtr()->type);
    }
  }
  EXPECT_EQ(kRows / 2, c1);
  // A cursor restarts when its counter is set back to 0.
  c1 = 0;
  ASSERT_EQ(0, odd.getNextRow(&c1));
  EXPECT_EQ(1, odd.getDataPtr()->type);
  EXPECT_EQ(0, odd.closeCursor());
}

EVD_INSTANTIATE_BACKENDS(DbLayerTest);

// Opening problems come back as one line through the first call.
TEST(DbOpenTest, UnopenableAndSchemalessDatabasesAreNamed) {
  Db::configure("sqlite:/nonexistent-dir/evd.db");
  NTDparams t(nullptr);
  int rc = t.getOneRow();
  EXPECT_EQ(DB_ERR_CONNECT, rc);
  std::string msg = t.getErrorStr(rc);
  EXPECT_NE(std::string::npos, msg.find("/nonexistent-dir/evd.db")) << msg;

  // A SQLite file that holds other tables is not taken over silently.
  std::string path = evd::test::tempPath("foreign") + ".db";
  {
    std::string err;
    auto b = evd::db::openBackend(path, &err);
    ASSERT_TRUE(b) << err;
    ASSERT_EQ(0, b->exec("CREATE TABLE NTDetectedAlerts (x INTEGER)"));
  }
  Db::configure("sqlite:" + path);
  std::string err;
  EXPECT_EQ(DB_ERR_NO_SCHEMA, Db::openThreadConnection(&err));
  EXPECT_NE(std::string::npos, err.find("evdetect init")) << err;
  Db::closeThreadConnection();

  // A missing file is not created: only initSchema makes a database.
  const std::string fresh = evd::test::tempPath("fresh") + ".db";
  Db::configure("sqlite:" + fresh);
  EXPECT_EQ(DB_ERR_CONNECT, Db::openThreadConnection(&err));
  EXPECT_NE(std::string::npos, err.find("evdetect init")) << err;
  EXPECT_FALSE(std::filesystem::exists(fresh));
  Db::closeThreadConnection();
}

}  // namespace
