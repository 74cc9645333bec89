#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "Db/AllBindings.h"
#include "detector/EvNDetector.h"
#include "params/EvNDetectParams.h"
#include "support/alert_log.h"
#include "support/db_fixture.h"

namespace {

class TestDetector : public EvNDetector {
 public:
  void setAlertStatus(int status) { m_alertStatus = status; }
};

// The suppression arguments of an event about one client.
struct Args {
  int library = 0, sparePool = 0, drive = 0, media = 0, mediaAgent = 0, mountPath = 0, client = 107, subClient = 0;
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
  void prime(TestDetector& d, int criteria = 43, int status = 7) {
    d.SetNotiCategoryAndType(2, 3);
    d.SetNotiCriteria(criteria);
    d.setAlertStatus(status);
  }
  int recordMarked(TestDetector& d, const Args& a) {
    int id = 0;
    EXPECT_TRUE(d.SetDetectedAlert(id, false, 0));
    EXPECT_TRUE(mark(d, id, a));
    EXPECT_TRUE(SetStatus_Detected(id));
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

TEST_P(RepeatMatchTest, MarkingStoresTheObjectWithAll64BitsAndOnlyTheSameObjectMatches) {
  TestDetector d;
  prime(d, 94, 0);  // the job is the object
  Args a;
  a.jobId = 4294967561LL;
  const int id = recordMarked(d, a);
  ASSERT_TRUE(mark(d, id, a)) << "marking twice keeps one value of each";
  EXPECT_EQ(std::vector<std::string>{"Job"}, paramValues(id, ParamSuppressionObjectType));
  EXPECT_EQ(std::vector<std::string>{"4294967561"}, paramValues(id, ParamSuppressionObjectId));
  EXPECT_EQ("Job|4294967561", entityOf(id));
  EXPECT_EQ(id, findPending(d, a));
  a.jobId = 265;  // the same low word, another job
  EXPECT_EQ(0, findPending(d, a));
  TestDetector status;  // criteria 18: the object is the client and old condition together
  prime(status, 18, 2001);
  Args c;
  const int byStatus = recordMarked(status, c);
  EXPECT_EQ("Status|107|2001", status.getEntityId());
  TestDetector other;
  prime(other, 18, 2002);
  EXPECT_EQ(0, findPending(other, c)) << "another old condition";
  prime(other, 18, 2001);
  EXPECT_EQ(byStatus, findPending(other, c));
  EXPECT_EQ(byStatus, other.getEventId());
  c.client = 108;
  EXPECT_EQ(0, findPending(other, c)) << "another object";
}

// A client event without a client has object id 0: nothing to mark or match.
TEST_P(RepeatMatchTest, EventsWithoutAnObjectAreNeitherMatchedNorMarked) {
  TestDetector d;
  prime(d);
  Args a;
  a.client = 0;
  const int id = recordMarked(d, a);
  EXPECT_TRUE(paramValues(id, ParamSuppressionObjectType).empty());
  EXPECT_TRUE(entityOf(id) == "<null>" || entityOf(id).empty());
  EXPECT_EQ(0, findPending(d, a));
}

TEST_P(RepeatMatchTest, MarkingAMissingOrHalfWrittenRowFailsAndAFailedLookUpThrows) {
  TestDetector d;
  prime(d);
  EXPECT_FALSE(mark(d, 999, Args{}));
  TestDetector fresh;  // d keeps the entity it tried to mark with
  prime(fresh);
  int id = 0;
  ASSERT_TRUE(fresh.SetDetectedAlert(id, false, 0));
  exec("DROP TABLE NTDparams");
  EXPECT_FALSE(mark(fresh, id, Args{}));
  EXPECT_TRUE(entityOf(id) == "<null>" || entityOf(id).empty()) << "the row is not marked half-way";
  exec("DROP TABLE NTDetectedAlerts");
  d.setEventId(-1);
  EXPECT_THROW(findPending(d, Args{}), std::runtime_error) << "a failed look-up is not \"nothing pending\"";
  EXPECT_EQ(-1, d.getEventId()) << "a failed look-up leaves the detector's event id";
}

EVD_INSTANTIATE_BACKENDS(RepeatMatchTest);

}  // namespace
