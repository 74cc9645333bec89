// The look-ups on the per-event path are answered from an index, asked of each backend's planner.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Db/AllBindings.h"
#include "db/catalog.h"
#include "db/session.h"
#include "support/db_fixture.h"

namespace {

class IndexTest : public evd::test::DbTest {
 protected:
  // The plan of SQL with its placeholders replaced by the values given.
  std::string plan(std::string sql, const std::vector<Db::Param>& params) {
    size_t next = 0;
    std::string out;
    for (char c : sql) {
      if (c != '?' || next >= params.size()) { out += c; continue; }
      const Db::Param& p = params[next++];
      if (p.kind == Db::Param::Int) out += std::to_string(p.i);
      else {
        out += '\'';
        for (char x : p.s) { out += x; if (x == '\'') out += '\''; }
        out += '\'';
      }
    }
    int rc = 0;
    std::string err;
    auto* s = Db::detail::Session::current(&rc, &err);
    if (!s) return "no session: " + err;
    // Forbid PostgreSQL's sequential scan of the tiny tables: can an index serve the statement at all?
    if (isPostgres()) s->backend().exec("SET enable_seqscan = off");
    auto st = s->backend().prepare((isPostgres() ? "EXPLAIN " : "EXPLAIN QUERY PLAN ") + out, &rc);
    if (!st) return "cannot explain: " + s->backend().lastError() + " in " + out;
    std::string text;
    if (st->execute({}) != 0) return "explain failed: " + s->backend().lastError();
    while (st->fetch() == 0) text += std::string(st->getText(st->columnCount() - 1, nullptr)) + "\n";
    if (isPostgres()) s->backend().exec("SET enable_seqscan = on");
    return text + "[" + out + "]";
  }

  void expectIndexed(const std::string& what, const std::string& p) {
    if (isPostgres()) {
      EXPECT_NE(std::string::npos, p.find("Index")) << what << "\n" << p;
      EXPECT_EQ(std::string::npos, p.find("Seq Scan")) << what << "\n" << p;
    } else {
      EXPECT_NE(std::string::npos, p.find("SEARCH")) << what << "\n" << p;
      // A full scan shows as "SCAN <table>"; a scalar subquery's constant row is no table.
      std::string rest = p;
      for (size_t q; (q = rest.find("SCAN CONSTANT ROW")) != std::string::npos;) rest.erase(q, 17);
      EXPECT_EQ(std::string::npos, rest.find("SCAN ")) << what << "\n" << p;
    }
  }

  template <class B>
  void check(const std::string& what, const std::function<void(B&)>& setup) {
    B t(nullptr);
    setup(t);
    expectIndexed(what, plan(t.selectSql(), t.whereParams()));
  }
};

TEST_P(IndexTest, PerEventLookUpsUseIndexes) {
  check<NTDetectedAlerts>("occurrences of a rule", [](auto& t) { t.setWhere("ntNotificationId = %d", 12); });
  check<JMFailureReasonMsgParam>("arguments of a failure reason", [](auto& t) { t.setWhere("msgId = %d", 72); });
#define EVD_BY_EVENT(N)                                                                          \
  if (N::def().columnIndex("eventId") >= 0)                                                      \
    check<N>(#N " by event", [](auto& t) { t.setWhere("eventId = %d", 12); });
  DB_ALL_TABLES(EVD_BY_EVENT)
#undef EVD_BY_EVENT
}

TEST_P(IndexTest, PendingOccurrenceMatchUsesIndex) {
  const auto* body = Db::detail::procedureBody("NTGetExistingEventIdEx");
  ASSERT_TRUE(body);
  std::string sql = body->back();
  const char* values[] = {"1", "3", "5", "2001", "'Client|107'"};  // category, type, criteria, condition, entity
  for (int i = 5; i >= 1; --i) {
    const std::string key = "$" + std::to_string(i);
    for (size_t p; (p = sql.find(key)) != std::string::npos;) sql.replace(p, key.size(), values[i - 1]);
  }
  const std::string p = plan(sql, {});
  expectIndexed("NTGetExistingEventIdEx", p);
  // Only the pending rows of the key are read, however many others it has.
  EXPECT_NE(std::string::npos, p.find(isPostgres() ? "ntdetectedalerts_pending" : "NTDetectedAlerts_pending")) << p;
}

EVD_INSTANTIATE_BACKENDS(IndexTest);

}  // namespace
