// Repeated-alert matching on both backends: which stored occurrences count
// as a pending repeat of a new event, and how a new occurrence is marked
// with its suppression object.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "Db/AllBindings.h"
#include "host/EvAlertDebug.h"
#include "detector/EvNDetector.h"
#include "detector/ProcessStat.h"
#include "params/EvNDetectParams.h"
#include "support/alert_log.h"
#include "support/db_fixture.h"

namespace {

class TestDetector : public EvNDetector {
 public:
  void setAlertStatus(int status) { m_alertStatus = status; }
};

// The suppression arguments of an event about one client (criteria 43
// names the client as the object).
struct Args {
  int library = 0, sparePool = 0, drive = 0, media = 0, mediaAgent = 0, mountPath = 0, client = 107,
      subClient = 0;
  long long jobId = 0;
  int store = 0, ruleOrUser = 0, storagePolicy = 0, copy = 0;
};

int findPending(EvNDetector& d, const Args& a) {
  return d.GetExistingEventIdEx(a.library, a.sparePool, a.drive, a.media, a.mediaAgent, a.mountPath, a.client,
                                a.subClient, a.jobId, a.store, a.ruleOrUser, a.storagePolicy, a.copy);
}

bool mark(EvNDetector& d, int eventId, const Args& a) {
  return d.EnableSupression(eventId, a.library, a.sparePool, a.drive, a.media, a.mediaAgent, a.mountPath, a.client,
                            a.subClient, a.jobId, a.store, a.ruleOrUser, a.storagePolicy, a.copy);
}

class RepeatMatchTest : public evd::test::DbTest {
 protected:
  void prime(TestDetector& d, int criteria = 43, int status = 7, int category = 2, int alertType = 3) {
    d.SetNotiCategoryAndType(category, alertType);
    d.SetNotiCriteria(criteria);
    d.setAlertStatus(status);
    d.setEntityId("");
  }
  // What a handler does for an event without a pending repeat: a new row,
  // marked with its object, then made pending.
  int recordMarked(TestDetector& d, const Args& a, int state = eAlertStatusPending) {
    int id = 0;
    EXPECT_TRUE(d.SetDetectedAlert(id, false, 0));
    EXPECT_TRUE(mark(d, id, a));
    EXPECT_TRUE(SetStatus(id, state));
    return id;
  }
  std::string entityOf(int eventId) {
    return queryText("SELECT entityId FROM NTDetectedAlerts WHERE eventId = " + std::to_string(eventId));
  }
  std::vector<std::string> paramValues(int eventId, int type) {
    std::vector<std::string> out;
    EvNDetectParams p(nullptr);
    EXPECT_TRUE(p.GetParams(eventId, static_cast<NotiParamTypes>(type), out));
    return out;
  }
  evd::test::AlertLogCapture log_;
};

// ---- what matches --------------------------------------------------------
// Which process states count as pending is the look-up procedure's own
// business, covered with the procedures.

// Criteria 18 names the object by client and old condition together.
TEST_P(RepeatMatchTest, AnotherOldConditionOrObjectNeverMatches) {
  TestDetector d;
  prime(d, 18, 2001);
  const Args a;
  const int id = recordMarked(d, a);
  EXPECT_EQ("Status|107|2001", entityOf(id));

  TestDetector other;
  prime(other, 18, 2002);
  EXPECT_EQ(0, findPending(other, a)) << "another old condition";
  Args otherClient = a;
  otherClient.client = 108;
  TestDetector same;
  prime(same, 18, 2001);
  EXPECT_EQ(0, findPending(same, otherClient)) << "another object";
  EXPECT_EQ(id, findPending(same, a));
  EXPECT_EQ(id, same.getEventId());
}

TEST_P(RepeatMatchTest, EventsWithoutAnObjectAreNeitherMatchedNorMarked) {
  // Criteria 18 with old condition 1013 has no object; criteria 43 without a
  // client has object id 0.
  for (auto [criteria, status, client] : {std::tuple{18, 1013, 107}, std::tuple{43, 7, 0}}) {
    TestDetector d;
    prime(d, criteria, status);
    Args a;
    a.client = client;
    int id = 0;
    ASSERT_TRUE(d.SetDetectedAlert(id, false, 0));
    EXPECT_TRUE(mark(d, id, a)) << "nothing to mark is not a failure";
    ASSERT_TRUE(SetStatus_Detected(id));
    EXPECT_TRUE(paramValues(id, ParamSuppressionObjectType).empty());
    EXPECT_TRUE(entityOf(id) == "<null>" || entityOf(id).empty());
    EXPECT_EQ("", d.getEntityId());
    EXPECT_EQ(0, findPending(d, a));
  }
}

// ---- marking ---------------------------------------------------------------

TEST_P(RepeatMatchTest, MarkingStoresTheObjectAsParametersAndAsTheEntityIdWithAll64Bits) {
  TestDetector d;
  prime(d, 94, 0);  // the job is the object
  int id = 0;
  ASSERT_TRUE(d.SetDetectedAlert(id, false, 0));
  Args a;
  a.jobId = 4294967561LL;
  ASSERT_TRUE(mark(d, id, a));
  ASSERT_TRUE(mark(d, id, a)) << "marking twice keeps one value of each";
  EXPECT_EQ(std::vector<std::string>{"Job"}, paramValues(id, ParamSuppressionObjectType));
  EXPECT_EQ(std::vector<std::string>{"4294967561"}, paramValues(id, ParamSuppressionObjectId));
  EXPECT_EQ("Job|4294967561", entityOf(id)) << "the literal's quotes are not part of the value";
  EXPECT_EQ("Job|4294967561", d.getEntityId());
  ASSERT_TRUE(SetStatus_Detected(id));

  TestDetector again;
  prime(again, 94, 0);
  EXPECT_EQ(id, findPending(again, a));
  a.jobId = 265;  // the same low word, another job
  EXPECT_EQ(0, findPending(again, a));
}

// ---- failures --------------------------------------------------------------

TEST_P(RepeatMatchTest, MarkingAMissingOrHalfWrittenOccurrenceFails) {
  TestDetector d;
  prime(d);
  EXPECT_FALSE(mark(d, 999, Args{}));
  EXPECT_TRUE(log_.contains("ERROR EnableSupression: Error Updating table [NTDetectedAlerts] , ErrorString ["));

  TestDetector fresh;  // d keeps the entity it tried to mark with
  prime(fresh);
  int id = 0;
  ASSERT_TRUE(fresh.SetDetectedAlert(id, false, 0));
  exec("DROP TABLE NTDparams");
  EXPECT_FALSE(mark(fresh, id, Args{}));
  EXPECT_TRUE(entityOf(id) == "<null>" || entityOf(id).empty()) << "the row is not marked half-way";
}

TEST_P(RepeatMatchTest, ALookUpErrorIsLoggedAndTreatedAsNoMatch) {
  exec("DROP TABLE NTDetectedAlerts");
  TestDetector d;
  prime(d);
  d.setEventId(-1);
  EXPECT_EQ(0, findPending(d, Args{}));
  EXPECT_EQ(-1, d.getEventId()) << "no match leaves the detector's event id";
  EXPECT_TRUE(log_.contains("ERROR GetExistingEventIdEx: ErrorCode ["));
  EXPECT_TRUE(log_.contains("] in checking for existing eventId"));
}

EVD_INSTANTIATE_BACKENDS(RepeatMatchTest);

}  // namespace
