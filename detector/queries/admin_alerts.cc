// Administrative alerts (alert type 75): conditions the server raises about
// itself. The occurrence is recorded like any other; the criteria decide
// which parameters the notification text gets: counters from the event,
// fields of the attached detail message, or the summary of the server
// events of the last full hour that the server marked as anomalous.
#include <string>
#include <vector>

#include "Db/AllBindings.h"
#include "detector/EvNDetector.h"
#include "detector/handler_pattern.h"
#include "detector/suppression_args.h"
#include "host/EvAlertDebug.h"
#include "host/EvAlertEx.h"
#include "host/EvEvent.h"
#include "host/messages/message_classes.h"

namespace {

constexpr const char* kHandler = "StoreAdminAlertDataForAlert";
constexpr long long kHour = 3600;

using Detail = App::NtAdminAlertAdditionalInfo::Fields;
using Details = App::NtAdminAlertDetails::Fields;
using Entry = App::NtAdminAlertEntry::Fields;
using ResultRow = App::ExternalQueryResult::Fields;

// The serialised objects of an object list (entries that do not serialise
// are left out rather than stored half-written).
std::vector<std::string> serialisedObjects(const CNMessageList* list) {
  std::vector<std::string> out;
  if (list == nullptr) return out;
  for (const auto& item : *list) {
    std::string text;
    if (item && item->serialize(text) == 0) out.push_back(std::move(text));
  }
  return out;
}

// A list of detail entries as rows of (text, value in decimal), one
// serialised result message per entry.
std::vector<std::string> entryRows(const CNMessageList* list) {
  std::vector<std::string> out;
  if (list == nullptr) return out;
  for (const auto& item : *list) {
    if (!item) continue;
    App::ExternalQueryResult row;
    if (row.setstringlist(ResultRow::values.number, {item->getstring(Entry::text.number),
                                                     std::to_string(item->getint64(Entry::value.number))}) != 0)
      continue;
    std::string text;
    if (row.serialize(text) == 0) out.push_back(std::move(text));
  }
  return out;
}

// Report name and the attached detail objects (criteria 101 and 104). A
// detail message stores its report name even when it has none (empty).
bool addReportDetails(ParamRows& p, const App::NtAdminAlertAdditionalInfo* info) {
  if (info == nullptr) return true;
  p.text(ParamReportName, info->getstring(Detail::reportName.number));
  if (const CNMessageList* objects = info->getlistobject(Detail::detailObjects.number))
    p.texts(ParamAuxCopyDetailField3, serialisedObjects(objects));
  return p.ok();
}

// The detail object (criteria 105). With a detail message its four counts
// are stored whether set or not (0 when unset, or when the object is
// missing); the entry lists add a row per entry.
void addRepeatDetails(ParamRows& p, const App::NtAdminAlertAdditionalInfo* info, const std::string& mediaAgent) {
  const CNMessageBase* details = info ? info->getObjectAccessor(Detail::details.number) : nullptr;
  const auto count = [&](const CNFieldDef& f) { return details ? details->getint64(f.number) : 0; };
  const auto entries = [&](const CNFieldDef& f) { return entryRows(details ? details->getlistobject(f.number) : nullptr); };
  if (info) {
    p.ignored().as64(ParamRepeatJobCount, count(Details::repeatJobCount))
        .ignored().as64(ParamAdminDetailField3, count(Details::field3))
        .ignored().as64(ParamAdminDetailField6, count(Details::field6));
  }
  p.ignored().text(ParamFailedMediaList, mediaAgent);
  if (info) p.ignored().as64(ParamAdminDetailField8, count(Details::field8));
  if (!details) return;
  p.ignored().texts(ParamAdminDetailList4, entries(Details::list4))
      .ignored().texts(ParamAdminDetailList5, entries(Details::list5))
      .ignored().texts(ParamFailureReason, entries(Details::list7));
}

}  // namespace

bool EvNDetector::StoreAdminAlertDataForAlert(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreAdminAlertDataForAlert");
  return call.guarded([&]() -> bool {
    EvSuppressionArgs lookup;
    lookup.client = static_cast<int>(alert.getClientId());
    lookup.subClient = static_cast<int>(EvNDetector::JobIdLow(alert.getSubClientId()));
    lookup.job = alert.getJobId();
    int newId = GetExistingEventIdEx(lookup);

    DescriptionMessage<App::NtAdminAlertAdditionalInfo> detail;
    const bool haveDetail = detail.read(alert.getDescription());
    if (!alert.getDescription().empty() && !haveDetail)
      call.log().Error(call.label(), "ErrorCode [%d] returned from unserialize.", detail.result);
    const App::NtAdminAlertAdditionalInfo* info = haveDetail ? &detail.msg : nullptr;

    if (!SetDetectedAlert(newId, alert.IsConditionCleared(), 0)) return false;
    if (newId == 0 && m_eventId == 0) return true;

    // A repeat (newId 0) refreshes the pending occurrence's times only; the
    // parameters of these criteria describe the occurrence as first seen and
    // are not written twice (docs/events.md).
    const bool isNew = newId > 0;
    ParamRows p = call.params();
    switch (m_criteria) {
      case 93:
        if (isNew) StoreAdminAlertForEvents(newId);
        break;
      case 94: {
        EvSuppressionArgs job;
        job.job = alert.getJobId();
        if (!call.enableSuppression(job, kHandler)) return false;
        break;
      }
      case 95:
      case 96:
        if (isNew &&
            !p.asLong(ParamNumberOfItems, alert.getFailedCount()).as64(ParamThreshold, alert.getThreshold()).ok())
          return false;
        break;
      case 101:
      case 104:
        if (!isNew) break;
        if (m_criteria == 101 && !p.asInt(ParamClientName, alert.getClientId()).ok()) return false;
        if (!addReportDetails(p, info)) return false;
        if (!p.text(ParamComment, alert.getComment()).ok()) return false;
        break;
      case 102:
        if (isNew && !p.asLong(ParamNumberOfItems, alert.getProtectedCount()).ok()) return false;
        break;
      case 105:
        if (isNew) addRepeatDetails(p, info, alert.getMediaAgentName());
        break;
      case 107: {
        p.upsert().ignored().text(ParamClientName, alert.getClientName());
        p.upsert().ignored().asInt(ParamClientId, alert.getClientId());
        p.upsert().ignored().text(ParamSubclientName, alert.getSubClientName());
        p.upsert().ignored().as64(ParamSubclientId, alert.getSubClientId());
        p.upsert().ignored().text(ParamFailureReason, alert.getFailureReason());
        p.upsert().ignored().text(ParamAppTypeName, alert.getAppTypeName());
        p.upsert().ignored().asInt(ParamAppTypeId, alert.getappTypeId());
        EvSuppressionArgs clientAndSubclient;
        clientAndSubclient.client = static_cast<int>(alert.getClientId());
        clientAndSubclient.subClient = static_cast<int>(alert.getSubClientId());
        if (!call.enableSuppression(clientAndSubclient, kHandler)) return false;
        break;
      }
      default:
        break;
    }
    return isNew ? SetStatus_Detected(newId) : true;
  });
}

bool EvNDetector::StoreAdminAlertForEvents(int eventId) {
  EvAlertDebug log;
  const char* label = "EvNDetector::StoreAdminAlertForEvents";
  // Parameters under no occurrence would belong to nobody.
  if (eventId <= 0) return true;
  const long long hourStart = EvAlertDebug::now() / kHour * kHour;
  const long long from = hourStart - kHour;

  EvEvent texts;
  char above[512] = {}, below[512] = {}, other[512] = {};
  texts.evPrintf(EvMsg::kAnomalyAboveUsual, above, sizeof above, m_serverEventSelector);
  texts.evPrintf(EvMsg::kAnomalyBelowUsual, below, sizeof below, m_serverEventSelector);
  texts.evPrintf(EvMsg::kAnomalyOther, other, sizeof other, m_serverEventSelector);

  AppGetCentrixEvents events(nullptr);
  events.setValues(1, static_cast<int>(EvNDetector::JobIdLow(m_serverEventSelector)), 0, from, hourStart, 1, 1, 1,
                   1, -1, -1, 0, std::string(), 0, 1);
  log.DebugLvl(label, 5, "AppGetCentrixEvents called with input %d %d", static_cast<int>(from),
               static_cast<int>(hourStart));

  EvNDetectParams params(nullptr);
  int counter = 0;
  int rc;
  while ((rc = events.getNextRow(&counter)) == 0 || rc == DB_SUCCESS_TRUNCATED) {
    AppGetCentrixEvents_t& row = *events.getDataPtr();
    DB_DATETIME when;
    UlongTimeToDbDatetime(DbDatetimeToUlongUTCTime(row.eventTime), when, false);
    const char* anomaly = row.anomaly == 1 ? above : row.anomaly == 2 ? below : other;
    App::ExternalQueryResult summary;
    summary.setstringlist(ResultRow::values.number, {GetClientLink(row.outClientId, row.clientName, 0), when.toString(false),
                              row.description, std::to_string(row.occurance), anomaly});
    params.AddParam(eventId, ParamDescription, row.description);
    std::string text;
    if (summary.serialize(text) == 0) params.AddParam(eventId, ParamAnomalousEvents, text.c_str());
  }
  events.closeCursor();
  if (rc != DB_NO_DATA) log.Error(label, "Error[%d] in getting anomalous events", rc);
  return true;
}
