// MediaAgent configuration alerts, alert type 13: conditions of a MediaAgent,
// of its disk space and of its deduplication stores.
//
// Like the client configuration alerts, an occurrence stays one per object
// while it is pending, its detail row being refreshed by every repeat. The
// object is the MediaAgent, except for the two criteria about one
// deduplication store (70, an entity alert, and 84, the store offline),
// whose occurrences are held back per store.
#include "detector/handler_pattern.h"

namespace {

constexpr int kStoreEntityCriteria = 70;
constexpr int kStoreLowDiskCriteria = 72;
constexpr int kStoreOfflineCriteria = 84;
constexpr const char* kShortLabel = "StoreMediaAgentConfig";
constexpr DetailUpsertNames kNames{kShortLabel, "client Config", "Client config", true, "client config"};

// App::SIDBLowDiskSpaceAlertAdditionalInfo: the texts stored, set or not.
constexpr MessageField kLowDiskFields[] = {
    {3, 7639064, ParamMaDetailField3, ParamKind::Text, false, 3},
    {4, 7482296, ParamStoragePolicyList, ParamKind::Text, false, 7},
    {5, 13446733, ParamMaDetailField5, ParamKind::Text, false, 11},
};
// The store's folder, its free space and threshold.
constexpr int kLowDiskFolder = 6, kLowDiskFolderSlot = 15;
constexpr uint32_t kLowDiskFolderKey = 14121126;
constexpr int kLowDiskFree = 19;
constexpr uint32_t kLowDiskFreeKey = 12783609;
constexpr int kLowDiskThreshold = 20;
constexpr uint32_t kLowDiskThresholdKey = 2090695;

// App::DDBOfflineAlertAdditionalInfo, every field stored.
constexpr MessageField kOfflineFields[] = {
    {1, 10691976, ParamDdbField1, ParamKind::Long, false},
    {2, 9947485, ParamDdbField2, ParamKind::Long, false},
    {3, 11739624, ParamDdbField3, ParamKind::Long, false},
    {4, 8568816, ParamDdbField4, ParamKind::Long, false},
    {5, 14121126, ParamDdbField5, ParamKind::Text, false, 5},
    {13, 349703, ParamDdbField13, ParamKind::Long, false},
};

// App::StickyAlertsEntity and the store entity it holds in field 1.
constexpr MessageField kEntityFields[] = {
    {18, 11554268, ParamDdbField3, ParamKind::Int, false},
    {17, 6332284, ParamDdbField4, ParamKind::Int, false},
    {4, 9971982, ParamDdbField5, ParamKind::Text, false, 10},
};
constexpr uint32_t kStoreEntityClass = 311168122;

// The store entity of an entity alert, made empty when the message has none.
CNMessageBase* storeEntity(App::StickyAlertsEntity& msg) {
  return msg.getObjectAccessor(true, true, 1, 1, App::StickyAlertsEntity::kClassKey, 10347491, 18, 46);
}
long long entityField(App::StickyAlertsEntity& msg, int field, uint32_t key) {
  const CNMessageBase* entity = storeEntity(msg);
  return entity ? entity->getint64(field, kStoreEntityClass, key) : 0;
}

// The object of a store alert: the store (the event's other-library id) on
// the MediaAgent's client and job.
EvSuppressionArgs storeObject(const EvAlertEx& alert) {
  return EvSuppressionArgs::fromEvent(alert).subClientId(0).storeId(static_cast<int>(alert.getOtherLibId()));
}
EvSuppressionArgs mediaAgentObject(const EvAlertEx& alert) {
  EvSuppressionArgs args;
  args.mediaAgent = static_cast<int>(alert.getMediaAgentId());
  return args;
}

}  // namespace

bool EvNDetector::StoreMediaAgentConfig(EvAlertEx& alert, int criteriaCleared) {
  HandlerCall call(*this, alert, "EvNDetector::StoreMediaAgentConfig");
  return call.guarded([&]() -> bool {
    const bool storeAlert = IsValueIn(m_criteria, {kStoreEntityCriteria, kStoreOfflineCriteria});
    const HandlerCall::Matched outcome = call.matchOrRecord(storeAlert ? storeObject(alert) : mediaAgentObject(alert));
    if (outcome == HandlerCall::Matched::Failed) return false;
    if (outcome == HandlerCall::Matched::ClearedNothing) return true;
    const bool repeat = outcome == HandlerCall::Matched::Repeat;
    if (!repeat) call.logNewAlert();

    // The audit operation and the comment are not the event's: a repeat
    // writes back what the row holds.
    if (!upsertDetail<NTDclntAgentMAConfig>(
            call, repeat, kNames,
            [&](NTDclntAgentMAConfig_t& row) {
              fillAgentColumns(row, alert);
              row.mediaAgentId = static_cast<int>(alert.getMediaAgentId());
              row.freeSpace = saturateToInt(alert.getFreeSpace(), "freeSpace");
              row.threshold = saturateToInt(alert.getThreshold(), "threshold");
            },
            [](NTDclntAgentMAConfig& t, const NTDclntAgentMAConfig_t& row) {
              return t.rowUpdate(
                  "clientId = %d, appTypeId = %d, instanceId = %d, backupSetId = %d, mediaAgentId=%d, "
                  "freeSpace = %d, threshold = %d, evGuiAuditOperation = %d, comment='%s'",
                  row.clientId, row.appTypeId, row.instanceId, row.backupSetId, row.mediaAgentId, row.freeSpace,
                  row.threshold, row.evGuiAuditOperation, row.comment);
            }))
      return false;

    ParamRows p = call.params();
    p.jobBasics(alert)
        .text(ParamComment, alert.getComment());
    if (!p.ok() || !populateNtClientAlertAdditionalInfo(m_eventId, call.store(), alert)) return false;
    if (criteriaCleared > 0 && !p.asInt(ParamCriteriaCleared, criteriaCleared).ok()) return false;

    if (m_criteria == kStoreLowDiskCriteria && !alert.getDescription().empty()) {
      DescriptionMessage<App::SIDBLowDiskSpaceAlertAdditionalInfo> info;
      info.read(alert.getDescription());
      if (!p.fromMessage(info, kLowDiskFields).ok()) return false;
      // The store's folder figures replace the event's lists; they reach the
      // caller's event only, the folder parameters being written already.
      alert.setFoldersList({info.text(kLowDiskFolder, kLowDiskFolderSlot, kLowDiskFolderKey)});
      alert.setFreeSpaceList({saturateToInt(info.int64(kLowDiskFree, kLowDiskFreeKey), "freeSpace")});
      alert.setThresholdsList({saturateToInt(info.int64(kLowDiskThreshold, kLowDiskThresholdKey), "threshold")});
    }

    if (m_criteria == kStoreOfflineCriteria) {
      // Without its message an offline store is recorded but not held back.
      if (!alert.getDescription().empty()) {
        DescriptionMessage<App::DDBOfflineAlertAdditionalInfo> info;
        info.read(alert.getDescription());
        if (!p.fromMessage(info, kOfflineFields).ok()) return false;
        if (!call.enableSuppression(storeObject(alert), kShortLabel)) return false;
      }
    } else if (m_criteria != kStoreEntityCriteria) {
      if (!call.enableSuppression(mediaAgentObject(alert))) return false;
    } else {
      DescriptionMessage<App::StickyAlertsEntity> entity;
      if (!entity.read(alert.getDescription()))
        call.log().Error(kShortLabel, "Error in unserializing DDB entity [%s]", alert.getDescription().c_str());
      // Whatever the message yields is stored, an unread one giving zeros.
      p.asInt(ParamDdbField1, entityField(entity.msg, 105, 10691976))
          .asInt(ParamDdbField2, entityField(entity.msg, 100, 4239216))
          .fromMessage(entity, kEntityFields);
      if (!p.ok()) return false;
      if (!call.enableSuppression(storeObject(alert), kShortLabel)) return false;
    }

    call.log().DebugLvl(call.label(), 8, "Alert insertered in to the database successfully. eventId [%d]", m_eventId);
    return repeat ? true : call.markDetected();
  });
}
