#include "host/event_json.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>
#include <simdjson.h>

#include "host/EvAlertEx.h"

namespace {

// ordered_json keeps the keys in the order of the line, so the first bad key
// reported is the first one a reader of the line meets.
using Json = nlohmann::ordered_json;

using TextList = EvAlertEx::TextList;
using IntList = EvAlertEx::IntList;
using MsgList = EvAlertEx::MsgList;
using PhaseList = EvAlertEx::PhaseList;

// One accessor pair of the record per value kind. The member-pointer types
// pin down each accessor's exact signature, so a field whose type changes in
// the record stops compiling here instead of being read with the wrong range.
template <class T>
struct Scalar {
  T (EvAlertEx::*get)() const;
  void (EvAlertEx::*set)(T);
};
struct Text {
  const std::string& (EvAlertEx::*get)() const;
  void (EvAlertEx::*set)(const std::string&);
};
struct TextCopy {
  std::string (EvAlertEx::*get)() const;
  void (EvAlertEx::*set)(const std::string&);
};
template <class L>
struct List {
  const L& (EvAlertEx::*get)() const;
  void (EvAlertEx::*set)(L);
};

using Access = std::variant<Scalar<int64_t>, Scalar<int32_t>, Scalar<uint32_t>, Scalar<bool>, Text, TextCopy,
                            List<TextList>, List<IntList>, List<MsgList>, List<PhaseList>>;

struct Field {
  const char* key;
  Access access;
  // Set on a second name of a slot that another entry already writes: the
  // key of that entry.
  const char* aliasOf = nullptr;
};

#define EVJ_I64(key, g, s) Field{key, Scalar<int64_t>{&EvAlertEx::g, &EvAlertEx::s}}
#define EVJ_I32(key, g, s) Field{key, Scalar<int32_t>{&EvAlertEx::g, &EvAlertEx::s}}
#define EVJ_U32(key, g, s) Field{key, Scalar<uint32_t>{&EvAlertEx::g, &EvAlertEx::s}}
#define EVJ_BOOL(key, g, s) Field{key, Scalar<bool>{&EvAlertEx::g, &EvAlertEx::s}}
#define EVJ_TEXT(key, g, s) Field{key, Text{&EvAlertEx::g, &EvAlertEx::s}}
#define EVJ_TEXTCOPY(key, g, s) Field{key, TextCopy{&EvAlertEx::g, &EvAlertEx::s}}
#define EVJ_LIST(type, key, g, s) Field{key, List<type>{&EvAlertEx::g, &EvAlertEx::s}}

const Field kFields[] = {
    // Alert identity
    EVJ_I32("alertType", getAlertType, setAlertType),
    EVJ_I32("alertCriteria", getAlertCriteria, setAlertCriteria),
    EVJ_I32("alertStatus", getAlertStatus, setAlertStatus),
    EVJ_I64("alert", getAlert, setAlert),
    EVJ_I64("condition", getCondition, setCondition),
    EVJ_BOOL("conditionCleared", IsConditionCleared, setConditionCleared),
    EVJ_I32("alertRule", getAlertRule, setAlertRule),
    // Objects
    EVJ_I64("clientId", getClientId, setClientId),
    EVJ_TEXT("clientName", getClientName, setClientName),
    EVJ_I64("clientGroupId", getClientGroupId, setClientGroupId),
    EVJ_TEXT("clientGroupName", getClientGroupName, setClientGroupName),
    EVJ_I64("subClientId", getSubClientId, setSubClientId),
    EVJ_TEXT("subClientName", getSubClientName, setSubClientName),
    EVJ_I64("backupsetId", getBackupsetId, setBackupsetId),
    EVJ_TEXT("backupsetName", getBackupsetName, setBackupsetName),
    EVJ_I64("appTypeId", getappTypeId, setAppTypeId),
    EVJ_TEXT("appTypeName", getAppTypeName, setAppTypeName),
    EVJ_I64("instanceId", getInstanceId, setInstanceId),
    EVJ_TEXT("instanceName", getInstanceName, setInstanceName),
    EVJ_I64("mediaAgentId", getMediaAgentId, setMediaAgentId),
    EVJ_TEXT("mediaAgentName", getMediaAgentName, setMediaAgentName),
    EVJ_I64("libraryId", getLibraryId, setLibraryId),
    EVJ_I64("otherLibId", getOtherLibId, setOtherLibId),
    EVJ_I64("mediaId", getMediaId, setMediaId),
    EVJ_TEXT("mediaLable", getMediaLable, setMediaLable),
    EVJ_I32("driveId", getDriveId, setDriveId),
    EVJ_TEXT("driveName", getDriveName, setDriveName),
    EVJ_TEXT("drivePoolName", getDrivePoolName, setDrivePoolName),
    EVJ_I32("sparePoolId", getSparePoolId, setSparePoolId),
    EVJ_TEXT("sparePoolMountPathName", getSparePoolMountPathName, setSparePoolMountPathName),
    EVJ_I32("mountPathId", getMountPathId, setMountPathId),
    EVJ_I64("storPolicyId", getStorPolicyId, setStorPolicyId),
    EVJ_I64("copyId", getCopyId, setCopyId),
    EVJ_I32("vtPolicyId", getVtPolicyId, setVtPolicyId),
    EVJ_I32("taskId", getTaskId, setTaskId),
    EVJ_I32("schedPolicyId", getSchedPolicyId, setSchedPolicyId),
    EVJ_TEXT("scheduleName", getScheduleName, setScheduleName),
    EVJ_I64("whomId", getWhomId, setWhomId),
    EVJ_TEXT("containerName", getContainerName, setContainerName),
    EVJ_TEXT("exportLocName", getExportLocName, setExportLocName),
    EVJ_TEXT("mailBoxName", getMailBoxName, setMailBoxName),
    EVJ_TEXT("folderName", getFolderName, setFolderName),
    EVJ_TEXT("guiClientName", getGuiClientName, setGuiClientName),
    EVJ_TEXT("zentraRelease", getZentraRelease, setZentraRelease),
    // Job
    EVJ_I64("jobId", getJobId, setJobId),
    EVJ_I64("prevJobId", getPrevJobId, setPrevJobId),
    EVJ_I64("backupLevel", getBackupLevel, setBackupLevel),
    EVJ_BOOL("rdJob", getRdJob, setRdJob),
    EVJ_BOOL("vSS", IsVSS, setVSS),
    EVJ_TEXT("sVUName", getSVUName, setSVUName),
    EVJ_TEXT("workFlowName", getWorkFlowName, setWorkFlowName),
    EVJ_TEXT("jobErrString", getJobErrString, setJobErrString),
    EVJ_TEXT("failureReason", getFailureReason, setFailureReason),
    EVJ_LIST(IntList, "failureReasons", getFailureReasons, setFailureReasons),
    EVJ_I32("phaseFailuresCount", getPhaseFailuresCount, setPhaseFailuresCount),
    EVJ_I32("networkFailuresCount", getNetworkFailuresCount, setNetworkFailuresCount),
    EVJ_I64("protectedCount", getProtectedCount, setProtectedCount),
    EVJ_I64("recoveredCount", getRecoveredCount, setRecoveredCount),
    EVJ_I64("failedCount", getFailedCount, setFailedCount),
    EVJ_I64("skippedCount", getSkippedCount, setSkippedCount),
    EVJ_I64("numberOfItems", getNumberOfItems, setNumberOfItems),
    EVJ_I64("restoreSize", getRestoreSize, setRestoreSize),
    EVJ_TEXT("restoreUserName", getRestoreUserName, setRestoreUserName),
    EVJ_I32("pruneJobCount", getPruneJobCount, setPruneJobCount),
    EVJ_BOOL("extendedRetension", IsExtendedRetension, setExtendedRetension),
    EVJ_I64("retensionTime", getRetensionTime, setRetensionTime),
    // Times
    EVJ_I64("startTime", getStartTime, setStartTime),
    EVJ_I64("endTime", getEndTime, setEndTime),
    EVJ_I64("scheduledTime", getScheduledTime, setScheduledTime),
    EVJ_I64("lastActivity", getLastActivity, setLastActivity),
    EVJ_I64("cXupgradeTime", getCXupgradeTime, setCXupgradeTime),
    EVJ_I64("recallTime", getRecallTime, setRecallTime),
    EVJ_I64("oldestJobEndTime", getOldestJobEndTime, setOldestJobEndTime),
    EVJ_I32("elapsedTime", getElapsedTime, setElapsedTime),
    EVJ_I32("xferTimeSecs", getXferTimeSecs, setXferTimeSecs),
    // Sizes, space and thresholds
    EVJ_I64("freeSpace", getFreeSpace, setFreeSpace),
    EVJ_I64("freeDBSpace", getFreeDBSpace, setFreeDBSpace),
    EVJ_I64("mediaSpaceLeft", getMediaSpaceLeft, setMediaSpaceLeft),
    EVJ_I64("threshold", getThreshold, setThreshold),
    EVJ_TEXT("thresholdCommen", getThresholdCommen, setThresholdCommen),
    EVJ_I32("fileSize", getFileSize, setFileSize),
    EVJ_I32("mbTransferred", getMbTransferred, setMbTransferred),
    EVJ_I64("xferSizeBytes", getXferSizeBytes, setXferSizeBytes),
    EVJ_TEXT("xferThruPutGB", getXferThruPutGB, setXferThruPutGB),
    EVJ_I64("prevBkpSize", getPrevBkpSize, setPrevBkpSize),
    EVJ_I32("percentageChange", getPercentageChange, setPercentageChange),
    EVJ_I64("bytesToBeCopied", getBytesToBeCopied, setBytesToBeCopied),
    EVJ_I32("numOfMediaToBeCopied", getNumOfMediaToBeCopied, setNumOfMediaToBeCopied),
    EVJ_I32("numOfJobsToBeCopied", getNumOfJobsToBeCopied, setNumOfJobsToBeCopied),
    EVJ_I32("numberOfAvailFiles", getNumberOfAvailFiles, setNumberOfAvailFiles),
    EVJ_I32("numberOfDownloadedFiles", getNumberOfDownloadedFiles, setNumberOfDownloadedFiles),
    EVJ_I32("kBDoanloaded", getKBDoanloaded, setKBDoanloaded),
    EVJ_I64("messageCount", getMessageCount, setMessageCount),
    EVJ_I32("failedLoginGroupId", getFailedLoginGroupId, setFailedLoginGroupId),
    EVJ_I32("failedLoginCount", getFailedLoginCount, setFailedLoginCount),
    EVJ_U32("noOfDaysLicenseToExpire", getNoOfDaysLicenseToExpire, setNoOfDaysLicenseToExpire),
    EVJ_U32("perCentLicenseConsumed", getPerCentLicenseConsumed, setPerCentLicenseConsumed),
    EVJ_BOOL("mediaRequired", IsMediaRequired, setMediaRequired),
    EVJ_BOOL("moreMediaToCome", getMoreMediaToCome, setMoreMediaToCome),
    // Texts
    EVJ_TEXT("comment", getComment, setComment),
    EVJ_TEXT("description", getDescription, setDescription),
    EVJ_TEXT("attachmentName", getAttachmentName, setAttachmentName),
    EVJ_TEXT("vtInitiator", getVtInitiator, setVtInitiator),
    EVJ_TEXT("vtSourceLoc", getVtSourceLoc, setVtSourceLoc),
    EVJ_TEXT("vtTransitLoc", getVtTransitLoc, setVtTransitLoc),
    EVJ_TEXT("vtDestLoc", getVtDestLoc, setVtDestLoc),
    EVJ_TEXT("vtBarCodeCurrLoc", getVtBarCodeCurrLoc, setVtBarCodeCurrLoc),
    EVJ_TEXT("recallReason", getRecallReason, setRecallReason),
    EVJ_TEXT("recallDestination", getRecallDestination, setRecallDestination),
    EVJ_TEXT("objStoreCacheDir", getObjStoreCacheDir, setObjStoreCacheDir),
    EVJ_TEXTCOPY("reportName", getReportName, setReportName),
    EVJ_TEXTCOPY("compliancePolicyName", getCompliancePolicyName, setCompliancePolicyName),
    // Lists
    EVJ_LIST(TextList, "mediaList", getMediaList, setMediaList),
    EVJ_LIST(TextList, "barCodeList", getBarCodeList, setBarCodeList),
    EVJ_LIST(TextList, "vtStoragePolicyList", getVtStoragePolicyList, setVtStoragePolicyList),
    EVJ_LIST(TextList, "updatesList", getUpdatesList, setUpdatesList),
    EVJ_LIST(TextList, "copiedMediaList", getCopiedMediaList, setCopiedMediaList),
    EVJ_LIST(TextList, "foldersList", getFoldersList, setFoldersList),
    EVJ_LIST(IntList, "mediaIdsList", getMediaIdsList, setMediaIdsList),
    EVJ_LIST(IntList, "succeededMedialist", getSucceededMedialist, setSucceededMedialist),
    EVJ_LIST(IntList, "failedMedialist", getFailedMedialist, setFailedMedialist),
    EVJ_LIST(IntList, "clientIdsList", getClientIdsList, setClientIdsList),
    EVJ_LIST(IntList, "freeSpaceList", getFreeSpaceList, setFreeSpaceList),
    EVJ_LIST(IntList, "thresholdsList", getThresholdsList, setThresholdsList),
    EVJ_LIST(MsgList, "eventMsgList", getEventMsgList, setEventMsgList),
    EVJ_LIST(PhaseList, "infoManagementPhaseDetails", getInfoManagementPhaseDetails, setInfoManagementPhaseDetails),
    // Alternative names, read but never written
    Field{"unKnownClientList", List<TextList>{&EvAlertEx::getUnKnownClientList, &EvAlertEx::setUnKnownClientList},
          "copiedMediaList"},
};

#undef EVJ_I64
#undef EVJ_I32
#undef EVJ_U32
#undef EVJ_BOOL
#undef EVJ_TEXT
#undef EVJ_TEXTCOPY
#undef EVJ_LIST

const char* const kMsgKeys[] = {"tokenId", "msgId", "type", "msgIndex", "data"};
const char* const kPhaseKeys[] = {"phaseNumber", "phaseName", "count1", "count2", "count3"};

// Longest stretch of a key or of the parser's message copied into an error.
constexpr size_t kShownMax = 80;

// Printable ASCII only, so an error message is safe to put in any log line.
std::string printable(std::string_view s) {
  std::string out;
  for (char c : s.substr(0, 4 * kShownMax)) {
    unsigned char u = static_cast<unsigned char>(c);
    out += (u >= 0x20 && u < 0x7f) ? c : '?';
  }
  if (s.size() > 4 * kShownMax) out += "...";
  return out;
}

// A key as it appears in a message: quoted, escaped, cut when long.
std::string shownKey(std::string_view key) {
  bool cut = key.size() > kShownMax;
  std::string s = "\"" + printable(key.substr(0, kShownMax)) + "\"";
  if (cut) s += "...";
  return s;
}

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

// Edit distance ignoring case, so "clientID" or "clinetId" still point at
// "clientId".
size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diag = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diag = up;
    }
  }
  return row[b.size()];
}

namespace {

template <class Keys>
std::string closestKey(std::string_view key, const Keys& known) {
  if (key.empty() || key.size() > 64) return {};
  std::string k = lowered(key);
  size_t limit = std::max<size_t>(2, k.size() / 4);
  std::string best;
  size_t bestDistance = limit + 1;
  for (const auto& candidate : known) {
    size_t d = editDistance(k, lowered(candidate));
    if (d < bestDistance) {
      bestDistance = d;
      best = candidate;
    }
  }
  return best;
}

using Value = simdjson::dom::element;
using simdjson::dom::element_type;

// The type names the messages have always used.
const char* typeName(const Value& v) {
  switch (v.type()) {
    case element_type::OBJECT: return "object";
    case element_type::ARRAY: return "array";
    case element_type::STRING: return "string";
    case element_type::BOOL: return "boolean";
    case element_type::NULL_VALUE: return "null";
    default: return "number";
  }
}

// A number as the writer would print it ("12.0", "1e+20"), so the messages
// show what was read, not the digits of the line.
std::string shownNumber(const Value& v) {
  switch (v.type()) {
    case element_type::INT64: return std::to_string(int64_t(v));
    case element_type::UINT64: return std::to_string(uint64_t(v));
    default: return Json(double(v)).dump();
  }
}

struct Reader {
  EventReadError& err;

  bool fail(std::string key, std::string message) {
    err.key = std::move(key);
    err.message = std::move(message);
    return false;
  }

  bool wrongType(const std::string& key, const char* expected, const Value& v) {
    return fail(key, shownKey(key) + ": expected " + expected + ", got " + typeName(v));
  }

  template <class Keys>
  bool unknownKey(const std::string& path, std::string_view key, const Keys& known) {
    std::string message = "unknown key " + shownKey(path);
    std::string suggestion = closestKey(key, known);
    if (!suggestion.empty()) message += " (did you mean \"" + suggestion + "\"?)";
    return fail(path, std::move(message));
  }

  // Integers only, read from their exact 64-bit form; LO and HI give the
  // field's range (every range used fits in int64).
  bool integer(const std::string& key, const Value& v, int64_t lo, int64_t hi, const char* rangeName, int64_t& out) {
    bool inRange = false;
    if (v.type() == element_type::UINT64) {
      uint64_t u = v;
      inRange = hi >= 0 && u <= static_cast<uint64_t>(hi);
      if (inRange) out = static_cast<int64_t>(u);
    } else if (v.type() == element_type::INT64) {
      int64_t i = v;
      inRange = i >= lo && i <= hi;
      if (inRange) out = i;
    } else if (v.type() == element_type::DOUBLE) {
      double d = v;
      if (d > -9.2e18 && d < 1.8e19)
        return fail(key, shownKey(key) + ": expected an integer, got " + printable(shownNumber(v)));
    } else {
      return wrongType(key, "an integer", v);
    }
    if (!inRange)
      return fail(key, shownKey(key) + ": " + printable(shownNumber(v)) + " is out of range for " + rangeName + " (" +
                           std::to_string(lo) + " to " + std::to_string(hi) + ")");
    return true;
  }

  bool read(const std::string& key, const Value& v, int64_t& out) {
    return integer(key, v, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(),
                   "a 64-bit integer", out);
  }
  bool read(const std::string& key, const Value& v, int32_t& out) {
    int64_t wide = 0;
    if (!integer(key, v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(),
                 "a 32-bit integer", wide))
      return false;
    out = static_cast<int32_t>(wide);
    return true;
  }
  bool read(const std::string& key, const Value& v, uint32_t& out) {
    int64_t wide = 0;
    if (!integer(key, v, 0, std::numeric_limits<uint32_t>::max(), "an unsigned 32-bit integer", wide)) return false;
    out = static_cast<uint32_t>(wide);
    return true;
  }
  bool read(const std::string& key, const Value& v, bool& out) {
    if (!v.is_bool()) return wrongType(key, "true or false", v);
    out = bool(v);
    return true;
  }
  bool read(const std::string& key, const Value& v, std::string& out) {
    if (!v.is_string()) return wrongType(key, "a string", v);
    out = std::string_view(v);
    return true;
  }
  bool read(const std::string& key, const Value& v, AlertEventMsg& out) {
    if (!v.is_object()) return wrongType(key, "an object", v);
    for (const auto [k, item] : simdjson::dom::object(v)) {
      std::string path = key + "." + std::string(k);
      bool ok;
      if (k == "tokenId") ok = read(path, item, out.tokenId);
      else if (k == "msgId") ok = read(path, item, out.msgId);
      else if (k == "type") ok = read(path, item, out.type);
      else if (k == "msgIndex") ok = read(path, item, out.msgIndex);
      else if (k == "data") ok = read(path, item, out.data);
      else return unknownKey(path, k, kMsgKeys);
      if (!ok) return false;
    }
    return true;
  }
  bool read(const std::string& key, const Value& v, InfoManagementPhaseDetails& out) {
    if (!v.is_object()) return wrongType(key, "an object", v);
    for (const auto [k, item] : simdjson::dom::object(v)) {
      std::string path = key + "." + std::string(k);
      bool ok;
      if (k == "phaseNumber") ok = read(path, item, out.phaseNumber);
      else if (k == "phaseName") ok = read(path, item, out.phaseName);
      else if (k == "count1") ok = read(path, item, out.count1);
      else if (k == "count2") ok = read(path, item, out.count2);
      else if (k == "count3") ok = read(path, item, out.count3);
      else return unknownKey(path, k, kPhaseKeys);
      if (!ok) return false;
    }
    return true;
  }
  template <class T>
  bool read(const std::string& key, const Value& v, std::vector<T>& out) {
    if (!v.is_array()) return wrongType(key, "an array", v);
    const simdjson::dom::array list(v);
    out.clear();
    out.reserve(list.size());
    size_t i = 0;
    for (const Value item : list) {
      T element{};
      if (!read(key + "[" + std::to_string(i++) + "]", item, element)) return false;
      out.push_back(std::move(element));
    }
    return true;
  }

  bool apply(const Field& field, const Value& v, EvAlertEx& ev) {
    const std::string key = field.key;
    return std::visit(
        [&](const auto& acc) {
          using Acc = std::decay_t<decltype(acc)>;
          if constexpr (std::is_same_v<Acc, Text> || std::is_same_v<Acc, TextCopy>) {
            std::string value;
            if (!read(key, v, value)) return false;
            (ev.*acc.set)(value);
          } else {
            std::decay_t<decltype((ev.*acc.get)())> value{};
            if (!read(key, v, value)) return false;
            (ev.*acc.set)(std::move(value));
          }
          return true;
        },
        field.access);
  }
};

const Field* findField(std::string_view key) {
  static const std::unordered_map<std::string_view, const Field*> byKey = [] {
    std::unordered_map<std::string_view, const Field*> m;
    for (const Field& f : kFields) m.emplace(f.key, &f);
    return m;
  }();
  const auto it = byKey.find(key);
  return it == byKey.end() ? nullptr : it->second;
}

bool hasAlias(std::string_view key) {
  for (const Field& f : kFields)
    if (f.aliasOf && key == f.aliasOf) return true;
  return false;
}

// The first key given twice within one object, in the order of the line;
// empty when there is none. The parsed document keeps every copy of a key.
std::string_view firstDuplicate(const Value& v) {
  if (v.is_array()) {
    for (const Value item : simdjson::dom::array(v))
      if (std::string_view d = firstDuplicate(item); !d.empty()) return d;
  } else if (v.is_object()) {
    // Objects of an event hold a few dozen keys: a scan beats hashing them.
    std::vector<std::string_view> seen;
    for (const auto [k, item] : simdjson::dom::object(v)) {
      if (std::find(seen.begin(), seen.end(), k) != seen.end()) return k;
      seen.push_back(k);
      if (std::string_view d = firstDuplicate(item); !d.empty()) return d;
    }
  }
  return {};
}

// Thrown by the check below to stop the parser past kMaxEventNesting, before
// the nesting costs memory.
struct TooDeep {};

// Reads a line the fast parser refused once more with the JSON library's own
// parser, which says where and why the line is bad. It stops nesting past
// kMaxEventNesting, and notes the first integer too wide for 64 bits, which
// the library accepts and the fast parser does not.
class Diagnosis {
 public:
  bool null() { return value(); }
  bool boolean(bool) { return value(); }
  bool number_integer(Json::number_integer_t) { return value(); }
  bool number_unsigned(Json::number_unsigned_t) { return value(); }
  bool number_float(Json::number_float_t, const Json::string_t& text) {
    if (m_wide.empty() && text.find_first_of(".eE") == std::string::npos) {
      m_wideKey = path();
      m_wide = text;
    }
    return value();
  }
  bool string(Json::string_t&) { return value(); }
  bool binary(Json::binary_t&) { return value(); }
  bool start_object(std::size_t) { return deeper(false); }
  bool start_array(std::size_t) { return deeper(true); }
  bool end_object() { return out(); }
  bool end_array() { return out(); }
  bool key(Json::string_t& k) {
    m_levels.back().key = k;
    return true;
  }
  template <class Exception>
  bool parse_error(std::size_t, const std::string&, const Exception& e) {
    m_error = e.what();
    // Drop the library's "[json.exception.parse_error.101] " tag.
    size_t tag = m_error.find("] ");
    if (tag != std::string::npos && m_error.rfind("[json.exception", 0) == 0) m_error.erase(0, tag + 2);
    return false;
  }

  const std::string& error() const { return m_error; }
  // The first integer beyond 64 bits, and the path of its key.
  const std::string& wide() const { return m_wide; }
  const std::string& wideKey() const { return m_wideKey; }

 private:
  struct Level {
    bool array;
    size_t index = 0;
    std::string key;
  };
  bool deeper(bool array) {
    if (m_levels.size() >= static_cast<size_t>(kMaxEventNesting)) throw TooDeep{};
    m_levels.push_back(Level{array, 0, {}});
    return true;
  }
  bool out() {
    m_levels.pop_back();
    return value();
  }
  // Counts the elements of the array being read.
  bool value() {
    if (!m_levels.empty() && m_levels.back().array) ++m_levels.back().index;
    return true;
  }
  std::string path() const {
    std::string p;
    for (const Level& l : m_levels) {
      if (l.array) p += "[" + std::to_string(l.index) + "]";
      else p += (p.empty() ? "" : ".") + l.key;
    }
    return p;
  }

  std::vector<Level> m_levels;
  std::string m_error;
  std::string m_wide, m_wideKey;
};

bool refused(std::string_view line, Reader& r) {
  Diagnosis d;
  try {
    if (!Json::sax_parse(line.begin(), line.end(), &d))
      return r.fail("", "not valid JSON: " + printable(d.error()));
  } catch (const TooDeep&) {
    return r.fail("", "arrays and objects nested deeper than " + std::to_string(kMaxEventNesting) + " levels");
  }
  if (!d.wide().empty())
    return r.fail(d.wideKey(), shownKey(d.wideKey()) + ": " + printable(d.wide()) + " does not fit in 64 bits");
  return r.fail("", "not valid JSON");
}

// Lines up to this size are parsed by a parser kept per thread; a longer one
// gets a parser of its own, so that one long line does not hold its memory.
constexpr size_t kKeptParserBytes = 64 * 1024;

simdjson::dom::parser newParser(size_t bytes) {
  simdjson::dom::parser p;
  if (p.allocate(bytes, kMaxEventNesting) != simdjson::SUCCESS) throw std::bad_alloc();
  return p;
}

bool parseLine(std::string_view line, EvAlertEx& out, Reader& r) {
  if (line.size() > kMaxEventLineBytes)
    return r.fail("", "line of " + std::to_string(line.size()) + " bytes, longer than the limit of " +
                          std::to_string(kMaxEventLineBytes));
  // The JSON parser takes a NUL for the end of the text and would accept
  // whatever came before it.
  if (const size_t nul = line.find('\0'); nul != std::string_view::npos)
    return r.fail("", "NUL byte at column " + std::to_string(nul + 1));
  // A byte order mark may open the line, as a text editor may have saved it.
  std::string_view text = line;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

  thread_local simdjson::dom::parser kept = newParser(kKeptParserBytes);
  std::optional<simdjson::dom::parser> own;
  simdjson::dom::parser& parser = text.size() <= kKeptParserBytes ? kept : own.emplace(newParser(text.size()));
  Value doc;
  if (parser.parse(text.data(), text.size()).get(doc) != simdjson::SUCCESS) return refused(line, r);
  if (!doc.is_object()) return r.fail("", std::string("expected a JSON object, got ") + typeName(doc));
  if (std::string_view dup = firstDuplicate(doc); !dup.empty()) {
    std::string k(dup);
    return r.fail(k, "key " + shownKey(k) + " is given twice in one object");
  }

  EvAlertEx ev;
  // Keys of the slots that have a second name, as the line spelt them.
  std::vector<std::pair<std::string_view, std::string_view>> sharedSlots;
  for (const auto [key, value] : simdjson::dom::object(doc)) {
    const Field* field = findField(key);
    if (!field) {
      std::vector<std::string_view> known;
      for (const Field& f : kFields) known.push_back(f.key);
      return r.unknownKey(std::string(key), key, known);
    }
    std::string_view slot = field->aliasOf ? field->aliasOf : field->key;
    for (const auto& [seenSlot, seenKey] : sharedSlots)
      if (seenSlot == slot)
        return r.fail(std::string(key),
                      shownKey(key) + " and " + shownKey(seenKey) + " name the same list; give only one of them");
    if (field->aliasOf || hasAlias(field->key)) sharedSlots.emplace_back(slot, field->key);
    if (!r.apply(*field, value, ev)) return false;
  }
  out = std::move(ev);
  return true;
}

Json toJson(const AlertEventMsg& m) {
  Json j = Json::object();
  j["tokenId"] = m.tokenId;
  j["msgId"] = m.msgId;
  j["type"] = m.type;
  j["msgIndex"] = m.msgIndex;
  j["data"] = m.data;
  return j;
}

Json toJson(const InfoManagementPhaseDetails& p) {
  Json j = Json::object();
  j["phaseNumber"] = p.phaseNumber;
  j["phaseName"] = p.phaseName;
  j["count1"] = p.count1;
  j["count2"] = p.count2;
  j["count3"] = p.count3;
  return j;
}

template <class T>
Json toJson(const T& v) {
  return Json(v);
}

template <class T>
Json toJson(const std::vector<T>& list) {
  Json j = Json::array();
  for (const T& element : list) j.push_back(toJson(element));
  return j;
}

template <class T>
bool isEmptyValue(const T& v) {
  if constexpr (std::is_same_v<T, bool>) return !v;
  else if constexpr (std::is_arithmetic_v<T>) return v == 0;
  else return v.empty();
}

}  // namespace

bool parseEventLine(std::string_view line, EvAlertEx& out, EventReadError& err) {
  Reader r{err};
  try {
    return parseLine(line, out, r);
  } catch (const std::bad_alloc&) {
    return r.fail("", "out of memory while reading the line");
  } catch (const std::exception& e) {
    return r.fail("", std::string("cannot read the line: ") + printable(e.what()));
  } catch (...) {
    return r.fail("", "cannot read the line");
  }
}

std::string eventToJson(const EvAlertEx& ev, bool allKeys) {
  try {
    Json doc = Json::object();
    for (const Field& field : kFields) {
      if (field.aliasOf) continue;
      std::visit(
          [&](const auto& acc) {
            const auto& value = (ev.*acc.get)();
            if (allKeys || !isEmptyValue(value)) doc[field.key] = toJson(value);
          },
          field.access);
    }
    return doc.dump(-1, ' ', false, Json::error_handler_t::replace);
  } catch (...) {
    return {};
  }
}

const std::vector<std::string>& eventJsonKeys() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> k;
    for (const Field& f : kFields) k.emplace_back(f.key);
    return k;
  }();
  return keys;
}
