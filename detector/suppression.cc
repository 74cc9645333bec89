// The suppression object: the managed object an occurrence is about, so that
// a repeat on the same object updates the pending occurrence instead of
// raising a new notification.
#include <cstdio>
#include <string>

#include "detector/EvNDetector.h"

namespace {

// "Criteria|107", "Status|107": a type text that carries the client (or
// MediaAgent) it belongs to, so that equal statuses on different machines
// stay apart.
std::string keyed(const char* kind, int key) {
  char text[64];
  std::snprintf(text, sizeof text, "%s|%d", kind, key);
  return text;
}

}  // namespace

std::string EvNDetector::GetSupressionObjTypeId(int library, int sparePool, int drive, int media, int mediaAgent,
                                                int mountPath, int client, int subClient, long long& objId,
                                                long long jobId, int store, int ruleOrUser, int storagePolicy,
                                                int copy) {
  objId = 0;
  try {
    switch (m_criteria) {
      case 20:
        objId = library;
        return "Library";
      case 43:
        objId = client;
        return "Client";
      case 45:
        objId = subClient;
        return "SubClient";
      case 48:
        if (subClient != 0) {
          objId = subClient;
          return "SubClient";
        }
        objId = client;
        return "Client";
      case 56:
        if (copy < 1) {
          objId = storagePolicy;
          return "StoragePolicy";
        }
        objId = copy;
        return "Copy";
      case 65:
      case 107:
        objId = ConcJobId(static_cast<unsigned long>(client), static_cast<unsigned long>(subClient));
        return "ClientNSubClient";
      case 70:
      case 84:
        objId = store;
        return "SIDBSubStore";
      case 73:
        objId = ruleOrUser;
        return "JobViewForNTRule";
      case 80:
      case 81:
        objId = ruleOrUser;
        return "User";
      case 94:
        objId = jobId;
        return "Job";
      default:
        break;
    }

    if (m_alertType == 25) {
      objId = client;
      return "Client";
    }

    if (m_alertType == 12 && m_criteria == 18) {
      if (m_alertStatus < 1) {
        objId = 18;
        return "Criteria";
      }
      objId = m_alertStatus;
      return "Status";
    }

    // Conditions that must never be held back as repeats.
    if (m_criteria == 18 && (m_alertStatus == 0 || m_alertStatus == 1013)) return std::string();

    if (IsValueIn(m_criteria, {18, 77, 78, 79})) {
      const int key = m_alertType == 13 ? mediaAgent : client;
      if (m_alertStatus < 1) {
        objId = m_criteria;
        return keyed("Criteria", key);
      }
      objId = m_alertStatus;
      return keyed("Status", key);
    }

    switch (m_alertStatus) {
      case 2001:
        objId = mediaAgent;
        return "MediaAgent";
      case 2002:
      case 2009:
      case 2011:
        objId = library;
        return "Library";
      case 2003:
      case 2015:
      case 2020:
        objId = drive;
        return "Drive";
      case 2007:
        objId = sparePool;
        return "SparePool";
      case 2008:
      case 2013:
        objId = media;
        return "Media";
      case 2010:
      case 3029:
        if (sparePool > 0) {
          objId = sparePool;
          return "SparePool";
        }
        objId = library;
        return "Library";
      case 2012:
        if (media != 0) {
          objId = media;
          return "Media";
        }
        if (drive != 0) {
          objId = drive;
          return "Drive";
        }
        if (library != 0) {
          objId = library;
          return "Library";
        }
        return std::string();
      case 3027:
        objId = mountPath;
        return "MountPath";
      default:
        return std::string();
    }
  } catch (...) {
    // Without memory for the text the occurrence simply is not suppressed.
    objId = 0;
    return std::string();
  }
}

bool EvNDetector::IsValueIn(long long value, std::initializer_list<int> values) {
  for (int v : values)
    if (v == value) return true;
  return false;
}

bool EvNDetector::IsOldConditionIn(long long value, std::initializer_list<int> values) {
  return IsValueIn(value, values);
}
