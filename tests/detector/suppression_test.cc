#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detector/EvAlertDebug.h"
#include "detector/EvNDetector.h"
#include "host/EvAlertEx.h"
#include "host/NxLog.h"
#include "support/alert_log.h"

namespace {

// A detector whose per-event state the test sets directly.
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

struct Object {
  std::string type;
  long long id;
};

Object objectOf(int alertType, int criteria, int alertStatus, const Ids& i = Ids()) {
  Probe p;
  p.state(alertType, criteria, alertStatus);
  long long id = -99;
  std::string type = p.GetSupressionObjTypeId(i.library, i.sparePool, i.drive, i.media, i.mediaAgent, i.mountPath,
                                              i.client, i.subClient, id, i.job, i.store, i.ruleOrUser,
                                              i.storagePolicy, i.copy);
  return {type, id};
}

struct Case {
  int alertType, criteria, alertStatus;
  const char* type;
  long long id;
};

void expectCases(const std::vector<Case>& cases, const Ids& ids = Ids()) {
  for (const Case& c : cases) {
    const Object o = objectOf(c.alertType, c.criteria, c.alertStatus, ids);
    EXPECT_EQ(c.type, o.type) << "type " << c.alertType << " criteria " << c.criteria << " status " << c.alertStatus;
    EXPECT_EQ(c.id, o.id) << "type " << c.alertType << " criteria " << c.criteria << " status " << c.alertStatus;
  }
}

TEST(SuppressionObjectTest, CriteriaDecideFirst) {
  // Alert type 25 and alert status 2001 would give other objects: criteria win.
  expectCases({
      {25, 20, 2001, "Library", 11},
      {25, 43, 2001, "Client", 107},
      {3, 45, 2001, "SubClient", 108},
      {3, 48, 2001, "SubClient", 108},
      {3, 56, 2001, "Copy", 22},
      {3, 65, 2001, "ClientNSubClient", 107LL * 4294967296LL + 108},
      {3, 107, 0, "ClientNSubClient", 459561500780LL},
      {3, 70, 0, "SIDBSubStore", 19},
      {3, 84, 0, "SIDBSubStore", 19},
      {3, 73, 0, "JobViewForNTRule", 20},
      {3, 80, 0, "User", 20},
      {3, 81, 0, "User", 20},
      {25, 94, 2001, "Job", 4294967561LL},
  });
  Ids ids;
  ids.job = -5;
  expectCases({{3, 94, 0, "Job", -5}}, ids);
}

TEST(SuppressionObjectTest, SubclientOrClientAndCopyOrPolicy) {
  Ids ids;
  ids.subClient = 0;
  ids.copy = 0;
  expectCases({{3, 48, 0, "Client", 107}, {3, 56, 0, "StoragePolicy", 21}}, ids);
  ids.copy = -3;
  expectCases({{3, 56, 0, "StoragePolicy", 21}}, ids);
  ids.copy = 1;
  expectCases({{3, 56, 0, "Copy", 1}}, ids);
  ids.copy = 5;
  ids.storagePolicy = 12;
  expectCases({{3, 56, 0, "Copy", 5}}, ids);
}

TEST(SuppressionObjectTest, TypeAndStatusRules) {
  expectCases({
      // File replication alerts name their client whatever the criteria.
      {25, 1, 0, "Client", 107},
      {25, 18, 2001, "Client", 107},
      // Client/server configuration alerts under criteria 18.
      {12, 18, 0, "Criteria", 18},
      {12, 18, -5, "Criteria", 18},
      {12, 18, 1013, "Status", 1013},
      {12, 18, 3034, "Status", 3034},
      // Criteria 18 on statuses that are never held back.
      {10, 18, 0, "", 0},
      {13, 18, 1013, "", 0},
      // Criteria 18, 77..79: keyed by client, or by MediaAgent for type 13.
      {10, 18, 2001, "Status|107", 2001},
      {13, 18, 2001, "Status|15", 2001},
      {10, 77, 0, "Criteria|107", 77},
      {10, 78, -1, "Criteria|107", 78},
      {13, 79, 0, "Criteria|15", 79},
      {10, 79, 3038, "Status|107", 3038},
      {12, 77, 3033, "Status|107", 3033},
  });
}

TEST(SuppressionObjectTest, OldConditionRules) {
  expectCases({
      {7, 1, 2001, "MediaAgent", 15},
      {7, 1, 2002, "Library", 11},
      {7, 1, 2009, "Library", 11},
      {7, 1, 2011, "Library", 11},
      {7, 1, 2003, "Drive", 13},
      {7, 1, 2015, "Drive", 13},
      {7, 1, 2020, "Drive", 13},
      {7, 1, 2007, "SparePool", 12},
      {7, 1, 2008, "Media", 14},
      {7, 1, 2013, "Media", 14},
      {7, 1, 2010, "SparePool", 12},
      {7, 1, 3029, "SparePool", 12},
      {7, 1, 2012, "Media", 14},
      {7, 1, 3027, "MountPath", 16},
      // Neighbours of the listed statuses name nothing.
      {7, 1, 2000, "", 0},
      {7, 1, 2004, "", 0},
      {7, 1, 2014, "", 0},
      {7, 1, 3028, "", 0},
      {7, 1, 0, "", 0},
  });

  Ids ids;
  ids.sparePool = 0;
  expectCases({{7, 1, 2010, "Library", 11}, {7, 1, 3029, "Library", 11}}, ids);
  ids.sparePool = -4;
  expectCases({{7, 1, 2010, "Library", 11}}, ids);
  ids.library = 0;
  // The library named with id 0: an invalid object that validation rejects.
  expectCases({{7, 1, 2010, "Library", 0}}, ids);

  // 2012: media, else drive, else library, else nothing.
  Ids fall;
  fall.media = 0;
  expectCases({{7, 1, 2012, "Drive", 13}}, fall);
  fall.drive = 0;
  expectCases({{7, 1, 2012, "Library", 11}}, fall);
  fall.library = 0;
  expectCases({{7, 1, 2012, "", 0}}, fall);
}

TEST(SuppressionObjectTest, ValueListsEndAtMinusOne) {
  EvNDetector d;
  EXPECT_TRUE(d.IsValueIn(3, 1, 2, 3, -1));
  EXPECT_TRUE(d.IsValueIn(1, 1, -1));
  EXPECT_FALSE(d.IsValueIn(4, 1, 2, 3, -1));
  EXPECT_FALSE(d.IsValueIn(5, -1, 5));
  EXPECT_FALSE(d.IsValueIn(-1, 2, -1));
  EXPECT_FALSE(d.IsValueIn(0, -1));
  EXPECT_TRUE(d.IsOldConditionIn(3034, 3032, 3033, 3034, -1));
  EXPECT_FALSE(d.IsOldConditionIn(3035, 3032, 3033, 3034, -1, 3035));
  EXPECT_FALSE(d.IsOldConditionIn(-1, -1));
}

// ---- validation of the suppression object ----

class ValidationTest : public ::testing::Test {
 protected:
  bool validate(int alertType, int criteria, int alertStatus, const EvAlertEx& alert) {
    Probe p;
    p.state(alertType, criteria, alertStatus);
    EvAlertEx copy = alert;
    return p.ValidateInputParameters(copy);
  }

  evd::test::AlertLogCapture log_;
};

TEST_F(ValidationTest, ObjectWithoutIdIsRejected) {
  EvAlertEx alert;
  EXPECT_FALSE(validate(7, 1, 2010, alert));
  EXPECT_EQ(1, log_.count("DEBUG3 EvNDetector::ValidateInputParameters: Invalid Supression Parameter, objType = "
                     "<Library>, objId = <0>"));
  EXPECT_EQ(1, log_.count("DEBUG3 EvNDetector::ValidateInputParameters: Alert Info: [0].[7].[1].<0>.<2010>"));

  alert.setLibraryId(3);
  EXPECT_TRUE(validate(7, 1, 2010, alert));
  // No object at all is valid.
  EXPECT_TRUE(validate(7, 1, 0, EvAlertEx()));
  EXPECT_TRUE(validate(12, 18, 1013, EvAlertEx()));
  EXPECT_EQ(1, log_.count("Invalid Supression Parameter"));
}

TEST_F(ValidationTest, EventFieldsReachTheirArguments) {
  EvAlertEx a;
  a.setMediaAgentId(15);
  EXPECT_TRUE(validate(7, 1, 2001, a));
  a.setOtherLibId(19);
  EXPECT_TRUE(validate(3, 70, 0, a));  // the other library is the store
  a.setStorPolicyId(21);
  EXPECT_TRUE(validate(3, 56, 0, a));
  a.setCopyId(22);
  EXPECT_TRUE(validate(3, 56, 0, a));
  a.setJobId(1LL << 40);
  EXPECT_TRUE(validate(3, 94, 0, a));
  a.setMountPathId(16);
  EXPECT_TRUE(validate(3, 1, 3027, a));

  EvAlertEx empty;
  EXPECT_FALSE(validate(3, 70, 0, empty));
  EXPECT_FALSE(validate(3, 56, 0, empty));
  EXPECT_FALSE(validate(3, 94, 0, empty));
  EXPECT_FALSE(validate(3, 1, 3027, empty));
  EXPECT_FALSE(validate(7, 1, 2001, empty));
}

TEST_F(ValidationTest, UserAlertsNameTheirUserOthersTheirRule) {
  EvAlertEx a;
  a.setAlertRule(5);
  EXPECT_FALSE(validate(70, 80, 0, a));
  EXPECT_TRUE(validate(71, 80, 0, a));
  EXPECT_TRUE(validate(3, 73, 0, a));
  a.setWhomId(9);
  a.setAlertRule(0);
  EXPECT_TRUE(validate(70, 81, 0, a));
  EXPECT_FALSE(validate(71, 81, 0, a));
}

}  // namespace
