// Administrative alerts (75) and event-log alerts (58) end to end through
// StoreNotiData on both backends, read back from the tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/EvAlertDebug.h"
#include "host/NxPlatform.h"
#include "host/NxSettings.h"
#include "host/messages/message_classes.h"
#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;
using Texts = std::vector<std::string>;

// The texts of a stored result row (one serialised ExternalQueryResult).
Texts rowTexts(const std::string& serialised) {
  App::ExternalQueryResult row;
  if (row.unserialize(serialised) != 0 || row.getstringlist(1) == nullptr) return {"<not a result row>"};
  return *row.getstringlist(1);
}

const char* const kDetail =
    R"(<message type=\"30,2507\" class=\"511611432\"><text field=\"1\">Weekly SLA report</text>)"
    R"(<object field=\"2\"><int field=\"2\">4</int><int field=\"3\">2</int>)"
    R"(<list field=\"4\"><object><int field=\"1\">3</int><text field=\"2\">client-a</text></object></list>)"
    R"(<int field=\"6\">1</int><list field=\"7\"><object><int field=\"1\">2</int><text field=\"2\">Media not available</text></object></list>)"
    R"(<int field=\"8\">0</int></object>)"
    R"(<list field=\"3\"><object type=\"30,1155\"><list field=\"1\"><text>client-b</text><text>7</text></list></object></list></message>)";

class AdminAlertTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    if (!IsSkipped() && !HasFatalFailure()) seedRule(75, 2);
  }
  static EvAlertEx admin(int criteria, const std::string& more) {
    return event(R"({"alertType":75,"alertCriteria":)" + std::to_string(criteria) + more + "}");
  }
  // Every stored text of TYPE, sorted.
  Texts values(int eventId, int type) {
    Texts out;
    const Params p = params(eventId);
    for (auto [it, end] = p.equal_range(type); it != end; ++it) out.push_back(it->second);
    std::sort(out.begin(), out.end());
    return out;
  }
};

TEST_P(AdminAlertTest, CriteriaChooseTheParameters) {
  const std::string ids = R"(,"clientId":12,"clientName":"fs01","subClientId":118,"subClientName":"default",)"
                          R"("appTypeId":33,"appTypeName":"File System","mediaAgentName":"ma01","failedCount":17,)"
                          R"("protectedCount":15234,"threshold":5000000000,"comment":"see report",)"
                          R"("failureReason":"Backup missed its window")";
  const std::string withDetail = ids + R"(,"description":")" + kDetail + "\"";
  struct Case {
    int criteria;
    std::string more;
    std::vector<std::pair<int, Texts>> expected;  // every parameter type the occurrence has
    std::string entity;
  } cases[] = {
      {95, ids, {{63, {"17"}}, {17, {"5000000000"}}}, ""},
      {96, ids, {{63, {"17"}}, {17, {"5000000000"}}}, ""},
      {102, ids, {{63, {"15234"}}}, ""},
      {104, ids, {{255, {"see report"}}}, ""},  // no detail message: the comment alone
      {104, withDetail, {{73, {"Weekly SLA report"}}, {145, {"client-b", "7"}}, {255, {"see report"}}}, ""},
      {101, withDetail, {{37, {"12"}}, {73, {"Weekly SLA report"}}, {145, {"client-b", "7"}}, {255, {"see report"}}}, ""},
      {105, withDetail,
       {{137, {"4"}}, {269, {"2"}}, {272, {"1"}}, {273, {"0"}}, {4, {"ma01"}}, {270, {"client-a", "3"}},
        {1, {"Media not available", "2"}}},
       ""},
      {107, ids,
       {{37, {"fs01"}}, {258, {"12"}}, {122, {"default"}}, {275, {"118"}}, {1, {"Backup missed its window"}},
        {276, {"File System"}}, {277, {"33"}}, {26, {"ClientNSubClient"}}, {27, {"51539607670"}}},
       "ClientNSubClient|51539607670"},
      {94, R"(,"jobId":77)", {{26, {"Job"}}, {27, {"77"}}}, "Job|77"},
      {99, ids, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.criteria);
    EvAlertEx a = admin(c.criteria, c.more);
    ASSERT_TRUE(run(a));
    const auto row = detected(lastEventId());
    EXPECT_EQ(1, row.processStat);
    EXPECT_EQ(c.criteria, row.criteria);
    EXPECT_EQ(c.entity, row.entityId);
    const Params stored = params(row.eventId);
    size_t count = 0;
    for (const auto& [type, texts] : c.expected) {
      SCOPED_TRACE(type);
      Texts got = values(row.eventId, type);
      count += got.size();
      // Result rows are stored serialised: compare their texts.
      if (type == 145 || type == 270 || (type == 1 && c.criteria == 105)) {
        ASSERT_EQ(1u, got.size());
        got = rowTexts(got[0]);
        EXPECT_EQ(texts, got);
      } else {
        Texts want = texts;
        std::sort(want.begin(), want.end());
        EXPECT_EQ(want, got);
      }
    }
    EXPECT_EQ(count, stored.size()) << "unexpected parameters";
  }
  EXPECT_EQ(0, countRows("NTDparams WHERE eventId = 0"));
}

TEST_P(AdminAlertTest, RepeatsAndClearedConditions) {
  EvAlertEx cleared = admin(107, R"(,"clientId":12,"subClientId":118,"conditionCleared":true)");
  EXPECT_TRUE(run(cleared));
  EXPECT_EQ(0, detectedCount());  // nothing was pending
  // 107 refreshes its pending occurrence's parameters in place.
  EvAlertEx first = admin(107, R"(,"clientId":12,"subClientId":118,"failureReason":"first")");
  EvAlertEx again = admin(107, R"(,"clientId":12,"subClientId":118,"failureReason":"second")");
  ASSERT_TRUE(run(first));
  const int id = lastEventId();
  ASSERT_TRUE(run(again));
  EXPECT_EQ(id, lastEventId());
  EXPECT_EQ("second", param(id, ParamFailureReason));
  // Threshold alerts name no object: each event is an occurrence with its
  // own counters, never counters added twice to one.
  EvAlertEx threshold = admin(95, R"(,"clientId":12,"jobId":77,"failedCount":3,"threshold":10)");
  ASSERT_TRUE(run(threshold));
  const int t1 = lastEventId();
  ASSERT_TRUE(run(threshold));
  for (int e : {t1, lastEventId()}) EXPECT_EQ("3", param(e, ParamNumberOfItems));
  EXPECT_EQ(3, detectedCount());
  EXPECT_EQ(0, countRows("NTDparams WHERE eventId = 0"));
}

long long g_now = 0;
long long fixedNow() { return g_now; }

TEST_P(AdminAlertTest, AnomalousEventsOfTheLastFullHour) {
  std::string error;
  ASSERT_EQ(0, Settings::set("GlobalParam", "WebConsoleURL", "https://cs.example.com/webconsole", &error)) << error;
  exec("INSERT INTO APP_Client (id, name) VALUES (12, 'fs01'), (13, '<b>evil</b>')");
  const long long hourStart = 1733392800;  // a full hour
  struct Row {
    long long secs;
    int client;
    int anomaly;
    const char* description;
  } rows[] = {
      {hourStart - 3600, 12, 1, "first second of the hour"},
      {hourStart - 1, 13, 2, "last second of the hour"},
      {hourStart - 1800, 12, 7, "odd anomaly"},
      {hourStart - 1700, 12, 0, "not anomalous"},
      {hourStart, 12, 1, "current hour"},
      {hourStart - 3601, 12, 1, "hour before"},
  };
  for (const Row& r : rows)
    exec("INSERT INTO APP_CentrixEvents (clientId, eventTime, eventTimeSecs, severity, description, anomaly, "
         "occurance) VALUES (" + std::to_string(r.client) + ", '2024-12-05 09:30:00', " + std::to_string(r.secs) +
         ", 2, " + evd::test::sqlText(r.description) + ", " + std::to_string(r.anomaly) + ", 4)");

  g_now = hourStart + 17 * 60;
  const EvAlertDebug::Clock saved = EvAlertDebug::setClock(fixedNow);
  EvAlertEx a = admin(93, "");
  const bool ok = run(a);
  EvAlertDebug::setClock(saved);
  ASSERT_TRUE(ok);
  const int id = lastEventId();
  EXPECT_EQ(1, detected(id).processStat);
  EXPECT_EQ((Texts{"first second of the hour", "last second of the hour", "odd anomaly"}), values(id, 11));

  std::vector<Texts> summary;
  for (const std::string& s : values(id, 267)) summary.push_back(rowTexts(s));
  std::sort(summary.begin(), summary.end(), [](const Texts& x, const Texts& y) { return x.at(2) < y.at(2); });
  const std::string admin = "https://cs.example.com/adminconsole/#/clientDetails/";
  EXPECT_EQ((std::vector<Texts>{
                {"<a href=\"" + admin + "12\">fs01</a>", "2024-12-05 09:30:00", "first second of the hour", "4",
                 "Occurred more often than usual"},
                {"<a href=\"" + admin + "13\">&lt;b&gt;evil&lt;/b&gt;</a>", "2024-12-05 09:30:00",
                 "last second of the hour", "4", "Occurred less often than usual"},
                {"<a href=\"" + admin + "12\">fs01</a>", "2024-12-05 09:30:00", "odd anomaly", "4", "Unusual event"},
            }),
            summary);
}

EVD_INSTANTIATE_BACKENDS(AdminAlertTest);

// ---- event-log alerts ----

class EventLogTest : public JobTest {
 protected:
  int marker() {
    int id = -1;
    EXPECT_EQ(0, NXGlobalParam::getNTAlertLastEventId(id, nullptr));
    return id;
  }
  bool runWith(int markerBefore, int newest) {
    EXPECT_EQ(0, NXGlobalParam::setNTAlertLastEventId(markerBefore, nullptr));
    exec("DELETE FROM KRCounter");
    if (newest >= 0) exec("INSERT INTO KRCounter (name, next_l) VALUES ('Event_Counter', " + std::to_string(newest) + ")");
    EvAlertEx a = event(R"({"alertType":58,"alertCriteria":1})");
    return run(a);
  }
};

TEST_P(EventLogTest, RangeSinceTheMarkerAndTheMarkerMovesOnlyOnceStored) {
  seedRule(58, 2);
  struct Case { int marker, newest, low, high, markerAfter; } cases[] = {
      {100, 100, 0, 0, 100}, {100, 105, 101, 105, 105}, {105, 100, 0, 0, 105}, {0, 3, 1, 3, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.marker) + " -> " + std::to_string(c.newest));
    const long long before = detectedCount();
    EXPECT_TRUE(runWith(c.marker, c.newest));
    EXPECT_EQ(c.markerAfter, marker());
    EXPECT_EQ(before + (c.low ? 1 : 0), detectedCount());
    if (!c.low) continue;
    EXPECT_EQ(1, detected(lastEventId()).processStat);
    EXPECT_EQ(c.low, detailInt("NTDEventMonitoring", "tolvaneEventId_l", lastEventId()));
    EXPECT_EQ(c.high, detailInt("NTDEventMonitoring", "tolvaneEventId_h", lastEventId()));
  }
  const long long stored = detectedCount();
  EXPECT_FALSE(runWith(100, -1));  // no counter
  EXPECT_EQ(100, marker());
  EXPECT_EQ(stored, detectedCount());
  exec("DROP TABLE NTDEventMonitoring");
  EXPECT_FALSE(runWith(100, 105));
  EXPECT_EQ(100, marker());
  EXPECT_EQ(0, detected(lastEventId()).processStat);  // left being written
  // An unreadable marker reports nothing rather than the whole log.
  std::string error;
  ASSERT_EQ(0, Settings::set("GlobalParam", "NTAlertLastEventId", "x", &error)) << error;
  exec("DELETE FROM NTDetectedAlerts");
  EvAlertEx a = event(R"({"alertType":58,"alertCriteria":1})");
  EXPECT_FALSE(run(a));
  EXPECT_EQ(0, detectedCount());
}

EVD_INSTANTIATE_BACKENDS(EventLogTest);

}  // namespace
