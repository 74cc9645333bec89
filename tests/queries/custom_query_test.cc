// Saved-query results (alert type 65) on both backends, end to end.
#include "queries/query_harness.h"

namespace {

using namespace evd::test;

class CustomQueryTest : public QueryTest {
 protected:
  void SetUp() override {
    QueryTest::SetUp();
    if (!IsSkipped() && !HasFatalFailure()) seedRule(12, 65);
  }
  std::string lastMatch(int rule) {
    return queryText("SELECT attrVal FROM NTnotificationProp WHERE componentNameId = " + std::to_string(rule) +
                     " AND attrName = 'Last Value Filter condition Matched time'");
  }
};

TEST_P(CustomQueryTest, WideResultKeepsSixColumnsInTheRowAndTheRestAsParameters) {
  Result r{.rule = 12, .query = 31, .client = "ma-east-02"};
  for (int i = 0; i < 120; ++i) r.columns.emplace_back("c" + std::to_string(i), "v" + std::to_string(i));
  ASSERT_TRUE(runLine(resultEvent({r}, true)));
  ASSERT_EQ(1u, ofRule(12).size());
  const int id = lastEventId();
  EXPECT_EQ(1, detected(id).processStat);
  EXPECT_EQ(31, queryInt("SELECT QueryId FROM NTDQueryResults WHERE EventId = " + std::to_string(id)));
  for (int i = 0; i < 6; ++i) EXPECT_EQ("v" + std::to_string(i), column(id, i));
  for (int i = 6; i <= 100; ++i) EXPECT_EQ("v" + std::to_string(i), param(id, ParamQueryColumnValue + i - 6));
  const Params p = params(id);
  EXPECT_EQ(0u, p.count(ParamQueryColumnValueLast + 1));
  EXPECT_EQ(120u, p.count(ParamQueryColumnNames)) << "every name, uncapped";
  EXPECT_EQ("101", param(id, ParamQueryColumnCount));
  EXPECT_EQ("ma-east-02", param(id, ParamClientName));
}

TEST_P(CustomQueryTest, EachRuleGetsItsOwnQueryReadOncePerRun) {
  seedRule(13, 65);
  mapQuery(12, 31);
  mapQuery(13, 32);
  ASSERT_TRUE(runLine(resultEvent({{.rule = 12, .columns = {{"C", "a"}}},
                                   {.rule = 12, .columns = {{"C", "b"}}},
                                   {.rule = 13, .columns = {{"C", "c"}}},
                                   {.rule = 14, .columns = {{"C", "d"}}},
                                   {.rule = 14, .columns = {{"C", "e"}}}})));
  for (auto [rule, query, rows] : {std::tuple{12, 31, 2u}, {13, 32, 1u}, {14, 0, 0u}}) {
    ASSERT_EQ(rows, ofRule(rule).size()) << rule;
    for (const auto& d : ofRule(rule))
      EXPECT_EQ(query, queryInt("SELECT QueryId FROM NTDQueryResults WHERE EventId = " + std::to_string(d.eventId)));
  }
  EXPECT_EQ(1, log().count("reading from table for rule [14]")) << "a missing mapping is read once";
}

TEST_P(CustomQueryTest, RepeatedEntityRefreshesItsOccurrenceWhilePendingOrBeingWritten) {
  for (auto [stored, repeat] : {std::pair{1, true}, {0, true}, {2, true}, {0x40, true}, {4, false}, {128, false}}) {
    SCOPED_TRACE(stored);
    exec("DELETE FROM NTDetectedAlerts");
    ASSERT_TRUE(runLine(resultEvent({{.rule = 12, .query = 31, .columns = {{"C", "fs01"}, {"GB", "5"}}, .key = "k"}})));
    const int first = lastEventId();
    exec("UPDATE NTDetectedAlerts SET processStat = " + std::to_string(stored));
    ASSERT_TRUE(runLine(resultEvent({{.rule = 12, .query = 31, .columns = {{"C", "fs01"}, {"GB", "3"}}, .key = "k"}})));
    ASSERT_EQ(repeat ? 1u : 2u, ofRule(12).size());
    EXPECT_EQ(repeat, lastEventId() == first);
    EXPECT_EQ("3", column(lastEventId(), 1));
    EXPECT_EQ(repeat ? "3" : "5", column(first, 1));
    EXPECT_EQ(repeat ? stored : 1, detected(lastEventId()).processStat);
  }
}

TEST_P(CustomQueryTest, ResultStatusBecomesTheOccurrencesStatus) {
  const std::vector<std::pair<int, int>> cases = {{1, 1}, {2, 2}, {3, 4}, {4, 8}, {0, 0}, {5, 0}};
  std::vector<Result> results;
  for (auto [status, stored] : cases) results.push_back({.rule = 12, .query = 31, .status = status});
  for (size_t i = 0; i < cases.size(); ++i) results[i].columns = {{"C", std::to_string(i)}};
  ASSERT_TRUE(runLine(resultEvent(results)));
  const auto rows = ofRule(12);
  ASSERT_EQ(cases.size(), rows.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(cases[i].second,
              queryInt("SELECT status FROM NTDetectedAlerts WHERE eventId = " + std::to_string(rows[i].eventId)));
    EXPECT_EQ(cases[i].second, GetDAStatusForLMAlerts(cases[i].first));
  }
}

TEST_P(CustomQueryTest, ClearedContainerWithNothingPendingWritesNothingWhereverItStands) {
  // Before and after a container that made or matched an occurrence.
  ASSERT_TRUE(runLine(resultEvent({{.rule = 12, .query = 31, .columns = {{"C", "a"}}, .client = "a"}})));
  const int a = lastEventId();
  ASSERT_TRUE(runLine(resultEvent({{.rule = 12, .query = 31, .columns = {{"C", "a"}}, .cleared = 1, .client = "a"},
                                   {.rule = 12, .query = 31, .columns = {{"C", "x"}}, .cleared = 1, .client = "x"},
                                   {.rule = 12, .query = 31, .columns = {{"C", "b"}}, .client = "b"},
                                   {.rule = 12, .query = 31, .columns = {{"C", "y"}}, .cleared = 1, .client = "y"}})));
  const auto rows = ofRule(12);
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ(4, rows[0].processStat);
  EXPECT_EQ(1u, params(a).count(ParamDetectTime));
  EXPECT_EQ(1, rows[1].processStat);
  for (const auto& [id, text] : {std::pair{a, "a"}, {rows[1].eventId, "b"}}) {
    EXPECT_EQ(text, column(id, 0));
    EXPECT_EQ(text, param(id, ParamClientName));
  }
}

TEST_P(CustomQueryTest, TrendRuleWithLastValueFilterAcrossRuns) {
  seedRule(20, 65, kTrendRule);
  seedRule(21, 65, kTrendRule | kLastValueFilter);
  const Result never{.rule = 20, .query = 40, .columns = {{"C", "a"}}, .cleared = 1, .trends = {{.message = "t"}}};
  const Result r{.rule = 21, .query = 41, .columns = {{"C", "a"}}};
  ASSERT_TRUE(runLine(resultEvent({never, r})));
  EXPECT_TRUE(ofRule(20).empty()) << "a cleared result of a rule that never matched";
  ASSERT_EQ(1u, ofRule(21).size());
  EXPECT_EQ(1, ofRule(21)[0].processStat);
  const std::string matched = lastMatch(21);
  EXPECT_GT(std::atoll(matched.c_str()), 0);

  ASSERT_TRUE(runLine(resultEvent({r})));
  ASSERT_EQ(1u, ofRule(21).size()) << "each run replaces the rule's occurrences";
  EXPECT_EQ(2, ofRule(21)[0].processStat);
  EXPECT_EQ(matched, lastMatch(21));

  // A cleared trend of a rule that matched before is recorded as cleared.
  Result cleared = r;
  cleared.cleared = 1;
  cleared.trends = {{.message = "back to normal"}};
  ASSERT_TRUE(runLine(resultEvent({cleared})));
  ASSERT_EQ(1u, ofRule(21).size());
  EXPECT_EQ(4, ofRule(21)[0].processStat);
  EXPECT_EQ("back to normal", column(ofRule(21)[0].eventId, 1));
  EXPECT_EQ("0", lastMatch(21));
}

EVD_INSTANTIATE_BACKENDS(CustomQueryTest);

}  // namespace
