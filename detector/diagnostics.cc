// Per-event trace into the database, date-time conversions and the 64-bit
// job id halves the tables store.
#include <cstring>
#include <ctime>

#include "Db/AllBindings.h"
#include "host/EvAlertDebug.h"
#include "detector/EvNDetector.h"
#include "host/EvAlertEx.h"
#include "host/NxTime.h"

void EvNDetector::Trace(int eventId, EvAlertEx& alert) {
  // Asked on every event (once per group of events committed together), so
  // tracing can be switched on while the service runs.
  if (!traceOn()) return;

  EvAlertDebug log;
  const char* const label = "EvNDetector::Trace";
  const long long jobId = alert.getJobId();
  // The procedure takes 32-bit values; wider ids are cut as the columns cut them.
  NTDAlertTrace trace(nullptr);
  int rc = trace.CallDBsprintfWrapper(
      "%d,%d,%d,%d,%d,'%s',%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d", eventId, m_criteria, m_alertType,
      static_cast<int>(alert.getAlert()), static_cast<int>(alert.getCondition()),
      alert.IsConditionCleared() ? "yes" : "no", static_cast<int>(alert.getClientId()),
      static_cast<int>(alert.getLibraryId()), alert.getSparePoolId(), alert.getDriveId(),
      static_cast<int>(alert.getMediaId()), static_cast<int>(alert.getMediaAgentId()), alert.getMountPathId(),
      static_cast<int>(JobIdLow(jobId)), static_cast<int>(JobIdHigh(jobId)), alert.getTaskId(),
      alert.getSchedPolicyId(), static_cast<int>(alert.getStorPolicyId()), static_cast<int>(alert.getCopyId()));
  if (rc == 0) rc = trace.getOneRow();
  if (!DBrowRead(rc)) {
    log.DebugLvl(label, 3, "Proc NTDAlertTrace failed. Database_error [%d]: %s", rc, trace.getErrorStr(rc));
    return;
  }
  if (trace.getDataPtr()->retVal != 0)
    log.DebugLvl(label, 3, "NTDAlertTrace returned errorcode [%d]", trace.getDataPtr()->retVal);
}

void EvNDetector::UlongTimeToDbDatetime(long time, DB_DATETIME& dt, bool utc) {
  dt.clear();
  if (time == 0) return;
  const time_t t = static_cast<time_t>(time);
  struct tm parts;
  std::memset(&parts, 0, sizeof parts);
  const struct tm* broken = utc ? NX_gmtime(&t, &parts) : NX_localtime(&t, &parts);
  if (broken == nullptr) return;
  dt.year = static_cast<int16_t>(parts.tm_year + 1900);
  dt.month = static_cast<uint16_t>(parts.tm_mon + 1);
  dt.day = static_cast<uint16_t>(parts.tm_mday);
  dt.hour = static_cast<uint16_t>(parts.tm_hour);
  dt.minute = static_cast<uint16_t>(parts.tm_min);
  dt.second = static_cast<uint16_t>(parts.tm_sec);
  dt.fraction = 0;
}

namespace {

time_t localSeconds(const DB_DATETIME& dt) {
  struct tm parts;
  std::memset(&parts, 0, sizeof parts);
  parts.tm_year = dt.year - 1900;
  parts.tm_mon = dt.month - 1;
  parts.tm_mday = dt.day;
  parts.tm_hour = dt.hour;
  parts.tm_min = dt.minute;
  parts.tm_sec = dt.second;
  parts.tm_isdst = -1;  // let mktime decide whether daylight saving applies
  return mktime(&parts);
}

}  // namespace

long EvNDetector::DbDatetimeToUlongTime(char* text, DB_DATETIME& dt, bool utcText) {
  const time_t t = localSeconds(dt);
  if (t < 0) return static_cast<long>(t);
  if (text != nullptr) {
    // Rendered into a buffer of our own, so the caller needs room for the
    // 24 characters and the terminator only.
    char buffer[30] = {};
    const char* rendered = nullptr;
    if (utcText) {
      struct tm parts;
      std::memset(&parts, 0, sizeof parts);
      if (NX_gmtime(&t, &parts) != nullptr) rendered = NX_asctime(&parts, buffer, sizeof buffer);
    } else {
      rendered = NX_ctime(&t, buffer, sizeof buffer);
    }
    if (rendered == nullptr) buffer[0] = '\0';
    buffer[24] = '\0';
    std::memcpy(text, buffer, std::strlen(buffer) + 1);
  }
  return static_cast<long>(t);
}

long EvNDetector::DbDatetimeToUlongUTCTime(DB_DATETIME& dt) { return static_cast<long>(localSeconds(dt)); }

long long EvNDetector::ConcJobId(unsigned long high, unsigned long low) {
  // Unsigned arithmetic: the sum wraps instead of overflowing.
  return static_cast<long long>((static_cast<unsigned long long>(high) << 32) + static_cast<unsigned long long>(low));
}

long long EvNDetector::JobIdHigh(long long id) {
  return static_cast<long long>(static_cast<unsigned long long>(id) & 0xFFFFFFFF00000000ULL) >> 32;
}

long long EvNDetector::JobIdLow(long long id) {
  return static_cast<long long>(static_cast<unsigned long long>(id) & 0xFFFFFFFFULL);
}
