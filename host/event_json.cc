#include "host/event_json.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <new>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

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

struct Reader {
  EventReadError& err;

  bool fail(std::string key, std::string message) {
    err.key = std::move(key);
    err.message = std::move(message);
    return false;
  }

  bool wrongType(const std::string& key, const char* expected, const Json& v) {
    return fail(key, shownKey(key) + ": expected " + expected + ", got " + v.type_name());
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
  bool integer(const std::string& key, const Json& v, int64_t lo, int64_t hi, const char* rangeName, int64_t& out) {
    bool inRange = false;
    if (v.is_number_unsigned()) {
      uint64_t u = v.get<uint64_t>();
      inRange = hi >= 0 && u <= static_cast<uint64_t>(hi);
      if (inRange) out = static_cast<int64_t>(u);
    } else if (v.is_number_integer()) {
      int64_t i = v.get<int64_t>();
      inRange = i >= lo && i <= hi;
      if (inRange) out = i;
    } else if (v.is_number_float()) {
      // The parser turns integers beyond 64 bits into doubles too.
      double d = v.get<double>();
      if (d > -9.2e18 && d < 1.8e19)
        return fail(key, shownKey(key) + ": expected an integer, got " + printable(v.dump()));
    } else {
      return wrongType(key, "an integer", v);
    }
    if (!inRange)
      return fail(key, shownKey(key) + ": " + printable(v.dump()) + " is out of range for " + rangeName + " (" +
                           std::to_string(lo) + " to " + std::to_string(hi) + ")");
    return true;
  }

  bool read(const std::string& key, const Json& v, int64_t& out) {
    return integer(key, v, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(),
                   "a 64-bit integer", out);
  }
  bool read(const std::string& key, const Json& v, int32_t& out) {
    int64_t wide = 0;
    if (!integer(key, v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(),
                 "a 32-bit integer", wide))
      return false;
    out = static_cast<int32_t>(wide);
    return true;
  }
  bool read(const std::string& key, const Json& v, uint32_t& out) {
    int64_t wide = 0;
    if (!integer(key, v, 0, std::numeric_limits<uint32_t>::max(), "an unsigned 32-bit integer", wide)) return false;
    out = static_cast<uint32_t>(wide);
    return true;
  }
  bool read(const std::string& key, const Json& v, bool& out) {
    if (!v.is_boolean()) return wrongType(key, "true or false", v);
    out = v.get<bool>();
    return true;
  }
  bool read(const std::string& key, const Json& v, std::string& out) {
    if (!v.is_string()) return wrongType(key, "a string", v);
    out = v.get_ref<const std::string&>();
    return true;
  }
  bool read(const std::string& key, const Json& v, AlertEventMsg& out) {
    if (!v.is_object()) return wrongType(key, "an object", v);
    for (const auto& [k, item] : v.items()) {
      std::string path = key + "." + k;
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
  bool read(const std::string& key, const Json& v, InfoManagementPhaseDetails& out) {
    if (!v.is_object()) return wrongType(key, "an object", v);
    for (const auto& [k, item] : v.items()) {
      std::string path = key + "." + k;
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
  bool read(const std::string& key, const Json& v, std::vector<T>& out) {
    if (!v.is_array()) return wrongType(key, "an array", v);
    out.clear();
    out.reserve(v.size());
    for (size_t i = 0; i < v.size(); ++i) {
      T element{};
      if (!read(key + "[" + std::to_string(i) + "]", v[i], element)) return false;
      out.push_back(std::move(element));
    }
    return true;
  }

  bool apply(const Field& field, const Json& v, EvAlertEx& ev) {
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

// Notes the first key found twice within one object. The DOM
// keeps only one value per key, so this has to be caught while parsing.
// Thrown by the watch below to stop the parser past kMaxEventNesting, before
// the nesting costs memory.
struct TooDeep {};

// Builds the document like the library's own DOM builder, and on the way
// stops nesting past kMaxEventNesting and notes the first duplicate key.
class EventSax {
 public:
  explicit EventSax(Json& doc) : m_dom(doc) {}
  bool null() { return m_dom.null(); }
  bool boolean(bool v) { return m_dom.boolean(v); }
  bool number_integer(Json::number_integer_t v) { return m_dom.number_integer(v); }
  bool number_unsigned(Json::number_unsigned_t v) { return m_dom.number_unsigned(v); }
  bool number_float(Json::number_float_t v, const Json::string_t& s) { return m_dom.number_float(v, s); }
  bool string(Json::string_t& v) { return m_dom.string(v); }
  bool binary(Json::binary_t& v) { return m_dom.binary(v); }
  bool start_object(std::size_t n) {
    deeper();
    m_keys.emplace_back();
    return m_dom.start_object(n);
  }
  bool end_object() {
    --m_depth;
    m_keys.pop_back();
    return m_dom.end_object();
  }
  bool start_array(std::size_t n) {
    deeper();
    return m_dom.start_array(n);
  }
  bool end_array() {
    --m_depth;
    return m_dom.end_array();
  }
  bool key(Json::string_t& k) {
    // Objects of an event hold a few dozen keys: a scan beats hashing them.
    if (m_duplicate.empty() && !m_keys.empty()) {
      std::vector<std::string>& seen = m_keys.back();
      if (std::find(seen.begin(), seen.end(), k) != seen.end()) m_duplicate = k;
      else seen.push_back(k);
    }
    return m_dom.key(k);
  }
  template <class Exception>
  bool parse_error(std::size_t position, const std::string& token, const Exception& e) {
    return m_dom.parse_error(position, token, e);
  }
  const std::string& duplicate() const { return m_duplicate; }

 private:
  void deeper() {
    if (m_depth >= kMaxEventNesting) throw TooDeep{};
    ++m_depth;
  }
  nlohmann::detail::json_sax_dom_parser<Json> m_dom;
  std::vector<std::vector<std::string>> m_keys;
  int m_depth = 0;
  std::string m_duplicate;
};

bool parseLine(std::string_view line, EvAlertEx& out, Reader& r) {
  if (line.size() > kMaxEventLineBytes)
    return r.fail("", "line of " + std::to_string(line.size()) + " bytes, longer than the limit of " +
                          std::to_string(kMaxEventLineBytes));
  // The JSON parser takes a NUL for the end of the text and would accept
  // whatever came before it.
  if (const size_t nul = line.find('\0'); nul != std::string_view::npos)
    return r.fail("", "NUL byte at column " + std::to_string(nul + 1));
  Json doc;
  EventSax watch(doc);
  try {
    Json::sax_parse(line.begin(), line.end(), &watch);
  } catch (const TooDeep&) {
    return r.fail("", "arrays and objects nested deeper than " + std::to_string(kMaxEventNesting) + " levels");
  } catch (const Json::exception& e) {
    // Syntax errors, and numbers too large even for a double.
    std::string what = e.what();
    // Drop the library's "[json.exception.parse_error.101] " tag.
    size_t tag = what.find("] ");
    if (tag != std::string::npos && what.rfind("[json.exception", 0) == 0) what.erase(0, tag + 2);
    return r.fail("", "not valid JSON: " + printable(what));
  }
  if (!doc.is_object()) return r.fail("", std::string("expected a JSON object, got ") + doc.type_name());
  if (!watch.duplicate().empty())
    return r.fail(watch.duplicate(), "key " + shownKey(watch.duplicate()) + " is given twice in one object");

  EvAlertEx ev;
  // Keys of the slots that have a second name, as the line spelt them.
  std::vector<std::pair<std::string_view, std::string_view>> sharedSlots;
  for (const auto& [key, value] : doc.items()) {
    const Field* field = findField(key);
    if (!field) {
      std::vector<std::string_view> known;
      for (const Field& f : kFields) known.push_back(f.key);
      return r.unknownKey(key, key, known);
    }
    std::string_view slot = field->aliasOf ? field->aliasOf : field->key;
    for (const auto& [seenSlot, seenKey] : sharedSlots)
      if (seenSlot == slot)
        return r.fail(key, shownKey(key) + " and " + shownKey(seenKey) + " name the same list; give only one of them");
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
