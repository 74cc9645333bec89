// Saved-query results (alert type 65) on both backends, end to end.
#include "host/EvAlertDebug.h"
#include "queries/query_harness.h"

namespace {

using namespace evd::test;

long long g_now = 0;
long long fixedNow() { return g_now; }

class CustomQueryTest : public QueryTest {
 protected:
  void SetUp() override {
    QueryTest::SetUp();
    if (!IsSkipped() && !HasFatalFailure()) seedRule(12, 65);
  }
  long long queryId(int eventId) {
    return queryInt("SELECT QueryId FROM NTDQueryResults WHERE EventId = " + std::to_string(eventId));
  }
};

TEST_P(CustomQueryTest, WideResultKeepsSixColumnsInTheRowAndTheRestAsParameters) {
  Result r{.rule = 12, .query = 31, .client = "ma-east-02"};
  for (int i = 0; i < 120; ++i) r.columns.emplace_back("c" + std::to_string(i), "v" + std::to_string(i));
  ASSERT_TRUE(runResults({r}, true));
  const int id = lastEventId();
  EXPECT_EQ(31, queryId(id));
  for (int i = 0; i < 6; ++i) EXPECT_EQ("v" + std::to_string(i), column(id, i));
  for (int i = 6; i <= 100; ++i) EXPECT_EQ("v" + std::to_string(i), param(id, ParamQueryColumnValue + i - 6));
  const Params p = params(id);
  EXPECT_EQ(0u, p.count(ParamQueryColumnValueLast + 1));
  EXPECT_EQ(120u, p.count(ParamQueryColumnNames)) << "every name, uncapped";
  EXPECT_EQ("101", param(id, ParamQueryColumnCount));
}

TEST_P(CustomQueryTest, EachRuleGetsItsOwnQueryReadOncePerRun) {
  seedRule(13, 65);
  exec("INSERT INTO NTNotificationQueryMapping (QueryId, NtNotificationId) VALUES (31, 12), (32, 13)");
  ASSERT_TRUE(runResults({{.rule = 12, .columns = {{"C", "a"}}},
                          {.rule = 12, .columns = {{"C", "b"}}},
                          {.rule = 13, .columns = {{"C", "c"}}},
                          {.rule = 14, .columns = {{"C", "d"}}},
                          {.rule = 14, .columns = {{"C", "e"}}}}));
  for (auto [rule, query, rows] : {std::tuple{12, 31, 2u}, {13, 32, 1u}, {14, 0, 0u}}) {
    ASSERT_EQ(rows, ofRule(rule).size()) << rule;
    for (const auto& d : ofRule(rule)) EXPECT_EQ(query, queryId(d.eventId)) << rule;
  }
  EXPECT_EQ(1, log().count("reading from table for rule [14]")) << "a missing mapping is read once";
}

TEST_P(CustomQueryTest, ClearedContainerAfterARecordedOneEndsItsOccurrence) {
  ASSERT_TRUE(runResults({{.rule = 12, .query = 31, .columns = {{"C", "a"}}, .client = "a"}}));
  const int a = lastEventId();
  ASSERT_TRUE(runResults({{.rule = 12, .query = 31, .cleared = 1, .columns = {{"C", "a"}}, .client = "a"},
                          {.rule = 12, .query = 31, .columns = {{"C", "b"}}, .client = "b"},
                          {.rule = 12, .query = 31, .cleared = 1, .columns = {{"C", "y"}}, .client = "y"}}));
  const auto rows = ofRule(12);
  ASSERT_EQ(2u, rows.size()) << "a cleared container with nothing pending writes nothing";
  EXPECT_EQ(4, rows[0].processStat);
  EXPECT_EQ("b", column(rows[1].eventId, 0));
  EXPECT_EQ(a, rows[0].eventId);
}

// A trend rule with a last-value filter: every run starts by clearing the
// rule's occurrences, and the rule remembers when it last matched.
TEST_P(CustomQueryTest, TrendRuleWithLastValueFilterRemembersItsLastMatch) {
  seedRule(20, 65, kTrendRule | kLastValueFilter);
  exec("INSERT INTO NTNotificationQueryMapping (NtNotificationId, QueryId) VALUES (20, 40)");
  const auto lastMatch = [&] {
    return queryText("SELECT attrVal FROM NTnotificationProp WHERE componentNameId = 20 AND modified = 0 AND "
                     "attrName = 'Last Value Filter condition Matched time'");
  };
  const EvAlertDebug::Clock saved = EvAlertDebug::setClock(fixedNow);
  const struct {
    long long now;
    int cleared;
    int processStat;  // of the rule's one occurrence
    std::string lastMatch;
  } runs[] = {
      {1733400000, 0, 1, "1733400000"},  // first match: pending
      {1733400600, 0, 2, "1733400000"},  // matched before: pending after an earlier match
      {1733401200, 1, 4, "0"},           // cleared: recorded, then cleared at once
  };
  int previous = 0;
  for (const auto& r : runs) {
    SCOPED_TRACE(r.now);
    g_now = r.now;
    ASSERT_TRUE(runResults({{.rule = 20, .cleared = r.cleared, .trends = {{"Failures rose", "", {}}}}}));
    const auto rows = ofRule(20);
    ASSERT_EQ(1u, rows.size()) << "the earlier run's occurrence is gone";
    EXPECT_NE(previous, rows[0].eventId);
    EXPECT_EQ(r.processStat, rows[0].processStat);
    EXPECT_EQ("Failures rose", column(rows[0].eventId, 0));
    EXPECT_EQ(r.cleared ? std::to_string(r.now) : "<none>", param(rows[0].eventId, ParamDetectTime));
    EXPECT_EQ(r.lastMatch, lastMatch());
    previous = rows[0].eventId;
  }
  EvAlertDebug::setClock(saved);
}

// A repeated result refreshes its pending occurrence, and so does one whose
// occurrence is still being written (state 0): the handler refreshes that row rather than recording a second
// occurrence beside it. Once the row has left state 0 and the pending states
// it is history, and the result is a new occurrence.
TEST_P(CustomQueryTest, AResultStillInStateZeroIsRefreshedAndOneThatEndedIsNew) {
  const auto again = [&](const std::string& gb) {
    return runResults({{.rule = 12, .query = 31, .columns = {{"C", "fs01"}, {"GB", gb}}, .key = "k"}});
  };
  ASSERT_TRUE(again("5"));
  const int first = lastEventId();
  ASSERT_TRUE(again("4"));
  EXPECT_EQ(1u, ofRule(12).size());
  EXPECT_EQ("4", column(first, 1));
  setState(first, 0);
  ASSERT_TRUE(again("3"));
  EXPECT_EQ(first, lastEventId());
  EXPECT_EQ(1u, ofRule(12).size());
  EXPECT_EQ("3", column(first, 1));
  setState(first, 4);
  ASSERT_TRUE(again("2"));
  EXPECT_NE(first, lastEventId());
  EXPECT_EQ(2u, ofRule(12).size());
  EXPECT_EQ("3", column(first, 1));
  EXPECT_EQ("2", column(lastEventId(), 1));
}

EVD_INSTANTIATE_BACKENDS(CustomQueryTest);

}  // namespace
