// Administrative (75) and event-log (58) alerts on both backends, read back from the tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "host/EvAlertDebug.h"
#include "host/NxSettings.h"
#include "host/NxPlatform.h"
#include "host/messages/message_classes.h"
#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;
using Texts = std::multiset<std::string>;

// The texts of a stored result row (one serialised ExternalQueryResult), joined by '|'.
std::string rowTexts(const std::string& serialised) {
  App::ExternalQueryResult row;
  if (row.unserialize(serialised) != 0 || row.getstringlist(1) == nullptr) return "<not a result row>";
  std::string out;
  for (const std::string& t : *row.getstringlist(1)) out += (out.empty() ? "" : "|") + t;
  return out;
}

const char* const kDetail =
    R"(<message type=\"30,2507\" class=\"511611432\"><text field=\"1\">Weekly SLA report</text>)"
    R"(<object field=\"2\"><int field=\"2\">4</int><int field=\"3\">2</int><list field=\"4\"><object>)"
    R"(<int field=\"1\">3</int><text field=\"2\">client-a</text></object></list><int field=\"6\">1</int>)"
    R"(<list field=\"7\"><object><int field=\"1\">2</int><text field=\"2\">Media not available</text></object>)"
    R"(</list><int field=\"8\">0</int></object><list field=\"3\"><object type=\"30,1155\"><list field=\"1\">)"
    R"(<text>client-b</text><text>7</text></list></object></list></message>)";

class AdminAlertTest : public JobTest {
 protected:
  // Every parameter of EVENTID as "type=text", result rows (types ROWS) by their texts.
  Texts stored(int eventId, const std::vector<int>& rows) {
    Texts out;
    for (const auto& [type, value] : params(eventId)) {
      const bool row = std::find(rows.begin(), rows.end(), type) != rows.end();
      out.insert(std::to_string(type) + "=" + (row ? rowTexts(value) : value));
    }
    return out;
  }
  int marker() {
    int id = -1;
    EXPECT_EQ(0, NXGlobalParam::getNTAlertLastEventId(id, nullptr));
    return id;
  }
  // An event-log event with the marker at MARKERBEFORE and the newest message id NEWEST.
  bool runWith(int markerBefore, int newest) {
    EXPECT_EQ(0, NXGlobalParam::setNTAlertLastEventId(markerBefore, nullptr));
    exec("DELETE FROM KRCounter");
    exec("INSERT INTO KRCounter (name, next_l) VALUES ('Event_Counter', " + std::to_string(newest) + ")");
    EvAlertEx a = event(R"({"alertType":58,"alertCriteria":1})");
    return run(a);
  }
};

TEST_P(AdminAlertTest, CriteriaChooseTheParameters) {
  seedRule(75, 2);
  const std::string detail = R"(,"clientId":12,"comment":"see report","description":")" + std::string(kDetail) + "\"";
  const long long pair107 = (-7LL << 32) + 118;  // client and subclient in one id
  const std::string sparse =
      R"(,"description":"<message type=\"30,2507\"><object field=\"2\"><int field=\"2\">4</int></object></message>")";
  const struct {
    int criteria;
    std::string more;
    Texts expected;  // every parameter
    std::string entity;
  } cases[] = {
      {101, detail, {"145=client-b|7", "255=see report", "37=12", "73=Weekly SLA report"}, ""},
      {94, R"(,"jobId":77)", {"26=Job", "27=77"}, "Job|77"},
      // The counts keep 64 bits, unsigned; client and agent type ids are signed.
      {95, R"(,"failedCount":4294967301,"threshold":10)", {"17=10", "63=4294967301"}, ""},
      {102, R"(,"protectedCount":-1)", {"63=18446744073709551615"}, ""},
      {107,
       R"(,"clientId":-7,"clientName":"fs01","subClientId":118,"subClientName":"default",)"
       R"("appTypeId":-5,"appTypeName":"File System","failureReason":"quota")",
       {"1=quota", "122=default", "258=-7", "26=ClientNSubClient", "27=" + std::to_string(uint64_t(pair107)),
        "275=118", "276=File System", "277=-5", "37=fs01"},
       "ClientNSubClient|" + std::to_string(pair107)},
      // A detail message stores its detail fields, unset ones as 0 or empty;
      // without one only the event's own values are stored.
      {105, sparse + R"(,"mediaAgentName":"ma1")", {"137=4", "269=0", "272=0", "273=0", "4=ma1"}, ""},
      {105, R"(,"mediaAgentName":"ma1")", {"4=ma1"}, ""},
      {104, sparse + R"(,"comment":"see report")", {"255=see report", "73="}, ""},
      {104, R"(,"comment":"see report")", {"255=see report"}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.criteria);
    EvAlertEx a = event(R"({"alertType":75,"alertCriteria":)" + std::to_string(c.criteria) + c.more + "}");
    ASSERT_TRUE(run(a));
    const auto row = detected(lastEventId());
    EXPECT_EQ(c.entity, row.entityId);
    EXPECT_EQ(c.expected, stored(row.eventId, {145}));
  }
}

long long g_now = 0;
long long fixedNow() { return g_now; }

// The anomalous events of the last full hour, their clients linked with the name escaped.
TEST_P(AdminAlertTest, AnomalousEventsOfTheLastFullHour) {
  seedRule(75, 2);
  std::string error;
  ASSERT_EQ(0, Settings::set("GlobalParam", "WebConsoleURL", "https://cs/webconsole", &error)) << error;
  exec("INSERT INTO APP_Client (id, name) VALUES (13, '<b>evil</b>')");
  const long long hour = 1733392800;
  for (const auto& [secs, anomaly, description] : {std::tuple{hour - 3600, 2, "first second"}, {hour - 1, 0, "usual"},
                                                   {hour, 1, "current hour"}, {hour - 3601, 1, "hour before"}})
    exec("INSERT INTO APP_CentrixEvents (clientId, eventTime, eventTimeSecs, severity, description, anomaly, "
         "occurance) VALUES (13, '2024-12-05 09:30:00', " + std::to_string(secs) + ", 2, '" + description + "', " +
         std::to_string(anomaly) + ", 4)");
  g_now = hour + 17 * 60;
  const EvAlertDebug::Clock saved = EvAlertDebug::setClock(fixedNow);
  EvAlertEx a = event(R"({"alertType":75,"alertCriteria":93})");
  const bool ok = run(a);
  EvAlertDebug::setClock(saved);
  ASSERT_TRUE(ok);
  EXPECT_EQ((Texts{"11=first second", "267=<a href=\"https://cs/adminconsole/#/clientDetails/13\">"
                   "&lt;b&gt;evil&lt;/b&gt;</a>|2024-12-05 09:30:00|first second|4|Occurred less often than usual"}),
            stored(lastEventId(), {267}));
}

TEST_P(AdminAlertTest, EventLogRangeSinceTheMarkerAndTheMarkerMovesOnlyOnceStored) {
  seedRule(58, 2);
  EXPECT_TRUE(runWith(100, 100));
  EXPECT_EQ(0, detectedCount()) << "nothing new";
  EXPECT_TRUE(runWith(100, 105));
  EXPECT_EQ(105, marker());
  EXPECT_EQ(101, detailInt("NTDEventMonitoring", "tolvaneEventId_l", lastEventId()));
  EXPECT_EQ(105, detailInt("NTDEventMonitoring", "tolvaneEventId_h", lastEventId()));
  exec("DROP TABLE NTDEventMonitoring");
  EXPECT_FALSE(runWith(100, 105));
  EXPECT_EQ(100, marker()) << "the range was not stored";
}

// A repeat of an administrative alert refreshes its pending occurrence and
// writes nothing under event id 0, nor a second copy of the parameters the
// occurrence was first recorded with. Only criteria that hold their object
// back can repeat; the anomalous-events summary, asked directly for no
// occurrence, is not written either.
TEST_P(AdminAlertTest, RepeatsWriteNoParametersUnderEventIdZeroOrTwice) {
  seedRule(75, 2);
  const long long hour = 1733392800;
  exec("INSERT INTO APP_CentrixEvents (clientId, eventTime, eventTimeSecs, severity, description, anomaly, occurance) "
       "VALUES (13, '2024-12-05 09:30:00', " + std::to_string(hour - 60) + ", 2, 'spike', 1, 4)");
  const struct {
    int criteria;
    std::string more;
  } cases[] = {{94, R"(,"jobId":77)"},
               {107, R"(,"clientId":12,"clientName":"fs01","subClientId":118,"failureReason":"quota")"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.criteria);
    const std::string line = R"({"alertType":75,"alertCriteria":)" + std::to_string(c.criteria) + c.more + "}";
    ASSERT_TRUE(run(event(line)));
    const int first = lastEventId();
    const auto firstParams = params(first);
    EXPECT_FALSE(firstParams.empty());
    ASSERT_TRUE(run(event(line)));
    EXPECT_EQ(first, lastEventId());
    EXPECT_EQ(firstParams, params(first));
  }
  EXPECT_EQ(2, detectedCount());
  g_now = hour + 60;
  const EvAlertDebug::Clock saved = EvAlertDebug::setClock(fixedNow);
  EXPECT_TRUE(EvNDetector().StoreAdminAlertForEvents(0));
  EvAlertDebug::setClock(saved);
  EXPECT_EQ(0, countRows("NTDparams WHERE eventId <= 0"));
}

// The marker is the one record of what was reported: one that cannot be read
// is not a marker of 0 (the whole event log again) but fails the event before
// anything is written.
TEST_P(AdminAlertTest, AMarkerThatCannotBeReadFailsTheEventAndWritesNothing) {
  seedRule(58, 2);
  for (const bool dropped : {false, true}) {
    SCOPED_TRACE(dropped ? "settings table dropped" : "marker not a number");
    exec("DELETE FROM KRCounter");
    exec("INSERT INTO KRCounter (name, next_l) VALUES ('Event_Counter', 105)");
    std::string error;
    ASSERT_EQ(0, Settings::set("GlobalParam", "NTAlertLastEventId", "one hundred", &error)) << error;
    if (dropped) exec("DROP TABLE EvdSettings");
    EXPECT_FALSE(run(event(R"({"alertType":58,"alertCriteria":1})")));
    EXPECT_EQ(0, detectedCount() + countRows("NTDEventMonitoring"));
  }
  EXPECT_EQ(2, log().count("Unable to read last Event processed for Alerts")) << log().text();
}

// One that cannot be moved fails the event after the range is stored: the
// next event reports the same range again, which the host must hear of.
TEST_P(AdminAlertTest, AMarkerThatCannotBeMovedFailsTheEventAfterTheRangeIsStored) {
  seedRule(58, 2);
  exec("INSERT INTO KRCounter (name, next_l) VALUES ('Event_Counter', 105)");
  refuseInserts("EvdSettings", "name", "NTAlertLastEventId");  // no marker yet: the first write inserts it
  EXPECT_FALSE(run(event(R"({"alertType":58,"alertCriteria":1})")));
  EXPECT_EQ(1, detailInt("NTDEventMonitoring", "tolvaneEventId_l", lastEventId()));
  EXPECT_EQ(105, detailInt("NTDEventMonitoring", "tolvaneEventId_h", lastEventId()));
  EXPECT_EQ(0, countRows("EvdSettings WHERE name = 'NTAlertLastEventId'"));
  EXPECT_EQ(1, log().count("Unable to update last Event processed for Alerts to [105]")) << log().text();
}

EVD_INSTANTIATE_BACKENDS(AdminAlertTest);

}  // namespace
