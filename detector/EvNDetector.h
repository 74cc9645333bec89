// The detector: the host constructs one EvNDetector and calls StoreNotiData
// with one alert event at a time. Each call runs to its end on the caller's
// thread and returns true (recorded, matched, or dropped by rule) or false
// (invalid event or failure). No exception leaves a detector function.
//
// The per-event fields (EvNDetectorEventState) are shared by the entry, the
// detected-alert record and the handlers. Every StoreNotiData starts them
// afresh, so nothing of one event leaks into the next on a reused detector;
// what outlives an event (console address, rule parameters, the block flag)
// lives in EvNDetector itself.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Db/DbTypes.h"
#include "detector/suppression_args.h"
#include "params/EvNDetectParams.h"
#include "params/EvNTRuleParams.h"

class EvAlertEx;
class EvAlertDebug;
class CNMessageBase;
struct NTDetectedAlerts_t;
namespace App {
class QueryResultsContainer;
}  // namespace App

// What became of one event. An event may touch several occurrences (a
// saved-query event carries one result per entity): its kind is then New
// when any occurrence was new, else Cleared when any was cleared, else
// Repeat; the counts and the last occurrence id tell the rest.
enum class EvNEventKind {
  None,       // no event handled yet
  New,        // a new occurrence was recorded
  Repeat,     // a pending occurrence was refreshed
  Cleared,    // a pending occurrence was cleared
  Unchanged,  // handled, no occurrence touched (a clearing with nothing pending)
  NoRule,     // dropped: no enabled rule for the alert type
  Blocked,    // dropped: alerts are blocked on this server
  Invalid,    // refused: the event does not carry what it needs
  Failed,     // the handler (or the database) failed
};
// The lower-case name used in reports: "new", "no-rule", ...
const char* eventKindName(EvNEventKind kind);

// The state of the event being handled. A field added here is reset with
// the others at the start of every event.
struct EvNDetectorEventState {
  int m_eventId = 0;
  int m_category = 0;
  int m_alertType = 0;
  int m_criteria = 0;
  int m_oldAlertId = 0;
  int m_alertStatus = 0;
  int64_t m_serverEventSelector = -1;
  int m_notificationId = 0;
  std::string m_entityId;
  // The suppression object last worked out for the event and what it was
  // worked out from. Validation, the repeat look-up and the marking of a new
  // occurrence ask for the same object; it is worked out once and found
  // again while the criteria, type, old condition and the ids it read stay
  // the same.
  struct SuppressionObject {
    bool known = false;
    int criteria = 0;
    int alertType = 0;
    int alertStatus = 0;
    EvSuppressionArgs args;
    unsigned idsRead = 0;  // one bit per id of ARGS, in declaration order
    std::string type;
    long long id = 0;
  } m_suppressionObject;
  // Occurrences this event made, refreshed or cleared, and the last one's id.
  int m_occurrencesNew = 0;
  int m_occurrencesRepeated = 0;
  int m_occurrencesCleared = 0;
  int m_lastOccurrenceId = 0;
  // Why the event was refused, when it was.
  std::string m_refusal;
  // Working fields of the custom-query and trend handlers.
  int m_queryAlertKind = 0;
  int m_lastMatchTime = 0;
  int m_matchedBefore = 0;
  int m_lastValueFilter = 0;
};

class EvNDetector : protected EvNDetectorEventState {
 public:
  EvNDetector();
  virtual ~EvNDetector();
  EvNDetector(const EvNDetector&) = delete;
  EvNDetector& operator=(const EvNDetector&) = delete;

  // Process-wide: -1 not yet asked, 1 blocked, 0 not blocked. Every
  // construction sets it back to -1.
  static int m_blockAlerts;

  // ---- entry and dispatch ----
  bool StoreNotiData(EvAlertEx& alert);
  // From beginGroupReads() to endGroupReads() (a group of events that
  // shares one short transaction: EvNEventBatch) whether an alert type has
  // an enabled rule, its category and the TraceAlerts flag are read once
  // and reused for every event; outside, each event reads them. A read
  // that failed is not kept. Rule properties the handlers read and write
  // are always read.
  void beginGroupReads();
  void endGroupReads();
  bool MapAlertsToRelease5_9(int alert, int condition);
  bool ValidateInputParameters(EvAlertEx& alert);
  bool GetLastEvMsgId(int& id);

  // How the last StoreNotiData call ended, for hosts that count outcomes.
  enum class Outcome { None, Blocked, Invalid, NoRule, NoCategory, Handled, Failed, NoHandler };
  Outcome lastOutcome() const { return m_lastOutcome; }
  // What became of the last event, and its occurrences (see EvNEventKind).
  EvNEventKind lastKind() const;
  int lastOccurrenceId() const { return m_lastOccurrenceId; }
  int lastNewCount() const { return m_occurrencesNew; }
  int lastRepeatCount() const { return m_occurrencesRepeated; }
  int lastClearedCount() const { return m_occurrencesCleared; }
  // For a refused or failed event: the refusal, else the last error line
  // the detector logged while handling it; empty otherwise (also for a
  // failure nothing was logged for).
  const std::string& lastReason() const { return m_lastReason; }
  // Told by the steps that decide it: occurrence EVENTID of this event was
  // made new, refreshed, or cleared.
  void noteOccurrence(EvNEventKind kind, int eventId);

  int getEventId() const { return m_eventId; }
  void setEventId(int id) { m_eventId = id; }
  void SetNotiCriteria(int criteria) { m_criteria = criteria; }
  void SetNotiCategoryAndType(int category, int alertType) {
    m_category = category;
    m_alertType = alertType;
  }

  // Read access to the per-event state (for the host, tools and tests).
  int getCategory() const { return m_category; }
  int getAlertType() const { return m_alertType; }
  int getCriteria() const { return m_criteria; }
  int getOldAlertId() const { return m_oldAlertId; }
  int getAlertStatus() const { return m_alertStatus; }
  int getNotificationId() const { return m_notificationId; }
  void setNotificationId(int id) { m_notificationId = id; }
  const std::string& getEntityId() const { return m_entityId; }
  void setEntityId(const std::string& id) { m_entityId = id; }
  // "Type|id" of the suppression object last worked out for the event
  // (after validation, the event's own); empty when it names none.
  std::string getSuppressionEntity() const {
    return m_suppressionObject.type.empty() ? std::string()
                                            : m_suppressionObject.type + "|" + std::to_string(m_suppressionObject.id);
  }

  // ---- detected-alert record ----
  void SetNotiRec(NTDetectedAlerts_t* row);
  // WRITINGISPENDING: an occurrence still in state 0 counts as pending too.
  bool SetDetectedAlert(int& existingEventId, bool conditionCleared, int occurTime, bool writingIsPending = false);

  // ---- suppression object and repeated-alert matching ----
  std::string GetSupressionObjTypeId(int library, int sparePool, int drive, int media, int mediaAgent, int mountPath,
                                     int client, int subClient, long long& objId, long long jobId, int store,
                                     int ruleOrUser, int storagePolicy, int copy);
  // True when VALUE equals one of VALUES, e.g. IsValueIn(m_criteria, {18, 77}).
  // VALUE is taken wide so that a 64-bit id is compared, never cut.
  static bool IsValueIn(long long value, std::initializer_list<int> values);
  static bool IsOldConditionIn(long long value, std::initializer_list<int> values);
  int GetExistingEventIdEx(int library, int sparePool, int drive, int media, int mediaAgent, int mountPath,
                           int client, int subClient, long long jobId, int store, int ruleOrUser, int storagePolicy,
                           int copy);
  bool EnableSupression(int eventId, int library, int sparePool, int drive, int media, int mediaAgent,
                        int mountPath, int client, int subClient, long long jobId, int store, int ruleOrUser,
                        int storagePolicy, int copy);
  // The same three with the argument list as one value; the positional
  // forms above hand their ids on to these.
  std::string GetSupressionObjTypeId(const EvSuppressionArgs& args, long long& objId);
  int GetExistingEventIdEx(const EvSuppressionArgs& args);
  bool EnableSupression(int eventId, const EvSuppressionArgs& args);

  // ---- diagnostics and time ----
  void Trace(int eventId, EvAlertEx& alert);
  static long DbDatetimeToUlongTime(char* text, DB_DATETIME& dt, bool utcText);
  static long DbDatetimeToUlongUTCTime(DB_DATETIME& dt);
  static void UlongTimeToDbDatetime(long time, DB_DATETIME& dt, bool utc);
  static long long ConcJobId(unsigned long high, unsigned long low);
  static long long JobIdHigh(long long id);
  static long long JobIdLow(long long id);

  // ---- look-ups that write parameters ----
  bool getDownloadedUpdates(int eventId, unsigned long jobId, int onlyWithStatus, NotiParamTypes type);
  std::string getOSVersionGivenId(int osType);

  // ---- console addresses and entity links ----
  // The web console address used by the trend alerts; empty when none is
  // registered. Cached in the detector once found.
  std::string RetrieveWebconsoleUrl();
  // 0 and the address cut right after its last "/webconsole", else non-zero.
  static int getDefaultWebConsoleURL(std::string& url);
  // 0 and the admin console address of a console hosted on another client
  // (cached for the process while that client still carries the console
  // package), else non-zero.
  static int fetchNonCXAdminConsoleURL(std::string& url);
  // 0 and the admin console address (no trailing slash), else non-zero.
  static int getDefaultAdminConsoleURL(std::string& url);
  // HTML anchors into the admin console. Display texts are escaped for
  // HTML and route parts taken from names are percent-encoded, so a name
  // never becomes markup; with no known console the anchor has an empty
  // target (docs/links.md).
  static std::string FrameHTMLLink(std::string url, std::string text);
  static std::string GetClientLink(int clientId, std::string name, int appTypeId);
  static std::string GetSubClientLink(int subclientId, std::string name, int appTypeId, int collectionRouteId);
  static std::string GetJobLink(int jobId);
  static std::string GetArchGroupLink(int storagePolicyId, std::string name);
  static std::string GetArchGroupCopyLink(int storagePolicyId, int copyId, std::string storagePolicyName,
                                          std::string copyName);
  static std::string GetIDALink(int clientId, int appTypeId, std::string name);

  // ---- handlers, one per alert family (detector/handlers.def) ----
#define EVD_CLEARED_PARAM_true , int criteriaCleared
#define EVD_CLEARED_PARAM_false
#define EVD_TYPE(id, name, category)
#define EVD_HANDLER(member, takesCleared, ...) bool member(EvAlertEx& alert EVD_CLEARED_PARAM_##takesCleared);
#include "detector/handlers.def"
#undef EVD_CLEARED_PARAM_true
#undef EVD_CLEARED_PARAM_false
  // Adds the anomalous server events of the last full hour to occurrence
  // EVENTID; always true.
  bool StoreAdminAlertForEvents(int eventId);

  // ---- saved-query results and log-monitoring trends ----
  bool StoreCustomQueryDataForAlert(App::QueryResultsContainer& container, bool cleared, long runTime, bool setStatus);
  void UpdateCustomQueryColumns(int eventId, const std::vector<std::unique_ptr<CNMessageBase>>* pairs);
  // Pending occurrence (also one still in state 0) of ENTITYID under RULEID:
  // its event id, 0 when none, -1 on a database error.
  int getDetectedAlertForQueryResult(int queryId, int ruleId, const std::string& entityId);
  // The saved query of a rule; 0 when it cannot be read.
  int RetrieveQueryForNTRule(int ruleId);
  // A container of a trend rule: its trend entries become column values of
  // its entity, then it is stored as a saved-query result (a cleared trend
  // reports itself first, then its clearing).
  bool StoreLMTrendAlertData(App::QueryResultsContainer& container, bool cleared, long runTime);

  // Hooks for tests and tools; the defaults are what a host runs with.
  struct Testing {
    // Told by Dispatch which handler is about to run and the
    // criteria-cleared flag it gets, -1 for a handler that takes none.
    // Null, the default, costs nothing.
    using DispatchObserver = void (*)(const char* handler, int criteriaCleared);
    static DispatchObserver dispatchObserver;

    // Where StoreDataProtectionData reads the per-VM alert setting; the
    // default is isVMBackupFeatureDisabled, which reads it once per process,
    // so a test points it elsewhere to see both values in one process.
    using VMFeatureProbe = int (*)();
    static VMFeatureProbe vmBackupFeatureProbe;
  };

 protected:
  // StoreNotiData without working out the reason of a refusal or failure.
  bool storeEvent(EvAlertEx& alert);
  // Dispatches on the alert type; false for a type without a handler.
  bool Dispatch(EvAlertEx& alert, int criteriaCleared);
  // Back to the per-event state of a new detector.
  void ResetEventState() { static_cast<EvNDetectorEventState&>(*this) = EvNDetectorEventState(); }

  // Whether ALERTTYPE has an enabled rule (a failed read counts as one);
  // its category into *CATEGORY, false (logged) when it cannot be read;
  // whether events are traced. Kept within a group (beginGroupReads).
  bool ruleEnabled(int alertType, EvAlertDebug& log);
  bool readCategory(int alertType, EvAlertDebug& log, int* category);
  bool traceOn();

  struct GroupReads {
    bool on = false;
    std::map<int, bool> ruleEnabled;
    std::map<int, int> category;
    int trace = -1;  // -1 not read yet in this group
  };
  GroupReads m_groupReads;
  std::string m_consoleAddress;
  EvNTRuleParams m_ruleParams{nullptr};
  Outcome m_lastOutcome = Outcome::None;
  std::string m_lastReason;
};

// Exported helpers of the detector.
int isVMBackupFeatureDisabled();
bool isIndexingVSAV2EnabledOnClient(unsigned int clientId);
int ClearDetectedAlertsForRule(int ruleId);
bool isDataUpdateSupportedInRepeatedAlert(int alertType);
// Adds the per-folder free-space figures of ALERT as message parameters of
// EVENTID: percentages when the description's App::NtClientAlertAdditionalInfo
// says so, megabytes otherwise. True when they were all written.
bool populateNtClientAlertAdditionalInfo(int eventId, EvNDetectParams params, EvAlertEx alert);
// 3 for a trend rule, else 0; LASTVALUEFILTER tells whether the rule has a
// last-value filter.
int GetAlertTypeForLMAlerts(int ruleId, int& lastValueFilter);
// The detected-alert status of a saved-query result status.
int GetDAStatusForLMAlerts(int status);

// State changes of one NTDetectedAlerts row; true on success.
bool SetStatus_Detected(int eventId);
bool SetStatus(int eventId, int processStat);
bool SetStatus(int eventId, int processStat, int status);
