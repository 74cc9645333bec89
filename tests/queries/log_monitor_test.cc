// Log-monitoring matches (alert types 57 and 62) on both backends, end to
// end: every match is an occurrence of its own.
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

EVD_INSTANTIATE_BACKENDS(LogMonitorTest);

}  // namespace
