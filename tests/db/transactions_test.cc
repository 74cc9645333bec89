// What a transaction holds and what survives a failure, on both backends: nesting, failed
// statements, stored format errors, serials past 32 bits, and connections the server drops.
#include <gtest/gtest.h>

#include <string>

#include "Db/AllBindings.h"
#include "Db/Database.h"
#include "db/backend.h"
#include "db/session.h"
#include "support/db_fixture.h"

namespace {

using evd::test::DbTest;

class TransactionTest : public DbTest {
 protected:
  int add(const char* value, DBtran* tran = nullptr) {
    NTDparams t(tran);
    t.getDataPtr()->eventId = 1;
    dbCopyText(t.getDataPtr()->value, value);
    int rc = t.rowInsert(true);
    lastText_ = t.getErrorStr(rc);
    return rc;
  }
  std::string stored() {
    std::string out;
    NTDparams t(nullptr);
    t.setWhere("eventId = %d", 1);
    int counter = 0;
    while (DBrowRead(t.getNextRow(&counter))) out += std::string(t.getDataPtr()->value) + ";";
    return out;
  }
  std::string lastText_;
};

TEST_P(TransactionTest, NestedTransactionsAreSavepointsOfTheOuterOne) {
  struct Case {
    bool commitInner, commitOuter;
    const char* expected;
  } cases[] = {{false, true, "A;C;"}, {true, false, ""}, {true, true, "A;B;C;"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    exec("DELETE FROM NTDparams");
    {
      DBtran outer;
      ASSERT_EQ(0, outer.startTran());
      ASSERT_EQ(0, add("A", &outer));
      DBtran inner;
      ASSERT_EQ(0, inner.startTran());
      ASSERT_EQ(0, add("B", &inner));
      // The outer level cannot be used or ended while the inner one is open.
      EXPECT_EQ(DB_ERR_TRANSACTION, add("X", &outer));
      EXPECT_EQ(DB_ERR_TRANSACTION, outer.commitTran());
      ASSERT_EQ(0, c.commitInner ? inner.commitTran() : inner.rollbackTran());
      ASSERT_EQ(0, add("C"));  // no transaction: joins the open one
      EXPECT_EQ(0, c.commitOuter ? outer.commitTran() : 0);
    }
    EXPECT_EQ(c.expected, stored());
  }
}

TEST_P(TransactionTest, RollingBackTheOuterLevelEndsTheInnerOnesAndStandaloneRowsJoined) {
  {
    DBtran outer, inner;
    ASSERT_EQ(0, outer.startTran());
    ASSERT_EQ(0, inner.startTran());
    ASSERT_EQ(0, add("in savepoint", &inner));
    ASSERT_EQ(0, add("standalone"));
    ASSERT_EQ(0, outer.rollbackTran());
    EXPECT_EQ(DB_ERR_TRANSACTION, inner.commitTran());
  }
  EXPECT_EQ("", stored());
  DBtran idle;
  EXPECT_EQ(DB_ERR_TRANSACTION, idle.commitTran()) << "nothing open to end";
}

TEST_P(TransactionTest, AFailedStatementLeavesTheRestOfTheTransaction) {
  DBtran tran;
  ASSERT_EQ(0, tran.startTran());
  ASSERT_EQ(0, add("before", &tran));
  NTDparams bad(&tran);
  bad.setWhere("noSuchColumn = %d", 1);
  const int rc = bad.getOneRow();
  EXPECT_TRUE(rc != 0 && rc != DB_NO_DATA) << rc;
  ASSERT_EQ(0, add("after", &tran)) << lastText_;
  ASSERT_EQ(0, tran.commitTran());
  EXPECT_EQ("before;after;", stored());
}

TEST_P(TransactionTest, ACommitTheServerTurnedIntoRollbackIsAnError) {
  DBtran tran;
  ASSERT_EQ(0, tran.startTran());
  ASSERT_EQ(0, add("row", &tran));
  // A failure outside the layer's own statements: PostgreSQL aborts the
  // transaction, SQLite keeps it.
  int rc = 0;
  std::string err;
  auto* s = Db::detail::Session::current(&rc, &err);
  ASSERT_TRUE(s) << err;
  EXPECT_NE(0, s->backend().exec("SELECT * FROM NoSuchTable"));
  rc = tran.commitTran();
  const std::string rows = stored();
  EXPECT_EQ(rc == 0, rows == "row;") << "commit result " << rc << ", rows " << rows;
  if (isPostgres()) {
    EXPECT_NE(0, rc);
    EXPECT_NE(std::string::npos, std::string(tran.getErrorStr(rc)).find("SQLSTATE 25P02")) << tran.getErrorStr(rc);
  }
}

TEST_P(TransactionTest, AStoredFormatErrorIsReturnedByEveryStatementThatWouldUseIt) {
  ASSERT_EQ(0, add("row"));
  NTDparams t(nullptr);
  t.setWhere("eventId = %d and value = '%s", 1, "unterminated");
  t.getDataPtr()->eventId = 2;
  ASSERT_EQ(0, t.rowInsert(true));  // a success in between
  EXPECT_EQ(DB_ERR_FORMAT, t.rowDelete());
  EXPECT_EQ(DB_ERR_FORMAT, t.getOneRow());
  EXPECT_EQ("row;", stored());
  EXPECT_EQ(1, countRows("NTDparams WHERE eventId = 2"));

  // A procedure whose values list failed does not run with older inputs.
  NTGetEventParam p(nullptr);
  p.setValues(1, 0);
  ASSERT_EQ(0, p.getOneRow());
  EXPECT_EQ(DB_ERR_FORMAT, p.CallDBsprintfWrapper("%d,'%s", 1, "open"));
  EXPECT_EQ(DB_ERR_FORMAT, p.getOneRow());
}

TEST_P(TransactionTest, ASerialPastInt32IsRefusedNotWrapped) {
  // Start the serial below 2^31; PostgreSQL's int4 identity is widened as another schema could have it.
  NTDetectedAlerts first(nullptr);
  ASSERT_EQ(0, first.rowInsert(true));
  if (isPostgres()) {
    exec("ALTER TABLE NTDetectedAlerts ALTER COLUMN eventId TYPE BIGINT");
    exec("ALTER TABLE NTDetectedAlerts ALTER COLUMN eventId RESTART WITH 2147483647");
    Db::closeThreadConnection();  // statements prepared for the old column type
  } else {
    exec("UPDATE sqlite_sequence SET seq = 2147483646 WHERE name = 'NTDetectedAlerts'");
  }
  NTDetectedAlerts t(nullptr);
  EXPECT_EQ(0, t.rowInsert(true)) << t.getErrorStr(t.lastResult());
  EXPECT_EQ(2147483647, t.getDataPtr()->eventId);
  t.getDataPtr()->eventId = -7;
  EXPECT_EQ(DB_ERR_RANGE, t.rowInsert(true));
  EXPECT_EQ(-7, t.getDataPtr()->eventId) << "nothing written into the buffer";
  EXPECT_EQ(0, countRows("NTDetectedAlerts WHERE eventId > 2147483647")) << "the row was not kept";

  // A wide id written by someone else is refused on read as well.
  exec("INSERT INTO NTDetectedAlerts (eventId, alertType) VALUES (2147483650, 77)");
  NTDetectedAlerts r(nullptr);
  r.setWhere("alertType = %d", 77);
  r.getDataPtr()->eventId = -7;
  EXPECT_EQ(DB_ERR_RANGE, r.getOneRow());
  EXPECT_EQ(-7, r.getDataPtr()->eventId);
  // The next test gets the table back as it was made.
  if (isPostgres()) exec("DROP TABLE NTDetectedAlerts");
}

TEST_P(TransactionTest, ATerminatedConnectionIsOpenedAgain) {
  if (!isPostgres()) GTEST_SKIP() << "an embedded database has no connection to lose";
  std::string err;
  auto admin = Db::detail::openBackend(uri(), &err);
  ASSERT_TRUE(admin) << err;
  auto terminate = [&] {
    const long long pid = queryInt("SELECT pg_backend_pid()");
    ASSERT_EQ(0, admin->exec("SELECT pg_terminate_backend(" + std::to_string(pid) + ")")) << admin->lastError();
  };
  ASSERT_EQ(0, add("one"));

  // A read runs again on a new connection.
  terminate();
  EXPECT_EQ("one;", stored());

  // A statement that never reached the server (prepared on the dead connection) is sent once on a new one.
  terminate();
  ASSERT_EQ(0, add("two")) << lastText_;

  // A write the server may have seen is not sent twice; the next statement connects again.
  terminate();
  EXPECT_NE(0, add("lost"));
  ASSERT_EQ(0, add("three")) << lastText_;

  // Inside a transaction the loss fails it to the end; only then is the connection opened again.
  {
    DBtran tran;
    ASSERT_EQ(0, tran.startTran());
    ASSERT_EQ(0, add("in tran", &tran));
    terminate();
    EXPECT_NE(0, add("in tran too", &tran));
    EXPECT_NE(0, tran.commitTran());
  }
  ASSERT_EQ(0, add("four")) << lastText_;
  EXPECT_EQ("one;two;three;four;", stored());
}

EVD_INSTANTIATE_BACKENDS(TransactionTest);

}  // namespace
