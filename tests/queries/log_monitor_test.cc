// Log-monitoring matches (alert types 57 and 62) and trend results on both
// backends, end to end; the trend link from an event's message to the
// stored column value.
#include "queries/query_harness.h"

namespace {

using namespace evd::test;

class LogMonitorTest : public QueryTest {
 protected:
  std::string lm(int eventId, const std::string& column) {
    return queryText("SELECT " + column + " FROM NTLMalert WHERE eventId = " + std::to_string(eventId));
  }
};

TEST_P(LogMonitorTest, EveryMatchIsAnOccurrenceOfItsOwn) {
  const std::string head =
      "<message type=\"35,80\" class=\"600063440\"><int field=\"1\">12</int><int field=\"2\">4</int>"
      "<text field=\"3\">Kernel errors</text><text field=\"7\">I/O error</text>";
  const std::string full = head +
                           "<int field=\"7\">9</int><int field=\"8\">4711</int><text field=\"8\">above</text>"
                           "<text field=\"9\">below</text><text field=\"10\">/var/log/kern</text>"
                           "<int field=\"29\">88213</int></message>";
  for (int type : {57, 62}) {
    seedRule(type, type);
    for (const std::string& d : {full, full, head + "</message>"}) ASSERT_TRUE(runLine(eventLine(type, d)));
  }
  EXPECT_EQ(6, detectedCount()) << "nothing is suppressed";
  EXPECT_EQ(6, countRows("NTLMalert WHERE monPolId = 4 AND clientId = 12 AND monPolName = 'Kernel errors' "
                         "AND linesMatched = 'I/O error' AND comment = ''"));
  EXPECT_EQ(6, countRows("NTDetectedAlerts WHERE processStat = 1"));
  const int first = static_cast<int>(queryInt("SELECT MIN(eventId) FROM NTLMalert"));
  for (auto [column, text, without] : {std::tuple{"monitoringCriteriaId", "9", "0"},
                                       {"lineNum", "4711", "0"},
                                       {"jobId", "88213", "0"},
                                       {"linesAbove", "above", "<null>"},
                                       {"linesBelow", "below", "<null>"},
                                       {"attachedFilePath", "/var/log/kern", "<null>"}}) {
    EXPECT_EQ(text, lm(first, column));
    EXPECT_EQ(without, lm(lastEventId(), column)) << column << " of a match without it";
  }
}

TEST_P(LogMonitorTest, UnreadableMatchFailsWithoutLeavingAnOccurrence) {
  seedRule(57, 57);
  for (const char* d : {"", "not a message", "<message type=\"30,1400\"><int field=\"10\">1</int></message>"})
    EXPECT_FALSE(runLine(eventLine(57, d)));
  EXPECT_EQ(0, detectedCount() + countRows("NTLMalert"));
}

TEST_P(LogMonitorTest, RuleStatusTellsTrendRulesAndLastValueFilters) {
  int rule = 50;
  for (auto [status, kind, filter] : {std::tuple{0, 0, 0},
                                      {kTrendRule, 3, 0},
                                      {kTrendRule | kLastValueFilter, 3, 1},
                                      {kLastValueFilter, 0, 1},
                                      {-1, 0, 0}}) {
    if (status >= 0) seedRule(++rule, 65, status);
    int read = -1;
    EXPECT_EQ(kind, GetAlertTypeForLMAlerts(status >= 0 ? rule : 999, read)) << status;
    EXPECT_EQ(filter, read) << status;
  }
  EXPECT_FALSE(log().contains("is a trend Alert")) << "neither a plain nor a missing rule is an error";
}

TEST_P(LogMonitorTest, TrendEntriesBecomeColumnValuesLinkedToTheMonitoringPage) {
  seedRule(20, 65, kTrendRule);
  mapQuery(20, 40,
           "<NXGui_QueryAdditionalInfo><externalQueryInfo externalQueryId=\"15\"/></NXGui_QueryAdditionalInfo>");
  exec(
      "INSERT INTO LMUserSearch (id, searchInfo, monitoringAppType) VALUES "
      "(15, '<LogMonitoring_SearchURLInfo trendBrowserURL=\"?view=trend&amp;client=&amp;level=\"/>', 1)");
  const Result r{.rule = 20,
                 .trends = {{.message = "Failures rose", .extra = "see", .meta = {{"client", "fs 1&2"}}},
                            {.message = "Latency doubled", .extra = "on ma2"}}};
  for (bool console : {false, true}) {
    exec("DELETE FROM NTDetectedAlerts");
    if (console) {
      exec("INSERT INTO SimWebServer (clientId) VALUES (31)");
      exec("INSERT INTO SimWebConsoleAssoc (webServerClientId, webConsoleClientId, isDisabled) VALUES (31, 41, 0)");
      exec(
          "INSERT INTO APP_ClientProp (componentNameId, attrName, attrVal, modified) VALUES "
          "(41, 'WebURL', 'http://cs/webconsole', 0)");
    }
    ASSERT_TRUE(runLine(resultEvent({r})));
    ASSERT_EQ(1u, ofRule(20).size());
    const int id = lastEventId();
    EXPECT_EQ(console ? "Failures rose <a href=\"http://cs/webconsole/logMonitoring.do?view=trend&amp;"
                        "client=fs 1&amp;2&amp;level=\">see</a>"
                      : "Failures rose see",
              column(id, 0));
    EXPECT_EQ("Latency doubled on ma2", column(id, 1)) << "an entry without metadata keeps its text";
    EXPECT_EQ("2", param(id, ParamQueryColumnCount));
  }
  ASSERT_TRUE(runLine(resultEvent({{.rule = 0, .query = 40, .trends = {{.message = "t"}}}}, true)));
  EXPECT_EQ(1, log().count("Invalid data for trend alerts. Ignoring it."));
}

EVD_INSTANTIATE_BACKENDS(LogMonitorTest);

}  // namespace
