// Message parameters of an occurrence (rows of NTDMsgParam, from which the
// notifier rebuilds catalogue messages in the reader's language) and the
// text helpers that turn sizes, percentages and status codes into display
// text.
//
// Decisions of our own:
// - An argument text longer than the 2048 bytes of the data column is cut to
//   at most 2048 bytes without splitting a UTF-8 sequence; the row's size
//   then gives the length actually stored. Event message texts are cut
//   earlier, at 960 bytes, on the same sequence rule.
// - In the free-space rows a percentage of 0 shows "0%". Each value is
//   rendered from a fresh string, so one folder's text never shows up in
//   another folder's row.
// - Free-space lists whose thresholds or folders are shorter than the
//   free-space list are refused before any row is written.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Db/AllBindings.h"
#include "host/EvAlertDebug.h"
#include "host/EvAlertEx.h"
#include "host/EvEvent.h"
#include "host/messages/CNMessageBase.h"
#include "host/messages/XMLDecoder.h"
#include "params/EvNDetectParams.h"

namespace {

// Event message texts longer than this are cut, and the cut is marked so
// the reader sees the text goes on.
constexpr size_t kMsgTextLimit = 960;
constexpr char kCutMark[] = "MsgNewLine_>>>";
constexpr size_t kMsgTextKeep = kMsgTextLimit - (sizeof kCutMark - 1);  // 946

// Type-14 elements open a message whose arguments follow.
constexpr int kMessageHeaderType = 14;

constexpr uint32_t kUpdateStatusTag = 355897660;  // 0x1536913C
constexpr int kAnnotationMajor = 27;
constexpr int kAnnotationMinor = 33;

// Room for a rendered size with its unit.
constexpr size_t kSizeText = 128;
constexpr size_t kUnitText = 255;

// Copies TEXT into the row's data column (cut without splitting a sequence)
// and returns the bytes stored.
size_t setData(NTDMsgParam_t* row, const char* text, size_t len) {
  dbCopyText(row->data, sizeof row->data, text, len);
  return std::strlen(row->data);
}

// The stored size of a typed argument by its type code; -1 for the codes
// whose value is the text itself.
int sizeOfTypeCode(int code) {
  switch (code) {
    case 1:
    case 2: return 1;
    case 3:
    case 4: return 2;
    case 5:
    case 6:
    case 7:
    case 8: return 4;
    case 9:
    case 10: return 8;
    case 11:
    case 12: return -1;
    default: return 0;
  }
}

// A percentage as shown in a free-space row: "0%" included.
std::string percentText(int value) {
  std::string text;
  if (value == 0) return "0%";
  convertIntFreeSpaceIntoStringPercentage(value, text);
  return text;
}

std::string megabyteText(int value) {
  char text[kSizeText] = {};
  AutoRangeSizeInMegaByte(value, text, 2);
  return text;
}

}  // namespace

void EvNDetectParams::msgRows(int eventId, std::vector<AlertEventMsg>& msgs, std::vector<MsgRow>& out) const {
  EvAlertDebug log;
  const char* label = "EvNDetectParams::AddMsgParams";
  int prevIndex = 0;
  int position = 1;
  for (size_t i = 0; i < msgs.size(); ++i) {
    const AlertEventMsg* msg = &msgs[i];
    const int msgIndex = static_cast<int32_t>(msg->msgIndex);
    if (msgIndex != prevIndex) {
      position = 1;
      prevIndex = msgIndex;
      if (static_cast<int32_t>(msg->type) == kMessageHeaderType) {
        if (i + 1 < msgs.size() && static_cast<int32_t>(msgs[i + 1].msgIndex) == msgIndex) {
          msg = &msgs[++i];
        } else {
          position = 0;
        }
      }
    }
    MsgRow& row = out.emplace_back();
    row.eventId = eventId;
    row.tokenId = static_cast<int32_t>(msg->tokenId);
    row.msgIndex = msgIndex;
    row.msgId = static_cast<int32_t>(msg->msgId);
    row.position = position;
    row.type = static_cast<int32_t>(msg->type);
    row.size = 0;
    char data[sizeof NTDMsgParam_t::data];
    if (msg->data.size() > kMsgTextLimit) {
      char kept[kMsgTextKeep + 1];
      dbCopyText(kept, sizeof kept, msg->data.data(), msg->data.size());
      const std::string cut = std::string(kept) + kCutMark;
      dbCopyText(data, sizeof data, cut.c_str(), cut.size());
      log.DebugLvl(label, 10, "String being truncated.  New length [%ld]", static_cast<long>(cut.size()));
    } else {
      dbCopyText(data, sizeof data, msg->data.c_str(), msg->data.size());
    }
    row.data = data;
    ++position;
  }
}

void EvNDetectParams::fillRow(NTDMsgParam_t& row, const MsgRow& from) {
  row.tokenId = from.tokenId;
  row.eventId = from.eventId;
  row.msgIndex = from.msgIndex;
  row.msgId = from.msgId;
  row.position = from.position;
  row.type = from.type;
  row.size = from.size;
  setData(&row, from.data.c_str(), from.data.size());
}

bool EvNDetectParams::insertMsgRow(const MsgRow& r, bool reason) {
  EvAlertDebug log;
  const char* label = reason ? "EvNDetectParams::AddJMFailureReason" : "EvNDetectParams::AddMsgParams";
  NTDMsgParam table(m_tran);
  NTDMsgParam_t* row = table.getDataPtr();
  fillRow(*row, r);
  const int rc = table.rowInsert(true);
  if (rc == 0) return true;
  log.Error(label, "Cannot insert NTDMsgParam row, errorString [%s]", table.getErrorStr(rc));
  if (reason) {
    log.Error(label, "debug size [%ld]", 1L);
    log.Error(label, "FATAL ERROR: value[%d]: eventId [%d], msgIndex [%d], msgId [%d], position [%d]", 0,
              row->eventId, row->msgIndex, row->msgId, row->position);
  }
  return false;
}

bool EvNDetectParams::AddMsgParams(int eventId, std::vector<AlertEventMsg>& msgs) {
  std::vector<MsgRow> rows;
  msgRows(eventId, msgs, rows);
  for (const MsgRow& row : rows)
    if (!insertMsgRow(row, false)) return false;
  return true;
}

bool EvNDetectParams::AddMsgParams(int eventId, std::vector<std::string>& list) {
  EvAlertDebug log;
  const char* label = "EvNDetectParams::AddMsgParams";
  if (list.size() < 2) return true;
  const std::string header = list[0].substr(0, 63);
  const int msgId = header.size() > 2 ? atoi(header.c_str() + 2) : 0;
  for (size_t i = 1; i < list.size(); ++i) {
    const std::string& element = list[i];
    const int code = atoi(element.substr(0, 2).c_str());
    const char* value = element.size() > 2 ? element.c_str() + 2 : "";
    const size_t valueLen = element.size() > 2 ? element.size() - 2 : 0;

    NTDMsgParam table(m_tran);
    NTDMsgParam_t* row = table.getDataPtr();
    row->eventId = eventId;
    row->tokenId = 0;
    row->msgIndex = 0;
    row->msgId = msgId;
    row->position = static_cast<int>(i);
    row->type = code;
    const int size = sizeOfTypeCode(code);
    if (size < 0) {
      row->size = static_cast<int>(setData(row, value, valueLen));
    } else {
      row->size = size;
      // Code 10 carries its size only.
      if (size > 0 && code != 10) setData(row, value, valueLen);
    }
    const int rc = table.rowInsert(true);
    if (rc != 0) {
      log.Error(label, "Cannot insert NTDMsgParam row, errorString [%s]", table.getErrorStr(rc));
      return false;
    }
    log.DebugLvl(label, 10, "params.size [%ld] for MsgId : [%d]", static_cast<long>(list.size() - 1), msgId);
  }
  return true;
}

bool EvNDetectParams::AddMsgParams(int eventId, std::vector<int>& freeSpace, std::vector<int>& thresholds,
                                   std::vector<std::string>& folders, bool percent) {
  EvAlertDebug log;
  const char* label = "EvNDetectParams::AddMsgParams";
  if (thresholds.size() < freeSpace.size() || folders.size() < freeSpace.size()) {
    log.Error(label, "Free space list has [%lu] entries but thresholds [%lu] and folders [%lu]",
              static_cast<unsigned long>(freeSpace.size()), static_cast<unsigned long>(thresholds.size()),
              static_cast<unsigned long>(folders.size()));
    return false;
  }
  const int valueType = percent ? EvEvent::kTextArgument : 5;
  for (size_t i = 0; i < freeSpace.size(); ++i) {
    std::string threshold;
    std::string freeText;
    if (percent) {
      threshold = percentText(thresholds[i]);
      log.DebugLvl(label, 10, "Inserting userMinFreeSpaceThreshold in alert : [%s]", threshold.c_str());
      freeText = percentText(freeSpace[i]);
      log.DebugLvl(label, 10, "Inserting diskFreeSpacePercentage in alert : [%s]", freeText.c_str());
    } else {
      threshold = megabyteText(thresholds[i]);
      freeText = megabyteText(freeSpace[i]);
    }
    const struct {
      int type;
      const std::string* data;
    } cells[] = {{EvEvent::kTextArgument, &folders[i]}, {valueType, &threshold}, {valueType, &freeText}};

    for (int p = 0; p < 3; ++p) {
      NTDMsgParam table(m_tran);
      NTDMsgParam_t* row = table.getDataPtr();
      row->tokenId = static_cast<int32_t>(EvMsg::kFreeSpaceToken);
      row->eventId = eventId;
      row->msgIndex = static_cast<int>(i);
      row->msgId = static_cast<int32_t>(EvMsg::kFreeSpaceMessage);
      row->position = p + 1;
      row->type = cells[p].type;
      row->size = 0;
      setData(row, cells[p].data->c_str(), cells[p].data->size());
      const int rc = table.rowInsert(true);
      if (rc != 0) {
        log.Error(label, "Cannot insert NTDMsgParam row, errorString [%s]", table.getErrorStr(rc));
        return false;
      }
    }
  }
  return true;
}

bool EvNDetectParams::failureReasonRows(int eventId, const std::vector<int>& reasonIds, std::vector<MsgRow>& out) {
  EvAlertDebug log;
  const char* label = "EvNDetectParams::AddJMFailureReason";
  if (reasonIds.empty()) return true;
  // Every reason's arguments are read by one statement, whole, before any
  // row is written, so no cursor stays open across the inserts; each
  // reason's come in the order they were stored. An argument longer than
  // its buffer comes back cut, and is copied cut. A read error would leave
  // the message with arguments missing: the event fails instead.
  JMFailureReasonMsgParam reasons(m_tran);
  reasons.setWhereIn("msgId", reasonIds);
  std::map<int, std::vector<MsgRow>> byReason;
  int counter = 0;
  int rc = 0;
  while (DBrowRead(rc = reasons.getNextRow(&counter))) {
    const JMFailureReasonMsgParam_t& arg = *reasons.getDataPtr();
    byReason[arg.msgId].push_back({static_cast<int32_t>(EvMsg::kFailureReasonToken), eventId, arg.msgId,
                                   arg.eventid, arg.position, arg.type, arg.size, arg.data});
  }
  if (rc != DB_NO_DATA) {
    log.Error(label, "cannot read from table [%s], errorString [%s]", reasons.getTableName(), reasons.getErrorStr(rc));
    return false;
  }
  for (int reasonId : reasonIds)
    if (const auto it = byReason.find(reasonId); it != byReason.end())
      out.insert(out.end(), it->second.begin(), it->second.end());
  return true;
}

bool EvNDetectParams::AddJMFailureReason(int eventId, std::vector<int>& reasonIds) {
  std::vector<MsgRow> rows;
  if (!failureReasonRows(eventId, reasonIds, rows)) return false;
  for (const MsgRow& row : rows)
    if (!insertMsgRow(row, true)) return false;
  return true;
}

bool EvNDetectParams::AddParamWithSizeUnits(int eventId, NotiParamTypes type, long long bytes,
                                            unsigned long formatArg) {
  EvAlertDebug log;
  const char* label = "EvNDetectParams::AddParamWithSizeUnits";
  char number[kSizeText];
  unsigned long unit = EvMsg::kSizeBytes;
  if (bytes <= 1023) {
    snprintf(number, sizeof number, "%lld", bytes);
  } else {
    double size = static_cast<double>(bytes) / 1024;
    unit = EvMsg::kSizeKB;
    if (size >= 1024) {
      size /= 1024;
      unit = EvMsg::kSizeMB;
      if (size >= 1024) {
        size /= 1024;
        unit = EvMsg::kSizeGB;
        if (size >= 1024) {
          size /= 1024;
          unit = EvMsg::kSizeTB;
        }
      }
    }
    snprintf(number, sizeof number, "%.2lf", size);
  }
  EvEvent event;
  event << number;
  char text[kUnitText] = {};
  const int rc = event.evPrintf(unit, text, sizeof text, static_cast<long long>(formatArg));
  if (rc < 0) {
    log.Error(label, "Cannot format size message [0x%lx] for [%s], result [%d]", unit, number, rc);
    return false;
  }
  return AddParam(eventId, type, text);
}

bool EvNDetectParams::FormatMsg(int first, std::string& text, int second, unsigned long third) {
  EvAlertDebug log;
  const char* label = "EvNDetectParams::FormatMsg";
  NTFormatLocaleMsg proc(m_tran);
  proc.setValues(first, second, static_cast<int>(third));
  const int rc = proc.getOneRow();
  if (!DBrowRead(rc)) {
    log.Error(label, "format localize message failed errorString [%s]", proc.getErrorStr(rc));
    return false;
  }
  text = proc.getDataPtr()->r_MsgTxt;
  return true;
}

// ---- free functions ----

char* AutoRangeSizeInMegaByte(long long megabytes, char* out, unsigned long precision) {
  if (out == nullptr) return out;
  const int decimals = precision > 20 ? 20 : static_cast<int>(precision);
  // Single precision on purpose: the texts match what the console shows.
  const float value = static_cast<float>(megabytes);
  if (megabytes >= -1023 && megabytes <= 1023) {
    sprintf(out, "%lld MB", megabytes);
  } else if (megabytes >= -1048575 && megabytes <= 1048575) {
    sprintf(out, "%.*f GB", decimals, static_cast<double>(value / 1024.0f));
  } else if (megabytes >= -1073741823 && megabytes <= 1073741823) {
    sprintf(out, "%.*f TB", decimals, static_cast<double>(value / 1048576.0f));
  } else {
    sprintf(out, "%.*f PB", decimals, static_cast<double>(value / 1073741824.0f));
  }
  return out;
}

void convertIntFreeSpaceIntoStringPercentage(int value, std::string& out) {
  if (value == 0) return;
  out = std::to_string(value) + "%";
}

std::string getStatusText(int status) {
  EvAlertDebug log;
  std::string result = XMLDecoder::GetEnumString(kUpdateStatusTag, status);
  const CNClassDef* def = CNMessageBase::GetClassDef(kUpdateStatusTag);
  if (def == nullptr) {
    log.Error("getStatusText", "Error retrieving metadata for given tag id : [%ul]", kUpdateStatusTag);
    return result;
  }
  CNMessageBase annotation(kAnnotationMajor, kAnnotationMinor);
  if (XMLDecoder::FillAnnotation(def, result, annotation) == 0) {
    std::string text = annotation.getstring(0);
    if (!text.empty()) result = text;
  }
  return result;
}
