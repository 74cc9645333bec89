#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "detector/EvNDetector.h"
#include "host/EvAlertEx.h"
#include "support/alert_log.h"

namespace {

class Probe : public EvNDetector {
 public:
  void state(int alertType, int criteria, int alertStatus) {
    m_alertType = alertType;
    m_criteria = criteria;
    m_alertStatus = alertStatus;
  }
};

// Every id distinct, so the object id tells which argument was taken.
struct Ids {
  int library = 11, sparePool = 12, drive = 13, media = 14, mediaAgent = 15, mountPath = 16, client = 107,
      subClient = 108;
  long long job = 4294967561LL;
  int store = 19, ruleOrUser = 20, storagePolicy = 21, copy = 22;
};

struct Case {
  int alertType, criteria, alertStatus;
  const char* type;
  long long id;
};

std::string objectOf(Probe& p, const Ids& ids) {
  long long id = -99;
  const std::string type =
      p.GetSupressionObjTypeId(ids.library, ids.sparePool, ids.drive, ids.media, ids.mediaAgent, ids.mountPath,
                               ids.client, ids.subClient, id, ids.job, ids.store, ids.ruleOrUser, ids.storagePolicy,
                               ids.copy);
  return type + "/" + std::to_string(id);
}

// Each case on a fresh detector, and on one detector reused for all of them that was first asked about other
// ids: an object worked out once must not be handed out for another event state or other ids.
void expectCases(const std::vector<Case>& cases, const Ids& ids = Ids()) {
  Ids others = ids;
  for (int* v : {&others.library, &others.sparePool, &others.drive, &others.media, &others.mediaAgent,
                 &others.mountPath, &others.client, &others.subClient, &others.store, &others.ruleOrUser,
                 &others.storagePolicy, &others.copy})
    *v += 1000;
  others.job += 1000;
  Probe reused;
  for (const Case& c : cases) {
    const std::string expected = c.type + std::string("/") + std::to_string(c.id);
    Probe p;
    p.state(c.alertType, c.criteria, c.alertStatus);
    EXPECT_EQ(expected, objectOf(p, ids)) << "type " << c.alertType << " criteria " << c.criteria << " status "
                                          << c.alertStatus;
    reused.state(c.alertType, c.criteria, c.alertStatus);
    objectOf(reused, others);
    EXPECT_EQ(expected, objectOf(reused, ids)) << "reused, type " << c.alertType << " criteria " << c.criteria
                                               << " status " << c.alertStatus;
  }
}

// Criteria first, then the type, then criteria 18 and 77..79, then the old condition.
TEST(SuppressionObjectTest, OneCaseOfEachRule) {
  expectCases({
      {25, 20, 2001, "Library", 11},     {25, 43, 2001, "Client", 107},   {3, 45, 2001, "SubClient", 108},
      {3, 56, 2001, "Copy", 22},         {3, 73, 0, "JobViewForNTRule", 20}, {25, 94, 2001, "Job", 4294967561LL},
      {3, 107, 0, "ClientNSubClient", 459561500780LL},
      {25, 1, 0, "Client", 107},         {12, 18, -5, "Criteria", 18},    {12, 18, 3034, "Status", 3034},
      {13, 18, 1013, "", 0},             {13, 18, 2001, "Status|15", 2001}, {10, 78, -1, "Criteria|107", 78},
      {7, 1, 2001, "MediaAgent", 15},    {7, 1, 2020, "Drive", 13},       {7, 1, 3027, "MountPath", 16},
      {7, 1, 2004, "", 0},
  });
  EXPECT_TRUE(EvNDetector::IsValueIn(3, {1, 2, 3}));
  // A 64-bit value is compared whole, never cut to the int it ends in.
  EXPECT_FALSE(EvNDetector::IsValueIn(4294967297LL, {1}));
  EXPECT_FALSE(EvNDetector::IsOldConditionIn(4294970330LL, {3034}));
}

TEST(SuppressionObjectTest, FallbacksWhenAnIdIsMissing) {
  Ids ids;
  ids.subClient = 0;
  ids.copy = 0;
  ids.media = 0;
  ids.sparePool = 0;
  expectCases({{3, 48, 0, "Client", 107}, {3, 56, 0, "StoragePolicy", 21}, {7, 1, 2012, "Drive", 13},
               {7, 1, 3029, "Library", 11}},
              ids);
  ids.drive = 0;
  expectCases({{7, 1, 2012, "Library", 11}}, ids);
  ids.library = 0;
  expectCases({{7, 1, 2012, "", 0}, {7, 1, 2010, "Library", 0}}, ids);
}

class ValidationTest : public ::testing::Test {
 protected:
  // The entity validation found, "rejected" when it refused the event.
  std::string entityOf(int alertType, int criteria, int alertStatus, const EvAlertEx& alert) {
    Probe p;
    p.state(alertType, criteria, alertStatus);
    EvAlertEx copy = alert;
    copy.setAlertCriteria(criteria);
    return p.ValidateInputParameters(copy) ? p.getSuppressionEntity() : "rejected";
  }
  evd::test::AlertLogCapture log_;
};

// Only the fields whose path from the event to the object the rule cases and the real events of other
// suites leave untried; the ids stay distinct so a field passed in another's place shows.
TEST_F(ValidationTest, EachEventFieldReachesItsArgument) {
  EvAlertEx a;
  a.setSparePoolId(12);
  a.setDriveId(13);
  a.setMediaId(14);
  a.setMountPathId(16);
  a.setSubClientId(108);
  a.setOtherLibId(19);
  a.setAlertRule(20);
  a.setWhomId(23);
  a.setStorPolicyId(21);
  a.setJobId(1LL << 40);
  const std::vector<std::tuple<int, int, int, std::string>> cases = {
      {7, 1, 2007, "SparePool|12"},   {7, 1, 2003, "Drive|13"},         {7, 1, 2008, "Media|14"},
      {3, 1, 3027, "MountPath|16"},   {3, 45, 0, "SubClient|108"},      {3, 70, 0, "SIDBSubStore|19"},
      {70, 80, 0, "User|23"},         {71, 80, 0, "User|20"},           {3, 56, 0, "StoragePolicy|21"},
      {3, 94, 0, "Job|1099511627776"},
  };
  for (const auto& [type, criteria, status, entity] : cases)
    EXPECT_EQ(entity, entityOf(type, criteria, status, a)) << type << "/" << criteria << "/" << status;
  // An object without an id is rejected; an event naming no object is not.
  EXPECT_EQ("rejected", entityOf(7, 1, 2010, EvAlertEx()));
  EXPECT_EQ("", entityOf(10, 18, 1013, EvAlertEx()));
}

TEST_F(ValidationTest, IdsWiderThan32BitsAreRefusedNotCut) {
  struct Wide {
    void (EvAlertEx::*set)(int64_t);
    int alertType, criteria, status;
  };
  const std::vector<Wide> cases = {
      {&EvAlertEx::setClientId, 3, 43, 0},   {&EvAlertEx::setMediaId, 7, 1, 2008},
      {&EvAlertEx::setWhomId, 70, 80, 0},    {&EvAlertEx::setOtherLibId, 3, 70, 0},
      {&EvAlertEx::setStorPolicyId, 3, 56, 0},
  };
  for (const Wide& w : cases) {
    EvAlertEx a;
    (a.*w.set)(4294967403LL);  // 2^32 + 107
    EXPECT_EQ("rejected", entityOf(w.alertType, w.criteria, w.status, a)) << w.criteria;
    (a.*w.set)(2147483647LL);  // the widest that fits is taken as it is
    EXPECT_NE("rejected", entityOf(w.alertType, w.criteria, w.status, a)) << w.criteria;
  }
  // Old numbering is 32-bit too.
  EvAlertEx old;
  old.setAlert(4294969297LL);  // 2^32 + 2001
  old.setCondition(3010);
  EXPECT_EQ("rejected", entityOf(2001, 0, 3010, old));
}

}  // namespace
