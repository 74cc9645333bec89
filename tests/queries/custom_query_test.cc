// Saved-query results (alert type 65) on both backends, end to end through
// StoreNotiData, checked by reading the rows back.
#include <string>
#include <vector>

#include "queries/query_harness.h"

namespace {

using evd::test::kLastValueFilter;
using evd::test::kTrendRule;
using evd::test::Result;

class CustomQueryTest : public evd::test::QueryTest {
 protected:
  void SetUp() override {
    QueryTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    seedRule(12, 65);
  }
  std::string lastMatchProperty(int rule) {
    return queryText("SELECT attrVal FROM NTnotificationProp WHERE componentNameId = " + std::to_string(rule) +
                     " AND attrName = 'Last Value Filter condition Matched time' AND modified = 0");
  }
};

TEST_P(CustomQueryTest, WideResultKeepsSixColumnsInTheRowAndTheRestAsParameters) {
  Result r{.rule = 12, .query = 31, .client = "ma-east-02"};
  for (int i = 0; i < 120; ++i) r.columns.emplace_back("col" + std::to_string(i), "v" + std::to_string(i));
  ASSERT_TRUE(runLine(evd::test::resultEvent(r)));

  const auto rows = ofRule(12);
  ASSERT_EQ(1u, rows.size());
  const int id = rows[0].eventId;
  EXPECT_EQ(1, rows[0].processStat);
  EXPECT_EQ(evd::test::entityIdOf(r), rows[0].entityId);
  EXPECT_EQ(31, queryInt("SELECT QueryId FROM NTDQueryResults WHERE EventId = " + std::to_string(id)));
  for (int i = 0; i < 6; ++i) EXPECT_EQ("v" + std::to_string(i), column(id, i));

  const Params p = params(id);
  for (int i = 6; i <= 100; ++i) EXPECT_EQ("v" + std::to_string(i), param(id, ParamQueryColumnValue + i - 6));
  EXPECT_EQ(0u, p.count(ParamQueryColumnValueLast + 1)) << "values past 101 columns are not kept";
  EXPECT_EQ("101", param(id, ParamQueryColumnCount));
  std::vector<std::string> names;
  for (auto [it, end] = p.equal_range(ParamQueryColumnNames); it != end; ++it) names.push_back(it->second);
  ASSERT_EQ(120u, names.size()) << "every column name, uncapped";
  EXPECT_EQ("col0", names.front());
  EXPECT_EQ("col119", names.back());
  EXPECT_EQ("ma-east-02", param(id, ParamClientName));
  EXPECT_EQ(1u, p.count(ParamQueryRunTime));
}

TEST_P(CustomQueryTest, QueryIdComesFromEachRulesOwnMappingReadOncePerRule) {
  seedRule(13, 65);
  mapQuery(12, 31);
  mapQuery(13, 32);
  ASSERT_TRUE(runLine(evd::test::resultListEvent({
      {.rule = 12, .columns = {{"Client", "a"}}},
      {.rule = 12, .columns = {{"Client", "b"}}},
      {.rule = 13, .columns = {{"Client", "c"}}},
      {.rule = 14, .columns = {{"Client", "d"}}},
      {.rule = 14, .columns = {{"Client", "e"}}},
  })));
  const auto of12 = ofRule(12), of13 = ofRule(13);
  ASSERT_EQ(2u, of12.size());
  ASSERT_EQ(1u, of13.size());
  for (const auto& d : of12)
    EXPECT_EQ(31, queryInt("SELECT QueryId FROM NTDQueryResults WHERE EventId = " + std::to_string(d.eventId)));
  EXPECT_EQ(32, queryInt("SELECT QueryId FROM NTDQueryResults WHERE EventId = " + std::to_string(of13[0].eventId)))
      << "a later rule's container is filed under its own query";
  EXPECT_TRUE(ofRule(14).empty()) << "a rule without a mapping records nothing";
  EXPECT_EQ(1, log().count("reading from table for rule [14]")) << "the missing mapping is read once";
}

TEST_P(CustomQueryTest, RepeatedEntityRefreshesItsOccurrenceWhilePending) {
  // Also state 0: a query result is pending while still being written.
  struct Case {
    int storedState;
    bool repeat;
  };
  for (const Case c : {Case{1, true}, Case{0, true}, Case{2, true}, Case{0x40, true}, Case{4, false},
                       Case{128, false}}) {
    SCOPED_TRACE(c.storedState);
    exec("DELETE FROM NTDetectedAlerts");
    ASSERT_TRUE(runLine(evd::test::resultEvent(
        {.rule = 12, .query = 31, .columns = {{"Client", "fs01"}, {"Free GB", "5"}}, .key = "fs01"})));
    const int first = lastEventId();
    exec("UPDATE NTDetectedAlerts SET processStat = " + std::to_string(c.storedState) +
         " WHERE eventId = " + std::to_string(first));
    ASSERT_TRUE(runLine(evd::test::resultEvent(
        {.rule = 12, .query = 31, .columns = {{"Client", "fs01"}, {"Free GB", "3"}}, .key = "fs01"})));
    const auto rows = ofRule(12);
    ASSERT_EQ(c.repeat ? 1u : 2u, rows.size());
    EXPECT_EQ(c.repeat ? first : rows[1].eventId, lastEventId());
    EXPECT_EQ("3", column(lastEventId(), 1)) << "the values of the latest result";
    if (!c.repeat) {
      EXPECT_EQ("5", column(first, 1)) << "an occurrence no longer pending keeps its values";
    }
    EXPECT_EQ(1, detailRows("NTDQueryResults", lastEventId()));
    EXPECT_EQ(c.repeat ? c.storedState : 1, detected(lastEventId()).processStat)
        << "a refresh leaves the state alone";
  }
}

TEST_P(CustomQueryTest, ResultStatusMapsToTheOccurrencesStatus) {
  struct Case {
    int resultStatus;
    int stored;
  };
  const std::vector<Case> cases = {{1, 1}, {2, 2}, {3, 4}, {4, 8}, {0, 0}, {5, 0}, {-1, 0}};
  std::vector<Result> results;
  for (const Case& c : cases)
    results.push_back({.rule = 12, .query = 31, .columns = {{"Status", std::to_string(c.resultStatus)}},
                       .status = c.resultStatus});
  ASSERT_TRUE(runLine(evd::test::resultListEvent(results)));
  const auto rows = ofRule(12);
  ASSERT_EQ(cases.size(), rows.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(std::to_string(cases[i].resultStatus), column(rows[i].eventId, 0));
    EXPECT_EQ(cases[i].stored, statusOf(rows[i].eventId)) << "result status " << cases[i].resultStatus;
    EXPECT_EQ(cases[i].stored, GetDAStatusForLMAlerts(cases[i].resultStatus));
  }
}

TEST_P(CustomQueryTest, ClearedResultClearsThePendingOccurrenceOnly) {
  ASSERT_TRUE(runLine(evd::test::resultEvent({.rule = 12, .query = 31, .columns = {{"Client", "fs01"}}})));
  const int first = lastEventId();
  ASSERT_TRUE(runLine(evd::test::resultListEvent({
      {.rule = 12, .query = 31, .columns = {{"Client", "fs01"}}, .cleared = 1},
      {.rule = 12, .query = 31, .columns = {{"Client", "never-seen"}}, .cleared = 1},
  })));
  const auto rows = ofRule(12);
  ASSERT_EQ(1u, rows.size()) << "a cleared result with nothing pending writes nothing";
  EXPECT_EQ(4, rows[0].processStat);
  EXPECT_EQ(1u, params(first).count(ParamDetectTime));
  EXPECT_EQ("fs01", column(first, 0)) << "the next container's columns are not written onto it";
}

TEST_P(CustomQueryTest, ClearedContainerAfterARecordedOneLeavesThatOccurrenceAlone) {
  ASSERT_TRUE(runLine(evd::test::resultListEvent({
      {.rule = 12, .query = 31, .columns = {{"Client", "a"}, {"Free GB", "1"}}, .client = "a"},
      {.rule = 12, .query = 31, .columns = {{"Client", "b"}, {"Free GB", "9"}}, .cleared = 1, .client = "b"},
  })));
  const auto rows = ofRule(12);
  ASSERT_EQ(1u, rows.size());
  const int id = rows[0].eventId;
  EXPECT_EQ("a", column(id, 0));
  EXPECT_EQ("1", column(id, 1));
  EXPECT_EQ("a", param(id, ParamClientName));
  EXPECT_EQ(1, rows[0].processStat);
}

TEST_P(CustomQueryTest, ClearedResultOfATrendRuleThatNeverMatchedIsIgnored) {
  seedRule(20, 65, kTrendRule);
  ASSERT_TRUE(runLine(evd::test::resultListEvent(
      {{.rule = 20, .query = 40, .columns = {{"Client", "a"}}, .cleared = 1,
        .trends = {{.message = "Failures rose", .extra = "by 40%"}}}})));
  EXPECT_EQ(0, detectedCount());
  EXPECT_EQ(1, log().count("Ignoring condition cleared alert for notif rule [20] since it wasnt matched before"));
}

TEST_P(CustomQueryTest, TrendRuleWithLastValueFilterEndsInState2FromItsSecondRun) {
  seedRule(21, 65, kTrendRule | kLastValueFilter);
  const Result r{.rule = 21, .query = 41, .columns = {{"Client", "a"}}};

  ASSERT_TRUE(runLine(evd::test::resultListEvent({r})));
  auto rows = ofRule(21);
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(1, rows[0].processStat);
  const std::string matched = lastMatchProperty(21);
  EXPECT_GT(std::atoll(matched.c_str()), 0) << matched;

  ASSERT_TRUE(runLine(evd::test::resultListEvent({r})));
  rows = ofRule(21);
  ASSERT_EQ(1u, rows.size()) << "each run replaces the rule's occurrences";
  EXPECT_EQ(2, rows[0].processStat);
  EXPECT_EQ(matched, lastMatchProperty(21)) << "the first match time is kept";

  // A cleared trend of a rule that matched before is reported as cleared,
  // and the rule starts afresh.
  Result cleared = r;
  cleared.cleared = 1;
  cleared.trends = {{.message = "Failures back to normal"}};
  ASSERT_TRUE(runLine(evd::test::resultListEvent({cleared})));
  rows = ofRule(21);
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(4, rows[0].processStat);
  EXPECT_EQ("Failures back to normal", column(rows[0].eventId, 1));
  EXPECT_EQ("0", lastMatchProperty(21));
}

EVD_INSTANTIATE_BACKENDS(CustomQueryTest);

}  // namespace
