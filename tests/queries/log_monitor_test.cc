// Log-monitoring matches (alert types 57 and 62) and trend entries on both
// backends, end to end: every match is an occurrence of its own, and a trend
// entry's metadata becomes a link to the monitoring page.
#include "queries/query_harness.h"

namespace {

using namespace evd::test;

class LogMonitorTest : public QueryTest {
 protected:
  bool runMatch(int type, const std::string& description) {
    EvAlertEx a = event(eventLine(type, description));
    return run(a);
  }
  std::string lm(int eventId, const std::string& column) {
    return queryText("SELECT " + column + " FROM NTLMalert WHERE eventId = " + std::to_string(eventId));
  }
};

TEST_P(LogMonitorTest, EveryMatchIsAnOccurrenceOfItsOwn) {
  const std::string head =
      "<message type=\"35,80\" class=\"600063440\"><int field=\"1\">12</int><int field=\"2\">4</int>"
      "<text field=\"3\">Kernel errors</text><text field=\"7\">I/O error</text>";
  const std::string full = head + "<int field=\"8\">4711</int><text field=\"8\">above</text>"
                                  "<text field=\"10\">/var/log/kern</text><int field=\"29\">88213</int></message>";
  for (int type : {57, 62}) {
    seedRule(type, type);
    for (const std::string& d : {full, full, head + "</message>"}) ASSERT_TRUE(runMatch(type, d));
  }
  EXPECT_EQ(6, countRows("NTDetectedAlerts WHERE processStat = 1")) << "two equal matches are two occurrences";
  EXPECT_EQ(6, countRows("NTLMalert WHERE monPolId = 4 AND clientId = 12 AND monPolName = 'Kernel errors' "
                         "AND linesMatched = 'I/O error'"));
  const int first = static_cast<int>(queryInt("SELECT MIN(eventId) FROM NTLMalert"));
  for (auto [column, text, without] : {std::tuple{"lineNum", "4711", "0"},
                                       {"jobId", "88213", "0"},
                                       {"linesAbove", "above", "<null>"},
                                       {"attachedFilePath", "/var/log/kern", "<null>"}}) {
    EXPECT_EQ(text, lm(first, column));
    EXPECT_EQ(without, lm(lastEventId(), column)) << column << " of a match without it";
  }
}

TEST_P(LogMonitorTest, UnreadableMatchFailsWithoutLeavingAnOccurrence) {
  seedRule(57, 57);
  for (const char* d : {"", "not a message", "<message type=\"30,1400\"><int field=\"10\">1</int></message>"})
    EXPECT_FALSE(runMatch(57, d));
  EXPECT_EQ(0, detectedCount() + countRows("NTLMalert"));
}

TEST_P(LogMonitorTest, RuleStatusTellsTrendRulesAndLastValueFilters) {
  int rule = 50;
  for (auto [status, kind, filter] :
       {std::tuple{0, 0, 0}, {kTrendRule, 3, 0}, {kTrendRule | kLastValueFilter, 3, 1}, {kLastValueFilter, 0, 1}}) {
    seedRule(++rule, 65, status);
    int read = -1;
    EXPECT_EQ(kind, GetAlertTypeForLMAlerts(rule, read)) << status;
    EXPECT_EQ(filter, read) << status;
  }
}

TEST_P(LogMonitorTest, TrendEntriesBecomeColumnValuesLinkedToTheMonitoringPage) {
  seedRule(20, 65, kTrendRule);
  exec("INSERT INTO NTNotificationQueryMapping (NtNotificationId, QueryId, xmlInfo) VALUES (20, 40, "
       "'<NXGui_QueryAdditionalInfo><externalQueryInfo externalQueryId=\"15\"/></NXGui_QueryAdditionalInfo>')");
  exec("INSERT INTO LMUserSearch (id, searchInfo, monitoringAppType) VALUES "
       "(15, '<LogMonitoring_SearchURLInfo trendBrowserURL=\"?view=trend&amp;client=&amp;level=\"/>', 1)");
  const Result r{.rule = 20,
                 .trends = {{"Failures rose", "see", {{"client", "fs 1&2"}}}, {"Latency doubled", "on ma2", {}}}};
  for (bool console : {false, true}) {
    SCOPED_TRACE(console ? "with a web console" : "without a web console");
    exec("DELETE FROM NTDetectedAlerts");
    if (console)
      exec("INSERT INTO SimWebServer (clientId) VALUES (31); "
           "INSERT INTO SimWebConsoleAssoc (webServerClientId, webConsoleClientId, isDisabled) VALUES (31, 41, 0); "
           "INSERT INTO APP_ClientProp (componentNameId, attrName, attrVal, modified) "
           "VALUES (41, 'WebURL', 'http://cs/webconsole', 0)");
    ASSERT_TRUE(runResults({r}));
    ASSERT_EQ(1u, ofRule(20).size());
    EXPECT_EQ(console ? "Failures rose <a href=\"http://cs/webconsole/logMonitoring.do?view=trend&amp;"
                        "client=fs 1&amp;2&amp;level=\">see</a>"
                      : "Failures rose see",
              column(lastEventId(), 0));
    EXPECT_EQ("Latency doubled on ma2", column(lastEventId(), 1)) << "an entry without metadata keeps its text";
  }
}

EVD_INSTANTIATE_BACKENDS(LogMonitorTest);

}  // namespace
