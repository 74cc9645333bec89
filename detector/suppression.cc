// The suppression object: the managed object an occurrence is about, so that
// a repeat on the same object updates the pending occurrence instead of
// raising a new notification.
#include <cstdio>
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
  switch (criteria) {
    case 20:
      objId = id(kLibrary);
      return "Library";
    case 43:
      objId = id(kClient);
      return "Client";
    case 45:
      objId = id(kSubClient);
      return "SubClient";
    case 48:
      if (id(kSubClient) != 0) {
        objId = id(kSubClient);
        return "SubClient";
      }
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
    case 70:
    case 84:
      objId = id(kStore);
      return "SIDBSubStore";
    case 73:
      objId = id(kRuleOrUser);
      return "JobViewForNTRule";
    case 80:
    case 81:
      objId = id(kRuleOrUser);
      return "User";
    case 94:
      objId = id(kJob);
      return "Job";
    default:
      break;
  }

  if (alertType == 25) {
    objId = id(kClient);
    return "Client";
  }

  if (alertType == 12 && criteria == 18) {
    if (alertStatus < 1) {
      objId = 18;
      return "Criteria";
    }
    objId = alertStatus;
    return "Status";
  }

  // Conditions that must never be held back as repeats.
  if (criteria == 18 && (alertStatus == 0 || alertStatus == 1013)) return std::string();

  if (EvNDetector::IsValueIn(criteria, {18, 77, 78, 79})) {
    const int key = static_cast<int>(alertType == 13 ? id(kMediaAgent) : id(kClient));
    if (alertStatus < 1) {
      objId = criteria;
      return keyed("Criteria", key);
    }
    objId = alertStatus;
    return keyed("Status", key);
  }

  switch (alertStatus) {
    case 2001:
      objId = id(kMediaAgent);
      return "MediaAgent";
    case 2002:
    case 2009:
    case 2011:
      objId = id(kLibrary);
      return "Library";
    case 2003:
    case 2015:
    case 2020:
      objId = id(kDrive);
      return "Drive";
    case 2007:
      objId = id(kSparePool);
      return "SparePool";
    case 2008:
    case 2013:
      objId = id(kMedia);
      return "Media";
    case 2010:
    case 3029:
      if (id(kSparePool) > 0) {
        objId = id(kSparePool);
        return "SparePool";
      }
      objId = id(kLibrary);
      return "Library";
    case 2012:
      if (id(kMedia) != 0) {
        objId = id(kMedia);
        return "Media";
      }
      if (id(kDrive) != 0) {
        objId = id(kDrive);
        return "Drive";
      }
      if (id(kLibrary) != 0) {
        objId = id(kLibrary);
        return "Library";
      }
      return std::string();
    case 3027:
      objId = id(kMountPath);
      return "MountPath";
    default:
      return std::string();
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
