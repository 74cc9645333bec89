// Look-ups that turn ids of other subsystems into texts: media bar codes and
// their locations, mount path and drive names, the clients of a
// software-distribution job and the clients of an update request.
//
// A text column of these tables may come back cut to the width of its row
// buffer (result 1004); the look-ups only display what they read, so a cut
// name is taken like a whole one rather than dropping the row.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Db/AllBindings.h"
#include "host/EvAlertDebug.h"
#include "host/EvAlertEx.h"
#include "host/messages/message_classes.h"
#include "params/EvNDetectParams.h"

namespace {

constexpr int kIsolationReadCommitted = 4;
constexpr int kDiskMediaType = 10001;
constexpr int kMediaLocationExported = 3;

// Display lines of the client lists are held to 511 bytes (a 512-byte line
// with its terminator). A longer line is cut at a character boundary, so a
// reader always gets the start of the line, never a broken character.
constexpr size_t kLineBuffer = 512;

std::string cutLine(const std::string& line) {
  if (line.size() < kLineBuffer) return line;
  char buf[kLineBuffer];
  dbCopyText(buf, sizeof buf, line.data(), line.size());
  return std::string(buf);
}

// A fixed-size text column as a string (the buffer is always terminated,
// strnlen only guards against a buffer that is not).
template <size_t N>
std::string columnText(const char (&col)[N]) {
  return std::string(col, strnlen(col, N));
}

// Copies a read name into the caller's buffer: at most size - 1 bytes,
// always terminated.
void copyOut(char* out, unsigned long size, const char* text) {
  if (out == nullptr || size == 0) return;
  dbCopyText(out, size, text, strlen(text));
}

// Jobs of the software-distribution subsystem are keyed by the low half of
// the job id.
int lowJobId(long jobId) { return static_cast<int>(static_cast<uint32_t>(static_cast<unsigned long>(jobId))); }

// Labels of the platform bits of a client, in the order they are shown.
struct PlatformLabel {
  int bit;
  const char* label;
};
constexpr PlatformLabel kPlatformLabels[] = {{1, "Centrixe"}, {4, "Client"}, {2, "MediaAgent"}};

std::string platformLabel(int platform) {
  std::string out;
  for (const PlatformLabel& p : kPlatformLabels) {
    if ((platform & p.bit) == 0) continue;
    if (!out.empty()) out += "/";
    out += p.label;
  }
  return out;
}

// The entity filter of an update request: no entities means every client;
// otherwise the whole installation (kind 2) or the client by name (kind 3).
constexpr int kEntityKindField = 0;
constexpr int kEntityNameField = 18;
constexpr int kEntityListField = 12;
constexpr int kEntityWholeInstallation = 2;
constexpr int kEntityClient = 3;

bool clientMatches(const CNMessageList* entities, const std::string& clientName) {
  if (entities == nullptr || entities->empty()) return true;
  for (const auto& e : *entities) {
    if (!e) continue;
    const int kind = e->getint32(kEntityKindField);
    if (kind == kEntityWholeInstallation) return true;
    if (kind == kEntityClient && e->getstring(kEntityNameField) == clientName) return true;
  }
  return false;
}

}  // namespace

bool EvNDetectParams::AddMediaListParam(int eventId, std::vector<int>& mediaIds, NotiParamTypes mediaType,
                                        NotiParamTypes locationType) {
  static const char* const kFn = "EvNDetectParams::AddMediaListParam";
  EvAlertDebug log;
  for (int mediaId : mediaIds) {
    MMMedia media(m_tran);
    media.setIsolationType(kIsolationReadCommitted);
    media.setWhere("MediaId = %d", mediaId);
    int rc = media.getOneRow();
    if (!DBrowRead(rc)) {
      log.Error(kFn, "cannot read from table [%s], errorString [%s]", media.getTableName(), media.getErrorStr(rc));
      continue;
    }
    const MMMedia_t* m = media.getDataPtr();
    const std::string barCode = columnText(m->BarCode);

    std::string location = barCode;
    const int exportLocationId = m->MediaLocation == kMediaLocationExported ? m->ExportLocationId : 0;
    if (exportLocationId < 1) {
      location += ", Inside Library";
    } else {
      MMExportLocation exported(m_tran);
      exported.setIsolationType(kIsolationReadCommitted);
      exported.setWhere("ExportLocationId = %d", exportLocationId);
      rc = exported.getOneRow();
      if (DBrowRead(rc))
        location += ", " + columnText(exported.getDataPtr()->ExportLocation);
      else
        log.Error(kFn, "cannot read from table [%s], errorString [%s]", exported.getTableName(),
                  exported.getErrorStr(rc));
    }
    if (m->ContainerId > 0) {
      MMContainer container(m_tran);
      container.setIsolationType(kIsolationReadCommitted);
      container.setWhere("ContainerId = %d", m->ContainerId);
      rc = container.getOneRow();
      if (DBrowRead(rc))
        location += ", " + columnText(container.getDataPtr()->ContainerName);
      else
        log.Error(kFn, "cannot read from table [%s], errorString [%s]", container.getTableName(),
                  container.getErrorStr(rc));
    }

    // A disk media is named by its mount path and has no location.
    if (m->MediaTypeId == kDiskMediaType) {
      MMMountPath mountPath(m_tran);
      mountPath.setIsolationType(kIsolationReadCommitted);
      mountPath.setWhere("MediaSideId = %d", m->MediaId);
      rc = mountPath.getOneRow(true);
      if (DBrowRead(rc))
        AddParam(eventId, mediaType, columnText(mountPath.getDataPtr()->MountPathName).c_str());
      else
        log.Error(kFn, "cannot read from table [%s], errorString [%s]", mountPath.getTableName(),
                  mountPath.getErrorStr(rc));
      continue;
    }
    AddParam(eventId, mediaType, barCode.c_str());
    if (locationType != 0) AddParam(eventId, locationType, location.c_str());
  }
  return true;
}

bool EvNDetectParams::GetMountPathName(int eventId, char* out, unsigned long size) {
  int mountPathId = 0;
  GetOneParam(eventId, ParamMountPath, mountPathId);
  if (mountPathId < 1) return true;
  MMS2getMountPathNameGUI proc(m_tran);
  proc.setIsolationType(kIsolationReadCommitted);
  proc.setValues(mountPathId);
  if (DBrowRead(proc.getOneRow())) copyOut(out, size, proc.getDataPtr()->o_mountPathName);
  return true;
}

bool EvNDetectParams::GetDriveName(int /*eventId*/, int driveId, char* out, unsigned long size) {
  if (driveId < 1) return true;
  MMDrive drive(m_tran);
  drive.setIsolationType(kIsolationReadCommitted);
  drive.setWhere("DriveId = %d", driveId);
  if (DBrowRead(drive.getOneRow())) copyOut(out, size, drive.getDataPtr()->AliasName);
  return true;
}

namespace {

// Reads the rows of one software-distribution job (WHERE already set) and
// hands each to APPEND. True at the end of the rows; a read error is logged
// and what was appended stays.
template <class Append>
bool readDistRows(JMMaltrexUpdateStatus& table, Append append) {
  static const char* const kFn = "EvNDetectParams::GetDistClientStatusList";
  EvAlertDebug log;
  int counter = 0;
  int rc = 0;
  while (DBrowRead(rc = table.getNextRow(&counter))) append(*table.getDataPtr());
  if (rc == DB_NO_DATA) return true;
  log.Error(kFn, "Error readig from table [%s], ErrorString [%s]", table.getTableName(), table.getErrorStr(rc));
  return false;
}

}  // namespace

bool EvNDetectParams::GetDistClientList(long /*unused*/, long jobId, std::vector<std::string>& clients) {
  JMMaltrexUpdateStatus t(m_tran);
  t.setWhere("jobId = %d", lowJobId(jobId));
  return readDistRows(t, [&](const JMMaltrexUpdateStatus_t& r) { clients.push_back(columnText(r.clientName)); });
}

bool EvNDetectParams::GetDistClientStatusList(long /*unused*/, long jobId, int status,
                                              std::vector<std::string>& clients) {
  JMMaltrexUpdateStatus t(m_tran);
  t.setWhere("jobId = %d and status = %d", lowJobId(jobId), status);
  return readDistRows(t, [&](const JMMaltrexUpdateStatus_t& r) { clients.push_back(columnText(r.clientName)); });
}

bool EvNDetectParams::GetDistClientCategoryList(long /*unused*/, long jobId,
                                                JobManager::NXMaltrexUpdateCategory category,
                                                std::vector<std::string>& clients) {
  JMMaltrexUpdateStatus t(m_tran);
  t.setWhere("jobId = %d and category = %d", lowJobId(jobId), static_cast<int>(category));
  return readDistRows(t, [&](const JMMaltrexUpdateStatus_t& r) { clients.push_back(columnText(r.clientName)); });
}

bool EvNDetectParams::GetDistClientStatusList(long /*unused*/, long jobId, std::vector<std::string>& lines) {
  JMMaltrexUpdateStatus t(m_tran);
  t.setWhere("jobId = %d", lowJobId(jobId));
  return readDistRows(t, [&](const JMMaltrexUpdateStatus_t& r) {
    lines.push_back(cutLine(columnText(r.clientName) + ": [" + getStatusText(r.status) + "]"));
  });
}

bool EvNDetectParams::GetDistClientStatusList(long /*unused*/, long jobId, std::vector<JobStatusItem>& items) {
  JMMaltrexUpdateStatus t(m_tran);
  t.setWhere("jobId = %d", lowJobId(jobId));
  return readDistRows(t, [&](const JMMaltrexUpdateStatus_t& r) {
    JobStatusItem item;
    item.status = r.status;
    item.category = r.category;
    item.clientName = columnText(r.clientName);
    item.statusText = getStatusText(r.status);
    items.push_back(std::move(item));
  });
}

bool EvNDetectParams::GetUpdateReqClntList(int eventId, int type, bool detailed, std::vector<std::string>& lines,
                                           NXGui::ZentraTreeNode& entities) {
  static const char* const kFn = "EvNDetectParams::GetUpdateReqClntList";
  EvAlertDebug log;
  lines.clear();
  const CNMessageList* entityList = entities.getlistobject(kEntityListField);
  NTDUpdateReqClntList cursor(m_tran);
  cursor.setValues(eventId, type);
  int counter = 0;
  int rc = 0;
  while (DBrowRead(rc = cursor.getNextRow(&counter))) {
    const NTDUpdateReqClntList_t* r = cursor.getDataPtr();
    const std::string name = columnText(r->name);
    if (!clientMatches(entityList, name)) {
      log.DebugLvl(kFn, 7, "EventId[%d] Data[%s] .. No Match in Entity List(skipping).", eventId, name.c_str());
      continue;
    }
    const std::string label = platformLabel(r->platform);
    if (detailed)
      lines.push_back(cutLine("[" + name + ", " + label + ", Release " + columnText(r->release) + "]"));
    else
      lines.push_back(cutLine(name + " - " + label));
  }
  if (rc == DB_NO_DATA) return true;
  log.Error(kFn, "Error reading from table [%s], ErrorString [%s]", cursor.getTableName(), cursor.getErrorStr(rc));
  return false;
}
