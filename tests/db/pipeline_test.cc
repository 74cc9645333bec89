// Pipelined statements against the same statements run one by one: PostgreSQL
// pipelines, SQLite declines (beginPipeline() is false) and must store the
// same rows. Covers reads inside the pipeline, statements prepared and dropped
// while it is on, a failure with the caller's rollback, and a lost connection.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "Db/AllBindings.h"
#include "Db/Database.h"
#include "db/backend.h"
#include "db/session.h"
#include "support/db_fixture.h"

namespace {

using evd::test::DbTest;

class PipelineTest : public DbTest {
 protected:
  // What the failures below need: the key the duplicate collides with, and
  // the trigger that refuses a value.
  void prepareFailures();
  // An empty parameter table and pipelining on, where the backend has it.
  bool freshCase() {
    exec("DELETE FROM NTDparams");
    return Db::beginPipeline();
  }
};

int add(int eventId, const std::string& value, DBtran* tran, int type = 0) {
  NTDparams t(tran);
  t.getDataPtr()->eventId = eventId;
  t.getDataPtr()->type = type;
  dbCopyText(t.getDataPtr()->value, value.c_str());
  return t.rowInsert(true);
}

// "value:type;" of an event's rows in the order they were written.
std::string stored(int eventId, DBtran* tran = nullptr) {
  std::string out;
  NTDparams t(tran);
  t.setWhere("eventId = %d", eventId);
  int counter = 0;
  while (DBrowRead(t.getNextRow(&counter)))
    out += std::string(t.getDataPtr()->value) + ":" + std::to_string(t.getDataPtr()->type) + ";";
  return out;
}

long rowsIn(const std::string& text) { return std::count(text.begin(), text.end(), ';'); }

// Ways for a statement of TRAN to fail on both backends, and whether the
// pipeline only learns of it at the next awaited answer.
struct Failure {
  const char* name;
  const char* sqlstate;
  bool deferred;
  int (*run)(DBtran* tran);
};

const Failure kFailures[] = {
    {"duplicate alert type key", "23505", true,
     [](DBtran* tran) {
       NTAlertType t(tran);
       t.getDataPtr()->id = 5;  // stored before the transaction began
       return t.rowInsert(true);
     }},
    {"insert refused by a trigger", "P0001", true,
     [](DBtran* tran) { return add(1, "refused by trigger", tran); }},
    {"query naming no column", "42703", false,
     [](DBtran* tran) {
       NTDparams t(tran);
       t.setWhere("noSuchColumn = %d", 1);
       return t.getOneRow();
     }},
};

void PipelineTest::prepareFailures() {
  NTAlertType t(nullptr);
  t.getDataPtr()->id = 5;
  ASSERT_EQ(0, t.rowInsert(true));
  refuseInserts("NTDparams", "value", "refused by trigger");
}

// That the rows equal those of unpipelined runs is CommitModesTest's to show; here, what only a pipeline
// can get wrong, each statement first prepared while pipelined.
TEST_P(PipelineTest, ReadsCursorsSerialsAndSavepointsWorkWhilePipelined) {
  const int ev = 10;
  EXPECT_EQ(isPostgres(), Db::beginPipeline());
  DBtran tran;
  ASSERT_EQ(0, tran.startTran());
  for (int i = 0; i < 30; ++i) ASSERT_EQ(0, add(ev, "v" + std::to_string(i) + (i % 7 ? "" : "'q"), &tran, i % 3));
  // A read waits for the queued writes before it and sees them.
  EXPECT_EQ(30, countRows("NTDparams WHERE eventId = " + std::to_string(ev)));
  {
    // A second cursor on an open statement gets a copy of its own, dropped while pipelined.
    NTDparams open(&tran);
    open.setWhere("eventId = %d", ev);
    int counter = 0;
    ASSERT_EQ(0, open.getNextRow(&counter));
    EXPECT_EQ(30, rowsIn(stored(ev, &tran)));
  }
  NTDparams upd(&tran);
  upd.setWhere("eventId = %d AND type = %d", ev, 2);
  ASSERT_EQ(0, upd.rowUpdate("value = '%s'", "updated"));
  NTDetectedAlerts alert(&tran);
  alert.getDataPtr()->alertType = ev;
  ASSERT_EQ(0, alert.rowInsert(true));
  EXPECT_GT(alert.getDataPtr()->eventId, 0) << "the serial came back";
  {
    DBtran inner;
    ASSERT_EQ(0, inner.startTran());
    ASSERT_EQ(0, add(ev, "inner", &inner, 9));
    ASSERT_EQ(0, inner.commitTran());
  }
  const int rc = tran.commitTran();
  ASSERT_EQ(0, rc) << tran.getErrorStr(rc);
  std::string err;
  EXPECT_EQ(0, Db::syncPipeline(&err)) << err;
  EXPECT_FALSE(Db::pipelineFailed());
  Db::endPipeline();
  const std::string rows = stored(ev);
  EXPECT_EQ(31, rowsIn(rows)) << rows;
  EXPECT_EQ(10, countRows("NTDparams WHERE value = 'updated' AND type = 2"));
  EXPECT_NE(std::string::npos, rows.find("v7'q:1;")) << rows;
  EXPECT_NE(std::string::npos, rows.find("inner:9;")) << rows;
  EXPECT_EQ(1, countRows("NTDetectedAlerts WHERE alertType = " + std::to_string(ev)));
}

TEST_P(PipelineTest, RollingBackToASavepointBegunBeforeAFailureKeepsWhatCameBefore) {
  prepareFailures();
  for (const Failure& f : kFailures) {
    SCOPED_TRACE(f.name);
    const bool on = freshCase();
    DBtran outer;
    ASSERT_EQ(0, outer.startTran());
    ASSERT_EQ(0, add(1, "before", &outer));
    DBtran inner;
    ASSERT_EQ(0, inner.startTran());
    ASSERT_EQ(0, add(1, "in", &inner));
    EXPECT_EQ(on && f.deferred, f.run(&inner) == 0);
    // Queued on a pipeline whose failure is not known yet, refused once it is.
    EXPECT_EQ(on && !f.deferred, add(1, "after", &inner) != 0);
    std::string err;
    EXPECT_EQ(on, Db::syncPipeline(&err) != 0);
    EXPECT_EQ(on, Db::pipelineFailed());
    if (on) {
      EXPECT_NE(std::string::npos, err.find(f.sqlstate)) << err;
    }
    const int refused = add(1, "refused", &inner);
    EXPECT_EQ(on, refused != 0);
    if (on) {
      ASSERT_EQ(0, inner.rollbackTran());
    } else {
      ASSERT_EQ(0, inner.commitTran());
    }
    ASSERT_EQ(0, add(1, "mended", &outer)) << "statements run again after the rollback";
    EXPECT_EQ(on, Db::pipelineFailed()) << "the failure is remembered until pipelining ends";
    Db::endPipeline();
    EXPECT_FALSE(Db::pipelineFailed());
    ASSERT_EQ(0, add(1, "later", &outer));
    ASSERT_EQ(0, outer.commitTran());
    EXPECT_EQ(on ? "before:0;mended:0;later:0;" : "before:0;in:0;after:0;refused:0;mended:0;later:0;", stored(1));
  }
}

TEST_P(PipelineTest, ACommitAfterAFailureIsAnErrorAndStoresNothing) {
  prepareFailures();
  for (const Failure& f : kFailures) {
    SCOPED_TRACE(f.name);
    const bool on = freshCase();
    DBtran tran;
    ASSERT_EQ(0, tran.startTran());
    ASSERT_EQ(0, add(1, "a", &tran));
    f.run(&tran);
    add(1, "b", &tran);
    const int rc = tran.commitTran();
    EXPECT_EQ(on, rc != 0);
    if (on) {
      EXPECT_NE(std::string::npos, std::string(tran.getErrorStr(rc)).find(f.sqlstate)) << tran.getErrorStr(rc);
    }
    Db::endPipeline();
    EXPECT_EQ(on ? "" : "a:0;b:0;", stored(1));
    ASSERT_EQ(0, add(1, "c", nullptr)) << "the connection works unpipelined";
  }
}

TEST_P(PipelineTest, OnlyAnInsertOfRowsWithoutAnswerIsQueued) {
  if (!isPostgres()) GTEST_SKIP() << "only a pipelining backend queues";
  prepareFailures();
  // Every statement collides with the stored key: a queued one reports success
  // until the next sync, one that is waited for reports the collision at once.
  const struct {
    const char* sql;
    bool queued;
  } cases[] = {
      {"INSERT INTO NTAlertType (id, categoryID) VALUES ($1, 0)", true},
      {"insert into NTAlertType values ($1, (0))", true},
      {"INSERT INTO NTAlertType (id, categoryID) VALUES ($1, 0) RETURNING id", false},
      {"INSERT INTO NTAlertType (id, categoryID) VALUES ($1 + 1, 0), ($1, 0)", true},
      {"INSERT INTO NTAlertType (id, categoryID) VALUES ($1, 0) ON CONFLICT (id) DO UPDATE SET categoryID = 1 / 0", false},
      {"INSERT INTO NTAlertType (id, categoryID) SELECT $1, 0", false},
      {"WITH k AS (SELECT $1::int AS id) INSERT INTO NTAlertType (id, categoryID) SELECT id, 0 FROM k", false},
  };
  int rc = 0;
  std::string err;
  Db::detail::Session* s = Db::detail::Session::current(&rc, &err);
  ASSERT_TRUE(s) << err;
  Db::detail::SessionBackend& b = s->backend();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    ASSERT_TRUE(b.setPipelined(true));
    ASSERT_EQ(0, b.exec("BEGIN"));
    auto st = b.prepare(c.sql, &rc);
    ASSERT_TRUE(st) << b.lastError();
    EXPECT_EQ(c.queued, st->execute({Db::Param::integer(5)}) == 0) << b.lastError();
    EXPECT_NE(0, b.syncPipeline());
    ASSERT_EQ(0, b.exec("ROLLBACK"));
    st.reset();
    b.setPipelined(false);
  }
}

TEST_P(PipelineTest, ALostConnectionFailsThePipelineWithoutHanging) {
  if (!isPostgres()) GTEST_SKIP() << "an embedded database has no connection to lose";
  std::string err;
  auto admin = Db::detail::openBackend(uri(), &err);
  ASSERT_TRUE(admin) << err;
  const long long pid = queryInt("SELECT pg_backend_pid()");
  ASSERT_TRUE(Db::beginPipeline());
  {
    DBtran tran;
    ASSERT_EQ(0, tran.startTran());
    ASSERT_EQ(0, add(1, "queued", &tran));
    ASSERT_EQ(0, admin->exec("SELECT pg_terminate_backend(" + std::to_string(pid) + ")")) << admin->lastError();
    EXPECT_NE(0, Db::syncPipeline(&err));
    int rc = 0;
    Db::detail::Session* s = Db::detail::Session::current(&rc, &err);
    ASSERT_TRUE(s) << err;
    EXPECT_TRUE(s->backend().connectionLost());
    EXPECT_NE(0, add(1, "refused", &tran));
    EXPECT_EQ(0, tran.rollbackTran());
  }
  Db::endPipeline();
  ASSERT_EQ(0, add(1, "new connection", nullptr));
  EXPECT_EQ("new connection:0;", stored(1));
}

EVD_INSTANTIATE_BACKENDS(PipelineTest);

}  // namespace
