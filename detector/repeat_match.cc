// Repeated-alert matching: finding the pending occurrence of the same alert
// on the same object, and marking a new occurrence with its object so that
// later events find it.
#include <stdexcept>
#include <string>

#include "Db/AllBindings.h"
#include "Db/Database.h"
#include "host/EvAlertDebug.h"
#include "detector/EvNDetector.h"

namespace {

std::string entityIdOf(const std::string& objType, long long objId) {
  return objType + "|" + std::to_string(objId);
}

}  // namespace

int EvNDetector::GetExistingEventIdEx(const EvSuppressionArgs& args) {
  EvAlertDebug log;
  const char* label = "GetExistingEventIdEx";
  long long objId = 0;
  const std::string objType = GetSupressionObjTypeId(args, objId);
  // Without an object there is nothing to be a repeat of.
  if (objType.empty() || objId == 0) return 0;
  const std::string entity = entityIdOf(objType, objId);

  // Another detector on the same database must not record the same
  // occurrence between this look-up and the write that follows it: both
  // happen under the match key, held until the event's transaction ends.
  const std::string key = "evd-match|" + std::to_string(m_category) + "|" + std::to_string(m_alertType) + "|" +
                          std::to_string(m_criteria) + "|" + std::to_string(m_alertStatus) + "|" + entity;
  int lockRc = 0;
  switch (Db::lockKey(key, true, &lockRc)) {
    case Db::KeyLock::Held: break;
    case Db::KeyLock::Busy:
      // Another detector holds the key while this event's group holds
      // others: the batch rolls the event back, commits the group and runs
      // the event again; what it does until then is undone.
      return 0;
    case Db::KeyLock::Failed:
      log.Error(label, "ErrorCode [%d] in locking the match key [%s]", lockRc, key.c_str());
      throw std::runtime_error("the match key of a pending occurrence could not be locked");
  }

  // Matches a row in any pending state (processStat & 0x43) with the same
  // category, alert type, criteria, old condition and entity id.
  NTGetExistingEventIdEx query(nullptr);
  query.setIsolationType(4);
  query.setValues(m_category, m_alertType, m_criteria, m_alertStatus, entity);
  const int rc = query.getOneRow();
  if (rc == DB_NO_DATA) return 0;
  if (!DBrowRead(rc)) {
    log.Error(label, "ErrorCode [%d] in checking for existing eventId", rc);
    // Taken for "nothing pending", the error would record a second pending
    // occurrence of the same alert and call the event handled: the event
    // fails instead, before anything more of it is written.
    throw std::runtime_error("the look-up of a pending occurrence failed: " + std::string(query.getErrorStr(rc)));
  }
  const int eventId = query.getDataPtr()->rcCode;
  if (eventId == 0) return 0;
  setEventId(eventId);
  log.DebugLvl(label, 8, "Alert event[eventId [%d]] already exists for this paramters.", eventId);
  return eventId;
}

bool EvNDetector::EnableSupression(int eventId, const EvSuppressionArgs& args) {
  EvAlertDebug log;
  const char* label = "EnableSupression";
  long long objId = 0;
  const std::string objType = GetSupressionObjTypeId(args, objId);
  if (objType.empty() || objId == 0) return true;

  EvNDetectParams params(nullptr);
  if (!params.AddOrUpdateParam(eventId, ParamSuppressionObjectType, objType.c_str())) return false;
  if (!params.AddOrUpdateParam(eventId, ParamSuppressionObjectId, objId)) return false;

  m_entityId = entityIdOf(objType, objId);
  NTDetectedAlerts table(nullptr);
  table.setWhere("eventId = %d", eventId);
  // The quoted literal is bound as one value, so quotes in the entity id
  // are stored as they are. No row updated (100) means the occurrence to
  // mark does not exist: that is a failure, not a success.
  const int rc = table.rowUpdate("entityId = N'%s'", m_entityId.c_str());
  if (rc != 0) {
    log.Error(label, "Error Updating table [%s] , ErrorString [%s]", table.getTableName(), table.getErrorStr(rc));
    return false;
  }
  return true;
}
