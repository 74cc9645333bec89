// The detector's entry: block check, normalisation of the event's alert type
// and criteria, validation, the rule and category look-ups and the dispatch
// to one category handler.
#include "detector/EvNDetector.h"

#include <cstdint>
#include <cstring>
#include <exception>
#include <string>

#include "Db/AllBindings.h"
#include "host/EvAlertDebug.h"
#include "host/EvAlertEx.h"
#include "host/NxPlatform.h"

int EvNDetector::m_blockAlerts = -1;
EvNDetector::Testing::DispatchObserver EvNDetector::Testing::dispatchObserver = nullptr;
EvNDetector::Testing::VMFeatureProbe EvNDetector::Testing::vmBackupFeatureProbe = &isVMBackupFeatureDisabled;

namespace {

constexpr const char* kStoreNotiData = "EvNDetector::StoreNotiData";

// Alert type of the server's event-log alerts.
constexpr int kEventLogAlertType = 58;
// Rules whose status carries one of these bits are switched off.
constexpr int kRuleDisabledBits = 3;

// Configuration conditions that are re-derived from the old numbering even
// when the event carries criteria.
constexpr int kCriteriaClearingConditions[] = {3032, 3033, 3034, 3035, 3036, 3037,
                                               3038, 3039, 3040, 3041, 3046, 3047};

struct IdMap {
  int from;
  int to;
};

// Old condition id -> criteria.
constexpr IdMap kConditionToCriteria[] = {
    {2, 1},     {2016, 1},  {2030, 1},  {2051, 1},
    {3, 57},
    {4, 3},     {2017, 3},  {2018, 3},  {2019, 3},  {2031, 3},  {2032, 3},  {2052, 3},  {3006, 3},
    {7, 16},    {12, 16},   {2060, 16}, {3024, 16},
    {9, 21},    {10, 21},   {11, 21},   {1007, 21}, {1009, 21},
    {13, 7},    {2050, 7},
    {1002, 17}, {1003, 17},
    {1008, 18}, {1013, 18}, {3034, 18}, {3036, 18}, {3037, 18}, {3041, 18}, {3044, 18}, {3046, 18}, {3047, 18},
    {1011, 19},
    {2001, 30},
    {2002, 20},
    {2003, 29},
    {2005, 25}, {2006, 25}, {2014, 25},
    {2007, 22}, {2010, 22}, {2011, 22}, {3029, 22},
    {2008, 24}, {2020, 24},
    {2009, 23}, {2013, 23},
    {2012, 26}, {2015, 26},
    {2033, 14}, {3001, 14}, {3002, 14}, {3003, 14}, {3004, 14}, {3005, 14}, {3045, 14},
    {2040, 27}, {2041, 27},
    {2053, 10}, {2054, 10}, {2055, 10},
    {2056, 11},
    {2057, 12},
    {2058, 13},
    {2059, 8},
    {2061, 28},
    {3010, 46},
    {3026, 6},
    {3027, 31},
    {3031, 72},
    {3032, 78},
    {3033, 77},
    {3035, 79}, {3038, 79}, {3039, 79}, {3040, 79},
    {3042, 4},
};

// Old alert id -> alert type (2001 is resolved by condition, below).
constexpr int kAlertByCondition = 2001;
constexpr IdMap kAlertToType[] = {
    {53, 53},   {61, 61},   {1001, 14}, {1004, 1},  {1006, 2},  {1007, 3},  {1010, 5},
    {1020, 12}, {1021, 19}, {2000, 13}, {2002, 17}, {2021, 9},  {2022, 18}, {3001, 3},
    {3002, 4},  {3020, 10}, {3021, 10}, {4001, 15}, {4002, 6},  {5001, 20},
};

// Old alert id 2001: condition -> alert type.
constexpr IdMap kAlert2001ConditionToType[] = {
    {7, 16},    {12, 16},   {2060, 16},
    {2002, 21}, {2003, 21}, {3027, 21},
    {2008, 17}, {2009, 17}, {2010, 17}, {2011, 17}, {2012, 17}, {2013, 17}, {2014, 17}, {2015, 17},
    {2020, 17}, {2040, 17}, {2041, 17}, {3029, 17},
    {2016, 7},  {2017, 7},  {2018, 7},  {2019, 7},
    {2030, 8},  {2031, 8},  {2032, 8},  {2033, 8},
};

template <size_t N>
bool lookUp(const IdMap (&table)[N], int from, int& to) {
  for (const IdMap& m : table) {
    if (m.from == from) {
      to = m.to;
      return true;
    }
  }
  return false;
}

bool clearsCriteria(long long condition) {
  for (int c : kCriteriaClearingConditions)
    if (c == condition) return true;
  return false;
}

// Whether ALERTTYPE has a rule that is switched on. A failed look-up counts
// as a rule: better a notification too many than an alert lost to a passing
// database error. *FAILED tells which it was.
bool enabledRuleExists(int alertType, EvAlertDebug& log, bool* failed) {
  NTnotificationRule rules(nullptr);
  rules.setIsolationType(4);
  rules.setWhere("alertTypeId = %d and (status & %d) = 0", alertType, kRuleDisabledBits);
  const int rc = rules.getOneRow();
  *failed = !DBrowRead(rc) && rc != DB_NO_DATA;
  if (*failed)
    log.Error(kStoreNotiData, "Cannot read rules for Alert [%d], table [%s], ErrorString [%s]", alertType,
              rules.getTableName(), rules.getErrorStr(rc));
  return rc != DB_NO_DATA;
}

// An event-log alert without a rule still moves the last-processed message
// marker on, so that enabling a rule later does not replay the backlog.
void moveEventLogMarker(EvNDetector& detector, EvAlertDebug& log) {
  int id = 0;
  if (!detector.GetLastEvMsgId(id)) {
    log.Error(kStoreNotiData, " Unable to retrieve Id for last message from KrCounter. ");
    return;
  }
  const int rc = NXGlobalParam::setNTAlertLastEventId(id, nullptr);
  if (rc == 0)
    log.DebugLvl(kStoreNotiData, 3, "Updated Params for last Event processed for Alerts is [%d].", id);
  else
    log.Error(kStoreNotiData, "Unable to update last Event processed for Alerts to [%d], error [%d].", id, rc);
}

}  // namespace

EvNDetector::EvNDetector() { m_blockAlerts = -1; }

void EvNDetector::beginGroupReads() {
  m_groupReads = GroupReads();
  m_groupReads.on = true;
}

void EvNDetector::endGroupReads() { m_groupReads = GroupReads(); }

bool EvNDetector::ruleEnabled(int alertType, EvAlertDebug& log) {
  if (m_groupReads.on)
    if (const auto it = m_groupReads.ruleEnabled.find(alertType); it != m_groupReads.ruleEnabled.end())
      return it->second;
  bool failed = false;
  const bool enabled = enabledRuleExists(alertType, log, &failed);
  if (m_groupReads.on && !failed) m_groupReads.ruleEnabled[alertType] = enabled;
  return enabled;
}

bool EvNDetector::readCategory(int alertType, EvAlertDebug& log, int* category) {
  if (m_groupReads.on)
    if (const auto it = m_groupReads.category.find(alertType); it != m_groupReads.category.end()) {
      *category = it->second;
      return true;
    }
  NTAlertType types(nullptr);
  types.setWhere("id = %d", alertType);
  const int rc = types.getOneRow();
  if (!DBrowRead(rc)) {
    log.Error(kStoreNotiData, "Cannot read category for Alert [%d], table [%s], ErrorString [%s]", alertType,
              types.getTableName(), types.getErrorStr(rc));
    return false;
  }
  *category = types.getDataPtr()->categoryID;
  if (m_groupReads.on) m_groupReads.category[alertType] = *category;
  return true;
}

bool EvNDetector::traceOn() {
  if (m_groupReads.on && m_groupReads.trace != -1) return m_groupReads.trace == 1;
  NXPI_CentrixServer server;
  server.setFocus(NXPI_Focus::getFocus());
  const int trace = server.getTraceAlerts() == 1 ? 1 : 0;
  if (m_groupReads.on) m_groupReads.trace = trace;
  return trace == 1;
}

EvNDetector::~EvNDetector() = default;

const char* eventKindName(EvNEventKind kind) {
  switch (kind) {
    case EvNEventKind::None: return "none";
    case EvNEventKind::New: return "new";
    case EvNEventKind::Repeat: return "repeat";
    case EvNEventKind::Cleared: return "cleared";
    case EvNEventKind::Unchanged: return "unchanged";
    case EvNEventKind::NoRule: return "no-rule";
    case EvNEventKind::Blocked: return "blocked";
    case EvNEventKind::Invalid: return "invalid";
    case EvNEventKind::Failed: return "failed";
  }
  return "none";
}

EvNEventKind EvNDetector::lastKind() const {
  switch (m_lastOutcome) {
    case Outcome::None: return EvNEventKind::None;
    case Outcome::Blocked: return EvNEventKind::Blocked;
    case Outcome::Invalid: return EvNEventKind::Invalid;
    case Outcome::NoRule: return EvNEventKind::NoRule;
    case Outcome::NoCategory:
    case Outcome::Failed:
    case Outcome::NoHandler: return EvNEventKind::Failed;
    case Outcome::Handled: break;
  }
  if (m_occurrencesNew > 0) return EvNEventKind::New;
  if (m_occurrencesCleared > 0) return EvNEventKind::Cleared;
  if (m_occurrencesRepeated > 0) return EvNEventKind::Repeat;
  return EvNEventKind::Unchanged;
}

void EvNDetector::noteOccurrence(EvNEventKind kind, int eventId) {
  if (kind == EvNEventKind::New) ++m_occurrencesNew;
  else if (kind == EvNEventKind::Repeat) ++m_occurrencesRepeated;
  else if (kind == EvNEventKind::Cleared) ++m_occurrencesCleared;
  else return;
  m_lastOccurrenceId = eventId;
}

bool EvNDetector::StoreNotiData(EvAlertEx& alert) {
  // The reason is taken where the detector decided or logged it, so that a
  // host can report a failure without reading the alert log back.
  const unsigned long long errorsBefore = EvDebug::errorTally().count;
  const bool result = storeEvent(alert);
  try {
    m_lastReason.clear();
    const EvNEventKind kind = lastKind();
    if (kind == EvNEventKind::Invalid) {
      m_lastReason = m_refusal.empty() ? "invalid input" : m_refusal;
    } else if (kind == EvNEventKind::Failed) {
      EvDebug::ErrorTally errors = EvDebug::errorTally();
      if (errors.count != errorsBefore) m_lastReason = std::move(errors.last);
      else if (m_lastOutcome == Outcome::NoHandler) m_lastReason = "no handler for alert type " + std::to_string(m_alertType);
    }
  } catch (...) {
  }
  return result;
}

bool EvNDetector::storeEvent(EvAlertEx& alert) {
  try {
    EvAlertDebug log;
    bool result = false;
    m_lastOutcome = Outcome::None;
    // A reused detector must treat each event as a new one would: nothing
    // the previous event set (its type, its row, its rule, its object) may
    // be recorded under this one.
    ResetEventState();

    if (m_blockAlerts == -1) {
      NXPI_CentrixServer server;
      server.setFocus(NXPI_Focus::getFocus());
      m_blockAlerts = server.getBlockAlerts() == 1 ? 1 : 0;
    }
    if (m_blockAlerts == 1) {
      m_lastOutcome = Outcome::Blocked;
      return true;
    }

    int criteriaCleared = 0;
    // The dump goes to the alert log; it answers whether that log is verbose.
    bool verbose = alert.DumpAlert("Server Side", log);
    if (alert.getAlertCriteria() > 0 && clearsCriteria(alert.getCondition())) {
      alert.setAlertCriteria(0);
      criteriaCleared = 1;
    }

    if (alert.getAlertCriteria() == 0 && alert.getAlert() == 0 && alert.getCondition() == 0) {
      // Nothing to map from: without this the event would pass as alert
      // type 0, which has no rule, and be reported as dropped.
      m_alertType = alert.getAlertType();
      m_refusal = "alertCriteria is missing (and there is no alert and condition to map it from)";
      log.DebugLvl(kStoreNotiData, 3, "Invalid Input Parameter: %s", m_refusal.c_str());
      m_lastOutcome = Outcome::Invalid;
      return false;
    }
    if (alert.getAlertCriteria() != 0) {
      m_alertType = alert.getAlertType();
      m_criteria = alert.getAlertCriteria();
      m_oldAlertId = 0;
      m_alertStatus = alert.getAlertStatus();
    } else if (!MapAlertsToRelease5_9(static_cast<int>(alert.getAlert()), static_cast<int>(alert.getCondition()))) {
      verbose = true;
    }

    if (!ValidateInputParameters(alert)) {
      log.DebugLvl(kStoreNotiData, 3, "Invalid Input Parameter");
      m_lastOutcome = Outcome::Invalid;
      return false;
    }

    int category = 0;
    if (!ruleEnabled(m_alertType, log)) {
      if (verbose) log.DebugLvl(kStoreNotiData, 3, "alert skipped, no rule defined, alert = [%d].", m_alertType);
      if (m_alertType == kEventLogAlertType) moveEventLogMarker(*this, log);
      result = true;
      m_lastOutcome = Outcome::NoRule;
    } else if (!readCategory(m_alertType, log, &category)) {
      result = false;
      m_lastOutcome = Outcome::NoCategory;
    } else {
      m_category = category;
      result = Dispatch(alert, criteriaCleared);
      if (m_lastOutcome != Outcome::NoHandler) m_lastOutcome = result ? Outcome::Handled : Outcome::Failed;
    }

    log.DebugLvl(kStoreNotiData, result ? 8 : 3, "Alert Info: [%d].[%d].[%d].<%d>.<%d>", m_category, m_alertType,
                 m_criteria, m_oldAlertId, m_alertStatus);
    Trace(getEventId(), alert);
    return result;
  } catch (const std::exception& e) {
    m_lastOutcome = Outcome::Failed;
    try {
      EvAlertDebug log;
      log.Error(kStoreNotiData, "Alert [%d] not processed: %s", m_alertType, e.what());
    } catch (...) {
    }
    return false;
  } catch (...) {
    m_lastOutcome = Outcome::Failed;
    return false;
  }
}

bool EvNDetector::Dispatch(EvAlertEx& alert, int criteriaCleared) {
  // The observer sees the flag exactly as the handler gets it; -1 for the
  // handlers that take none.
  const auto observe = [](const char* handler, int flag) {
    if (Testing::dispatchObserver) Testing::dispatchObserver(handler, flag);
  };
#define EVD_CALL_false(member)             \
  observe("EvNDetector::" #member, -1); \
  return member(alert)
#define EVD_CALL_true(member)                           \
  observe("EvNDetector::" #member, criteriaCleared); \
  return member(alert, criteriaCleared)
#define EVD_TYPE(id, name, category) case id:
#define EVD_HANDLER(member, takesCleared, ...) __VA_ARGS__ EVD_CALL_##takesCleared(member);

  switch (m_alertType) {
#include "detector/handlers.def"
    default: m_lastOutcome = Outcome::NoHandler; return false;
  }
#undef EVD_CALL_false
#undef EVD_CALL_true
}

bool EvNDetector::MapAlertsToRelease5_9(int alert, int condition) {
  EvAlertDebug log;
  bool ok = true;
  m_oldAlertId = alert;
  m_alertStatus = condition;

  if (!lookUp(kConditionToCriteria, condition, m_criteria)) ok = false;

  if (alert == kAlertByCondition) {
    if (!lookUp(kAlert2001ConditionToType, condition, m_alertType)) ok = false;
  } else if (!lookUp(kAlertToType, alert, m_alertType)) {
    ok = false;
  }

  if (m_alertType != 3 && condition == 3010) m_criteria = 3;
  if (m_alertType == 12 && (m_criteria == 77 || m_criteria == 78 || m_criteria == 79)) m_criteria = 18;
  if (m_alertType == 0) {
    m_alertType = m_oldAlertId;
    log.DebugLvl("EvNDetector::MapAlertsToRelease5_9", 10, "Resetting alert type to [%d]", m_alertType);
  }
  return ok;
}

bool EvNDetector::ValidateInputParameters(EvAlertEx& alert) {
  EvAlertDebug log;
  const char* const label = "EvNDetector::ValidateInputParameters";

  if (m_alertType == 10 && m_criteria == 40 && alert.getClientIdsList().empty()) {
    log.DebugLvl(label, 6, "NT_ALERTTYPE_CLIENTS/NT_UPDATES_REQUIRED has no clients in the client list.");
    m_refusal = "clientIdsList is empty: an updates-required alert names the clients it is about";
    return false;
  }

  // The suppression arguments (and the old numbering) are 32-bit: a wider
  // id would be cut to another object's id and matched or named as that
  // one, so such an event is refused instead.
  struct WideField {
    const char* name;
    long long value;
  };
  const bool mapped = alert.getAlertCriteria() == 0;
  const WideField wide[] = {
      {"libraryId", alert.getLibraryId()},
      {"mediaId", alert.getMediaId()},
      {"mediaAgentId", alert.getMediaAgentId()},
      {"clientId", alert.getClientId()},
      {"subClientId", alert.getSubClientId()},
      {"otherLibId", alert.getOtherLibId()},
      {"storPolicyId", alert.getStorPolicyId()},
      {"copyId", alert.getCopyId()},
      {"whomId", m_alertType == 70 ? alert.getWhomId() : 0},
      {"alert", mapped ? alert.getAlert() : 0},
      {"condition", mapped ? alert.getCondition() : 0},
  };
  for (const WideField& f : wide) {
    if (f.value < INT32_MIN || f.value > INT32_MAX) {
      log.DebugLvl(label, 3, "Invalid Input Parameter [%s] = <%lld>: does not fit 32 bits", f.name, f.value);
      m_refusal = std::string(f.name) + " = " + std::to_string(f.value) + " does not fit 32 bits";
      return false;
    }
  }

  const int ruleOrUser = m_alertType == 70 ? static_cast<int>(alert.getWhomId()) : alert.getAlertRule();
  const EvSuppressionArgs args = EvSuppressionArgs::fromEvent(alert)
                                     .storeId(static_cast<int>(alert.getOtherLibId()))
                                     .ruleOrUserId(ruleOrUser)
                                     .storagePolicyId(static_cast<int>(alert.getStorPolicyId()))
                                     .copyId(static_cast<int>(alert.getCopyId()));
  long long objId = 0;
  const std::string objType = GetSupressionObjTypeId(args, objId);
  if (!objType.empty() && objId == 0) {
    log.DebugLvl(label, 3, "Invalid Supression Parameter, objType = <%s>, objId = <%lld>", objType.c_str(), objId);
    log.DebugLvl(label, 3, "Alert Info: [%d].[%d].[%d].<%d>.<%d>", m_category, m_alertType, m_criteria,
                 m_oldAlertId, m_alertStatus);
    m_refusal = "the event names a " + objType + " object without its id";
    return false;
  }
  return true;
}

bool EvNDetector::GetLastEvMsgId(int& id) {
  DBtran tran;
  KRCounter counter(&tran);
  counter.setWhere("name='Event_Counter'");
  const int rc = counter.getOneRow();
  if (!DBrowRead(rc)) return false;
  id = counter.getDataPtr()->next_l;
  counter.closeCursor();
  return true;
}

int isVMBackupFeatureDisabled() {
  // Read once per process: the setting only changes with a service restart.
  static const int disabled = [] {
    try {
      EvAlertDebug log;
      log.DebugLvl("isVMBackupFeatureDisabled", 8,
                   "Reading registry to check if VM backup feature should be enabled or disabled. ");
      unsigned long value = 0;
      NXPlatformInfo::getNumber("EventManager", "nDisableVMAlertFeature", &value);
      return static_cast<int>(value);
    } catch (...) {
      return 0;
    }
  }();
  return disabled;
}

bool isIndexingVSAV2EnabledOnClient(unsigned int clientId) {
  try {
    EvAlertDebug log;
    APP_ClientProp props(nullptr);
    props.setIsolationType(4);
    props.setWhere("componentNameId=%u AND attrName='IndexingV2_VSA' AND modified=0", clientId);
    int counter = 0;
    const int rc = props.getNextRow(&counter);
    bool enabled = false;
    if (DBrowRead(rc)) {
      enabled = std::strcmp(props.getDataPtr()->attrVal, "1") == 0;
    } else if (rc != DB_NO_DATA) {
      log.Error("isIndexingVSAV2EnabledOnClient",
                "Error [%d] in checking whether client[%u] has indexing v2 for VSA enabled. ", rc, clientId);
    }
    props.closeCursor();
    return enabled;
  } catch (...) {
    return false;
  }
}
