// Alerts about users (alert type 70: a change to a user, file-system quota
// alerts, quota alerts of a user's roaming drive) and user groups (71). The
// details come in a message of the server carried in the event's
// description.
//
// A quota alert of criteria 80 or 81 stays one occurrence per user while it
// is pending: a repeat refreshes the quota figures of its detail row and
// keeps the parameters it was raised with.
#include <cstdint>
#include <string>

#include "detector/handler_pattern.h"

namespace {

constexpr int kUserChanged = 16;
constexpr DetailUpsertNames kUserNames{"StoreUserConfig", "user Config", "user config"};

bool isFileSystemQuota(int criteria) { return criteria >= 98 && criteria <= 100; }
bool isMatchedQuota(int criteria) { return criteria == 80 || criteria == 81; }

// The audit operation of a change made by a job; -1 when no job made it.
int auditOperation(const EvAlertEx& alert) {
  return alert.getJobId() > 0 ? static_cast<int>(EvNDetector::JobIdLow(alert.getJobId())) : -1;
}

// The objects a pending quota alert is matched and suppressed by.
EvSuppressionArgs userObject(const EvAlertEx& alert) {
  return EvSuppressionArgs::fromEvent(alert).jobId(0).ruleOrUserId(static_cast<int>(alert.getWhomId()));
}

// The columns of a user row under CRITERIA. A description that does not read
// leaves the message empty, so its fields read as 0 and "". Columns a
// criteria does not name keep what the buffer holds: the initial value in a
// new row, the stored one in a repeat.
void fillUserRow(NTUserConfig_t& row, const EvAlertEx& alert, int criteria) {
  const std::string& description = alert.getDescription();
  if (criteria == kUserChanged) {
    using Msg = Api::UserAndUserGroupAlertInfo;
    using User = App::UserEntity;
    DescriptionMessage<Msg> info;
    info.read(description);
    const CNMessageBase* user = info.msg.getObjectAccessor(true, false, 1, 1, Msg::kClassKey, 3599307,
                                                           User::kTypeMajor, User::kTypeMinor);
    row.userId = user ? static_cast<int>(user->getint64(0, User::kClassKey, 2829894)) : 0;
    dbCopyText(row.userName, user ? user->getstring(2, 5, User::kClassKey, 1768694).c_str() : "");
    row.subClientId = 0;
    row.quotaLimit = row.spaceConsumed = row.objectSize = 0;
    row.evGuiAuditOperation = auditOperation(alert);
  } else if (isFileSystemQuota(criteria)) {
    DescriptionMessage<App::FileSystemQuotaAlert> quota;
    quota.read(description);
    row.userId = static_cast<int>(alert.getWhomId());
    row.quotaLimit = quota.int64(1, 9267235);
    row.spaceConsumed = quota.int64(2, 10842894);
    row.objectSize = quota.int64(3, 9846752);
    // The job is the one the quota alert names, not the event's.
    row.jobId = static_cast<int>(quota.int64(4, 633272));
    row.evGuiAuditOperation = 0;
  } else {
    using Msg = Api::RoamDriveQuotaAlert;
    using SubClient = App::SubClientEntity;
    DescriptionMessage<Msg> quota;
    quota.read(description);
    const CNMessageBase* subClient = quota.msg.getObjectAccessor(true, true, 1, 1, Msg::kClassKey, 8052174,
                                                                 SubClient::kTypeMajor, SubClient::kTypeMinor);
    row.userId = static_cast<int>(alert.getWhomId());
    row.subClientId = subClient ? static_cast<int>(subClient->getint64(0, SubClient::kClassKey, 10794118)) : 0;
    row.quotaLimit = quota.int64(2, 9267235);
    row.spaceConsumed = quota.int64(3, 10842894);
    row.objectSize = quota.int64(4, 9846752);
    row.evGuiAuditOperation = 0;
  }
}

// The parameters a user or user-group occurrence is raised with.
ParamRows& userParams(ParamRows& p, EvAlertEx& alert) {
  return p.asLong(ParamWhomId, alert.getWhomId())
      .msgParams(alert.getEventMsgList())
      .text(ParamComment, alert.getComment());
}

}  // namespace

bool EvNDetector::StoreUserConfig(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreUserConfig");
  return call.guarded([&]() -> bool {
    const int criteria = m_criteria;
    const bool matched = isMatchedQuota(criteria);
    const HandlerCall::Matched outcome = call.matchOrRecord(matched ? GetExistingEventIdEx(userObject(alert)) : 0);
    if (outcome == HandlerCall::Matched::Failed) return false;
    if (outcome == HandlerCall::Matched::ClearedNothing) return true;
    const bool repeat = outcome == HandlerCall::Matched::Repeat;
    if (!repeat) call.logNewAlert();

    bool inserted = false;
    if (!upsertDetail<NTUserConfig>(
            call, repeat, kUserNames, [&](NTUserConfig_t& row) { fillUserRow(row, alert, criteria); },
            [](NTUserConfig& t, const NTUserConfig_t& row) {
              // The user's id and name stay as the occurrence was raised.
              return t.rowUpdate(
                  "subClientId = %d, quotaLimit = %lld, spaceConsumed = %lld, objectSize = %lld, jobId = %d, "
                  "evGuiAuditOperation=%d",
                  row.subClientId, row.quotaLimit, row.spaceConsumed, row.objectSize, row.jobId,
                  row.evGuiAuditOperation);
            },
            &inserted))
      return false;

    // A repeat that refreshed its row keeps the parameters it was raised with.
    if (inserted) {
      ParamRows p = call.params();
      if (!userParams(p, alert).ok()) return false;
    }
    if (matched && !call.enableSuppression(userObject(alert))) return false;

    call.log().DebugLvl(call.label(), 8, "Alert Event[eventId [%d]] insertered in/updated to the database successfully.",
                        m_eventId);
    return repeat ? true : call.markDetected();
  });
}

bool EvNDetector::StoreUserGroupConfig(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreUserGroupConfig");
  return call.guarded([&]() -> bool {
    if (!call.insertDetectedAlert()) return false;
    const bool detail = call.insertDetail<NTUserGroupConfig>([&](NTUserGroupConfig_t& row) {
      using Msg = Api::UserAndUserGroupAlertInfo;
      using Group = App::UserGroupEntity;
      DescriptionMessage<Msg> info;
      info.read(alert.getDescription());
      const CNMessageBase* group = info.msg.getObjectAccessor(true, false, 2, 2, Msg::kClassKey, 15319412,
                                                              Group::kTypeMajor, Group::kTypeMinor);
      row.userGroupId = group ? static_cast<int>(group->getint64(0, Group::kClassKey, 8338863)) : 0;
      dbCopyText(row.userGroupName, group ? group->getstring(1, 1, Group::kClassKey, 11064863).c_str() : "");
      row.evGuiAuditOperation = auditOperation(alert);
    });
    if (!detail) return false;
    ParamRows p = call.params();
    if (!userParams(p, alert).ok()) return false;
    call.log().DebugLvl(call.label(), 8, "Alert Event[eventId [%d]] insertered into the database successfully.",
                        m_eventId);
    return call.markDetected();
  });
}
