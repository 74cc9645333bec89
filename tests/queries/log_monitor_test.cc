// Log-monitoring matches (alert types 57 and 62) and trend results, on both
// backends, end to end through StoreNotiData, checked by reading the rows
// back; the trend link from an event's message to the stored column value.
#include <string>

#include "queries/query_harness.h"

namespace {

using evd::test::kLastValueFilter;
using evd::test::kTrendRule;
using evd::test::Result;
using evd::test::Trend;

class LogMonitorTest : public evd::test::QueryTest {
 protected:
  std::string lmText(int eventId, const std::string& column) {
    return queryText("SELECT " + column + " FROM NTLMalert WHERE eventId = " + std::to_string(eventId));
  }
  // A web console, and rule RULE's saved search whose trend page takes a
  // client and a level.
  void seedTrendPage(int rule) {
    exec("INSERT INTO SimWebServer (clientId) VALUES (31)");
    exec("INSERT INTO SimWebConsoleAssoc (webServerClientId, webConsoleClientId, isDisabled) VALUES (31, 41, 0)");
    exec("INSERT INTO APP_ClientProp (componentNameId, attrName, attrVal, modified) VALUES "
         "(41, 'WebURL', 'http://cs/webconsole', 0)");
    mapQuery(rule, 40,
             "<NXGui_QueryAdditionalInfo><externalQueryInfo externalQueryId=\"15\"/></NXGui_QueryAdditionalInfo>");
    exec("INSERT INTO LMUserSearch (id, searchInfo, monitoringAppType) VALUES "
         "(15, '<LogMonitoring_SearchURLInfo trendBrowserURL=\"?view=trend&amp;client=&amp;level=\"/>', 1)");
  }
};

TEST_P(LogMonitorTest, EveryMatchIsAnOccurrenceOfItsOwn) {
  const std::string full =
      "<message type=\"35,80\" class=\"600063440\"><int field=\"1\">12</int><int field=\"2\">4</int>"
      "<text field=\"3\">Kernel errors</text><text field=\"6\">nightly scan</text>"
      "<text field=\"7\">kernel: I/O error, dev sdb</text><int field=\"7\">9</int><int field=\"8\">4711</int>"
      "<text field=\"8\">line above</text><text field=\"9\">line below</text>"
      "<text field=\"10\">/var/log/kern.log</text><int field=\"29\">88213</int></message>";
  const std::string bare =
      "<message type=\"35,80\" class=\"600063440\"><int field=\"2\">4</int>"
      "<text field=\"7\">kernel: I/O error, dev sdb</text></message>";
  for (int type : {57, 62}) {
    SCOPED_TRACE(type);
    exec("DELETE FROM NTDetectedAlerts");
    exec("DELETE FROM NTLMalert");
    seedRule(type, type);
    for (const std::string& description : {full, full, bare}) {
      ASSERT_TRUE(runLine(evd::test::eventLine(type, description)));
      EXPECT_EQ(1, detected(lastEventId()).processStat);
    }
    EXPECT_EQ(3, detectedCount()) << "nothing is suppressed";
    EXPECT_EQ(3, countRows("NTLMalert"));

    const int first = static_cast<int>(queryInt("SELECT MIN(eventId) FROM NTLMalert"));
    EXPECT_EQ(4, detailInt("NTLMalert", "monPolId", first));
    EXPECT_EQ(12, detailInt("NTLMalert", "clientId", first));
    EXPECT_EQ(9, detailInt("NTLMalert", "monitoringCriteriaId", first));
    EXPECT_EQ(4711, detailInt("NTLMalert", "lineNum", first));
    EXPECT_EQ(88213, detailInt("NTLMalert", "jobId", first));
    EXPECT_EQ("Kernel errors", lmText(first, "monPolName"));
    EXPECT_EQ("nightly scan", lmText(first, "comment"));
    EXPECT_EQ("kernel: I/O error, dev sdb", lmText(first, "linesMatched"));
    EXPECT_EQ("line above", lmText(first, "linesAbove"));
    EXPECT_EQ("line below", lmText(first, "linesBelow"));
    EXPECT_EQ("/var/log/kern.log", lmText(first, "attachedFilePath"));

    const int last = lastEventId();
    EXPECT_EQ("<null>", lmText(last, "linesAbove")) << "context the match does not have stays null";
    EXPECT_EQ("<null>", lmText(last, "linesBelow"));
    EXPECT_EQ("<null>", lmText(last, "attachedFilePath"));
    EXPECT_EQ("", lmText(last, "comment"));
  }
}

TEST_P(LogMonitorTest, UnreadableMatchFailsWithoutLeavingAnOccurrence) {
  seedRule(57, 57);
  for (const std::string& description :
       {std::string(), std::string("not a message"),
        std::string("<message type=\"30,1400\" class=\"505897459\"><int field=\"10\">1</int></message>")}) {
    EXPECT_FALSE(runLine(evd::test::eventLine(57, description)));
  }
  EXPECT_EQ(0, detectedCount());
  EXPECT_EQ(0, countRows("NTLMalert"));
  EXPECT_EQ(3, log().count("unserialization failed input xml"));
}

TEST_P(LogMonitorTest, RuleStatusTellsTrendRulesAndLastValueFilters) {
  struct Case {
    int status;
    int kind;
    int filter;
  };
  int rule = 50;
  for (const Case c : {Case{0, 0, 0}, Case{kTrendRule, 3, 0}, Case{kTrendRule | kLastValueFilter, 3, 1},
                       Case{kLastValueFilter, 0, 1}, Case{kTrendRule | 3, 3, 0}}) {
    seedRule(++rule, 65, c.status);
    int filter = -1;
    EXPECT_EQ(c.kind, GetAlertTypeForLMAlerts(rule, filter)) << "status " << c.status;
    EXPECT_EQ(c.filter, filter) << "status " << c.status;
  }
  int filter = -1;
  EXPECT_EQ(0, GetAlertTypeForLMAlerts(999, filter)) << "a missing rule";
  EXPECT_EQ(0, filter);
  EXPECT_FALSE(log().contains("is a trend Alert")) << "neither a plain nor a missing rule is an error";
}

TEST_P(LogMonitorTest, TrendEntriesBecomeColumnValuesLinkedToTheMonitoringPage) {
  seedRule(20, 65, kTrendRule);
  seedTrendPage(20);
  const Result r{.rule = 20,
                 .query = 40,
                 .trends = {{.message = "Failures rose by 40%",
                             .extra = "see the trend",
                             .meta = {{"client", "fs01 & co"}, {"level", "3"}, {"generateLinkFromBrowserUrl", "1"}}},
                            {.message = "Disk latency doubled", .extra = "on ma-east-02"},
                            {.message = "No extra text"}}};
  ASSERT_TRUE(runLine(evd::test::resultListEvent({r})));
  const auto rows = ofRule(20);
  ASSERT_EQ(1u, rows.size());
  const int id = rows[0].eventId;
  EXPECT_EQ(1, rows[0].processStat);
  EXPECT_EQ("Failures rose by 40% <a href=\"http://cs/webconsole/logMonitoring.do?view=trend&amp;"
            "client=fs01 &amp; co&amp;level=3\">see the trend</a>",
            column(id, 0));
  EXPECT_EQ("Disk latency doubled on ma-east-02", column(id, 1)) << "an entry without metadata keeps its text";
  EXPECT_EQ("No extra text", column(id, 2));
  EXPECT_EQ("", column(id, 3));
  EXPECT_EQ("3", param(id, ParamQueryColumnCount));
}

TEST_P(LogMonitorTest, TrendTextStaysPlainWithoutAConsole) {
  seedRule(20, 65, kTrendRule);
  mapQuery(20, 40);
  ASSERT_TRUE(runLine(evd::test::resultListEvent(
      {{.rule = 20, .trends = {{.message = "Failures rose", .extra = "see", .meta = {{"client", "fs01"}}}}}})));
  ASSERT_EQ(1u, ofRule(20).size());
  EXPECT_EQ("Failures rose see", column(ofRule(20)[0].eventId, 0));
}

TEST_P(LogMonitorTest, TrendResultWithoutARuleIsRefused) {
  seedRule(20, 65, kTrendRule);
  ASSERT_TRUE(runLine(evd::test::resultEvent({.rule = 0, .query = 40, .trends = {{.message = "Failures rose"}}})));
  EXPECT_EQ(0, detectedCount());
  EXPECT_EQ(1, log().count("Invalid data for trend alerts. Ignoring it."));
}

EVD_INSTANTIATE_BACKENDS(LogMonitorTest);

}  // namespace
