// The suppression object: the managed object an occurrence is about, so that
// a repeat on the same object updates the pending occurrence instead of
// raising a new notification.
#include <cstddef>
#include <cstdio>
#include <initializer_list>
#include <string>

#include "detector/EvNDetector.h"
#include "detector/suppression_args.h"

namespace {

// "Criteria|107", "Status|107": a type text that carries the client (or
// MediaAgent) it belongs to, so that equal statuses on different machines
// stay apart.
std::string keyed(const char* kind, int key) {
  char text[64];
  std::snprintf(text, sizeof text, "%s|%d", kind, key);
  return text;
}

// The ids of EvSuppressionArgs, in declaration order.
enum Id { kLibrary, kSparePool, kDrive, kMedia, kMediaAgent, kMountPath, kClient, kSubClient, kJob, kStore,
          kRuleOrUser, kStoragePolicy, kCopy };

long long idOf(const EvSuppressionArgs& a, Id which) {
  switch (which) {
    case kLibrary: return a.library;
    case kSparePool: return a.sparePool;
    case kDrive: return a.drive;
    case kMedia: return a.media;
    case kMediaAgent: return a.mediaAgent;
    case kMountPath: return a.mountPath;
    case kClient: return a.client;
    case kSubClient: return a.subClient;
    case kJob: return a.job;
    case kStore: return a.store;
    case kRuleOrUser: return a.ruleOrUser;
    case kStoragePolicy: return a.storagePolicy;
    case kCopy: return a.copy;
  }
  return 0;
}

// True when A and B agree on every id of the READ mask.
bool sameIds(const EvSuppressionArgs& a, const EvSuppressionArgs& b, unsigned read) {
  for (int i = kLibrary; i <= kCopy; ++i)
    if ((read & (1u << i)) != 0 && idOf(a, static_cast<Id>(i)) != idOf(b, static_cast<Id>(i))) return false;
  return true;
}

// The objects named by the criteria alone, then by the old condition alone.
struct Named {
  int key;
  const char* type;
  Id id;
};
constexpr Named kByCriteria[] = {
    {20, "Library", kLibrary},        {43, "Client", kClient},        {45, "SubClient", kSubClient},
    {70, "SIDBSubStore", kStore},     {84, "SIDBSubStore", kStore},   {73, "JobViewForNTRule", kRuleOrUser},
    {80, "User", kRuleOrUser},        {81, "User", kRuleOrUser},      {94, "Job", kJob},
};
constexpr Named kByCondition[] = {
    {2001, "MediaAgent", kMediaAgent}, {2002, "Library", kLibrary}, {2009, "Library", kLibrary},
    {2011, "Library", kLibrary},       {2003, "Drive", kDrive},     {2015, "Drive", kDrive},
    {2020, "Drive", kDrive},           {2007, "SparePool", kSparePool}, {2008, "Media", kMedia},
    {2013, "Media", kMedia},           {3027, "MountPath", kMountPath},
};

template <std::size_t N>
const Named* findNamed(const Named (&table)[N], int key) {
  for (const Named& n : table)
    if (n.key == key) return &n;
  return nullptr;
}

// The object type of an event of CRITERIA, ALERTTYPE and old condition
// ALERTSTATUS, and in OBJID its id taken from ARGS; *READ collects the ids
// looked at, so that the answer can be reused for arguments that agree on
// those.
std::string objectOf(int criteria, int alertType, int alertStatus, const EvSuppressionArgs& args, long long& objId,
                     unsigned* read) {
  const auto id = [&](Id which) {
    *read |= 1u << which;
    return idOf(args, which);
  };
  objId = 0;
  if (const Named* n = findNamed(kByCriteria, criteria)) {
    objId = id(n->id);
    return n->type;
  }
  switch (criteria) {
    case 48:
      objId = id(kSubClient);
      if (objId != 0) return "SubClient";
      objId = id(kClient);
      return "Client";
    case 56:
      if (id(kCopy) < 1) {
        objId = id(kStoragePolicy);
        return "StoragePolicy";
      }
      objId = id(kCopy);
      return "Copy";
    case 65:
    case 107:
      objId = EvNDetector::ConcJobId(static_cast<unsigned long>(id(kClient)),
                                     static_cast<unsigned long>(id(kSubClient)));
      return "ClientNSubClient";
    default: break;
  }

  if (alertType == 25) {
    objId = id(kClient);
    return "Client";
  }
  if (alertType == 12 && criteria == 18) {
    objId = alertStatus < 1 ? 18 : alertStatus;
    return alertStatus < 1 ? "Criteria" : "Status";
  }
  // Conditions that must never be held back as repeats.
  if (criteria == 18 && (alertStatus == 0 || alertStatus == 1013)) return std::string();
  if (EvNDetector::IsValueIn(criteria, {18, 77, 78, 79})) {
    const int key = static_cast<int>(alertType == 13 ? id(kMediaAgent) : id(kClient));
    objId = alertStatus < 1 ? criteria : alertStatus;
    return keyed(alertStatus < 1 ? "Criteria" : "Status", key);
  }

  if (const Named* n = findNamed(kByCondition, alertStatus)) {
    objId = id(n->id);
    return n->type;
  }
  switch (alertStatus) {
    case 2010:
    case 3029:
      if (id(kSparePool) > 0) {
        objId = id(kSparePool);
        return "SparePool";
      }
      objId = id(kLibrary);
      return "Library";
    case 2012:
      // The most specific object the event names.
      for (const Named& n :
           {Named{2012, "Media", kMedia}, Named{2012, "Drive", kDrive}, Named{2012, "Library", kLibrary}}) {
        objId = id(n.id);
        if (objId != 0) return n.type;
      }
      return std::string();
    default: return std::string();
  }
}

}  // namespace

std::string EvNDetector::GetSupressionObjTypeId(const EvSuppressionArgs& args, long long& objId) {
  SuppressionObject& memo = m_suppressionObject;
  if (!memo.known || memo.criteria != m_criteria || memo.alertType != m_alertType ||
      memo.alertStatus != m_alertStatus || !sameIds(memo.args, args, memo.idsRead)) {
    memo.known = false;
    memo.idsRead = 0;
    memo.type = objectOf(m_criteria, m_alertType, m_alertStatus, args, memo.id, &memo.idsRead);
    memo.criteria = m_criteria;
    memo.alertType = m_alertType;
    memo.alertStatus = m_alertStatus;
    memo.args = args;
    memo.known = true;
  }
  objId = memo.id;
  return memo.type;
}

bool EvNDetector::IsValueIn(long long value, std::initializer_list<int> values) {
  for (int v : values)
    if (v == value) return true;
  return false;
}

bool EvNDetector::IsOldConditionIn(long long value, std::initializer_list<int> values) {
  return IsValueIn(value, values);
}
