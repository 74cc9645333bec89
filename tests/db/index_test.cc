// Every look-up on the per-event path is answered from an index, asked of
// each backend's own query planner.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Db/AllBindings.h"
#include "db/session.h"
#include "schema/schema.h"
#include "support/db_fixture.h"

namespace {

using evd::db::Param;

class IndexTest : public evd::test::DbTest {
 protected:
  // The plan of SQL with its placeholders replaced by the values given.
  std::string plan(std::string sql, const std::vector<Param>& params) {
    size_t next = 0;
    std::string out;
    for (char c : sql) {
      if (c != '?' || next >= params.size()) { out += c; continue; }
      const Param& p = params[next++];
      if (p.kind == Param::Int) out += std::to_string(p.i);
      else {
        out += '\'';
        for (char x : p.s) { out += x; if (x == '\'') out += '\''; }
        out += '\'';
      }
    }
    int rc = 0;
    std::string err;
    auto* s = evd::db::Session::current(&rc, &err);
    if (!s) return "no session: " + err;
    // PostgreSQL prefers a sequential scan of the tiny test tables; forbid it
    // so the plan shows whether an index can serve the statement at all.
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
      // A full scan shows as "SCAN <table>"; the constant row of a scalar
      // subquery is no table.
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
  check<NTnotificationRule>("rule by alert type",
                            [](auto& t) { t.setWhere("alertTypeId = %d and (status & %d) = 0", 3, 3); });
  check<NTAlertType>("category", [](auto& t) { t.setWhere("id = %d", 3); });
  check<NTDetectedAlerts>("occurrences of a rule", [](auto& t) { t.setWhere("ntNotificationId = %d", 12); });
  check<NTDetectedAlerts>("custom-query pending search", [](auto& t) {
    t.setWhere("category = %d AND alertType = %d AND criteria = %d AND ( ( processStat & (%d) )<> 0 OR "
               "processStat = 0) AND NTNotificationId = %d and entityId = N'%s'",
               1, 65, 2, 67, 4, "Client|107");
  });
  check<NTDparams>("parameter", [](auto& t) { t.setWhere("eventid = %d and type=%d", 12, 26); });
  check<NTDauxCopyDataVer>("copy", [](auto& t) { t.setWhere("storagePolicyId = %d and copyId = %d", 3, 4); });
  check<NTnotificationProp>("rule property", [](auto& t) {
    t.setWhere("componentNameId = %d and attrName=N'%s'", 9, "Last Value Filter condition Matched time");
  });
  check<NTnotificationProp>("rule properties", [](auto& t) { t.setWhere("componentNameId=%d and modified=0", 9); });
  check<APP_ClientProp>("client property", [](auto& t) {
    t.setWhere("componentNameId=%u AND attrName='IndexingV2_VSA' AND modified=0", 5u);
  });
  check<KRCounter>("event counter", [](auto& t) { t.setWhere("name='Event_Counter'"); });
  // Every table keyed by occurrence is read by it (detail rows, parameters).
#define EVD_BY_EVENT(N)                                                                          \
  if (N::def().columnIndex("eventId") >= 0)                                                      \
    check<N>(#N " by event", [](auto& t) { t.setWhere("eventId = %d", 12); });
  DB_ALL_TABLES(EVD_BY_EVENT)
#undef EVD_BY_EVENT
}

TEST_P(IndexTest, PendingOccurrenceMatchUsesIndex) {
  const auto* body = evd::schema::procedureBody("NTGetExistingEventIdEx");
  ASSERT_TRUE(body);
  std::string sql = body->back();
  // Inputs in order: category, alert type, criteria, old condition, entity id.
  const char* values[] = {"1", "3", "5", "2001", "'Client|107'"};
  for (int i = 5; i >= 1; --i) {
    std::string key = std::to_string(i);
    key.insert(0, 1, '$');
    for (size_t p; (p = sql.find(key)) != std::string::npos;) sql.replace(p, key.size(), values[i - 1]);
  }
  expectIndexed("NTGetExistingEventIdEx", plan(sql, {}));
}

EVD_INSTANTIATE_BACKENDS(IndexTest);

}  // namespace
