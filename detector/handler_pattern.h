// The steps every alert handler is made of, so that a handler states
// only what is its own: its detail table and columns, its parameters in
// order, and whether it withdraws delayed-job alerts, matches repeats or
// enables suppression.
//
// How to write a handler
// ----------------------
// Its line in detector/handlers.def declares it, dispatches its alert types
// to it and seeds them; then its body:
//   bool EvNDetector::StoreBackupCopyData(EvAlertEx& alert) {
//     HandlerCall call(*this, alert, "EvNDetector::StoreBackupCopyData");  // log scope + parameter store
//     return call.guarded([&]() -> bool {  // the one catch of a handler
//       if (call.delayedJobCleared()) return call.withdrawDelayedJob("NTDauxCopyDataVer");
//       return recordJobOccurrence<NTDauxCopyDataVer>(
//           call,
//           [&](NTDauxCopyDataVer_t& row) {
//             fillJobColumns(row, alert);  // job id halves, times, task, schedule policy
//             row.storagePolicyId = static_cast<int>(alert.getStorPolicyId());
//             row.copyId = static_cast<int>(alert.getCopyId());
//           },
//           [&](ParamRows& p) { p.jobBasics(alert).text(ParamJobErrorString, alert.getJobErrString()); });
//     });
//   }
//
// recordJobOccurrence runs: new NTDetectedAlerts row, detail row, the
// parameters, the "insertered" debug line, SetStatus_Detected. A handler
// whose order differs calls the steps of HandlerCall itself, in its own order:
//   delayedJobCleared / withdrawDelayedJob   the cleared criteria-5 withdrawal
//   matchPending(args)                       repeat check + SetDetectedAlert
//   matchOrRecord(args)                      the configuration handlers' matched form:
//                                            refresh a pending occurrence or record a new one
//   upsertDetail<Table>(call, repeat, ...)   a detail row kept one per occurrence
//   insertDetectedAlert([ready])             SetNotiRec, trace lines, [ready()], insert, setEventId
//   logNewOccurrence(occurTime)              the trace lines alone (row made by SetDetectedAlert)
//   insertDetail<Table>(fill)                eventId first, then FILL, insert
//   enableSuppression(args[, label])         EnableSupression on the event id
//   params()                                 a ParamRows for the event id
//   logRecorded(wording)                     the "insertered" debug line
//   markDetected() / setState(n)             the final processing state
//
// ParamRows writes one parameter per line, in the order written, with the
// overload its method names (text, asInt, asLong, as64, texts, ...). The
// first failure ends the chain: later rows write nothing and ok() is false.
// Plain parameters, message arguments and failure reasons are gathered and
// written multi-row (ParamBatch) when ok() is asked or the chain ends, or
// before any other write of the chain; the rows and the answer are those of
// writing each row on its own.
// upsert() makes the next row an add-or-update, ignored() makes its result
// not count. Fields of a description message are stored with fromMessage
// and a MessageField table.
//
// Suppression arguments are one EvSuppressionArgs value (suppression_args.h)
// built with EvSuppressionArgs::fromEvent and named setters.
//
// Nothing here opens a transaction: each insert and update stands alone and
// what was written before a failure stays.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "Db/AllBindings.h"
#include "host/EvAlertDebug.h"
#include "detector/EvNDetector.h"
#include "detector/suppression_args.h"
#include "host/EvAlertEx.h"
#include "host/messages/message_classes.h"
#include "params/EvNDetectParams.h"

// The wordings of a failing withdrawal call:
//   DataProtection  "Failed to clear condition for Alert Data Protection, JobId [%lld], ErrorString [%s]"
//   DataProtectionEq  the same with "JobId = [%lld]"
//   FLR             "Failed to clear condition for Alert FLR Jobs, JobId [%lld], Error [%s]"
enum class WithdrawWording { DataProtection, DataProtectionEq, FLR };
// The wordings of a failing insert: "..., ErrorString [%s]" or "..., Error [%s]".
enum class InsertWording { ErrorString, Error };

// The two wordings of the "recorded" debug line.
enum class RecordedWording { Brackets, Colon };

// How a value is handed to the parameter store.
enum class ParamKind { Int, Long, Int64, Text };

// A field of a description message stored as one parameter.
struct MessageField {
  int number;
  uint32_t key;
  NotiParamTypes type;
  ParamKind kind;              // the AddParam overload
  bool onlyWhenSet = true;     // false: read and stored even when unset (reads 0 / "")
  int slot = 0;                // text fields: the accessor slot of getstring
};
// FIELD (a Class::Fields constant of message_classes.h) stored as TYPE.
constexpr MessageField messageField(const CNFieldDef& field, NotiParamTypes type, ParamKind kind,
                                    bool onlyWhenSet = true) {
  return {field.number, field.key, type, kind, onlyWhenSet, field.kind == CNFieldKind::Text ? field.slot : 0};
}

// A message of class MSG read from an event's description.
template <class Msg>
struct DescriptionMessage {
  Msg msg;
  int result = CN_ERR_EMPTY_INPUT;
  // True when the description was not empty and unserialised (result 0).
  bool read(const std::string& description) {
    if (description.empty()) return false;
    const std::string copy = description;
    result = msg.unserialize(copy);
    return result == 0;
  }
  bool isSet(int number, uint32_t key) const { return msg.isSet(number, Msg::kClassKey, key); }
  int64_t int64(int number, uint32_t key) const { return msg.getint64(number, Msg::kClassKey, key); }
  std::string text(int number, int slot, uint32_t key) const {
    return msg.getstring(number, slot, Msg::kClassKey, key);
  }
};

// Parameters of one occurrence, one call per row.
class ParamRows {
 public:
  ParamRows(EvNDetectParams& store, int eventId) : m_store(store), m_batch(store), m_eventId(eventId) {}
  // Rows a handler gathered but never asked about are written all the same.
  ~ParamRows() {
    try {
      flush();
    } catch (...) {
      // Without memory the rows are lost, as a throwing one-row write loses them.
    }
  }
  ParamRows(const ParamRows&) = delete;
  ParamRows& operator=(const ParamRows&) = delete;

  // The next row is an add-or-update instead of a plain add.
  ParamRows& upsert() { m_upsert = true; return *this; }
  // The next row's result does not count.
  ParamRows& ignored() { m_ignored = true; return *this; }

  ParamRows& text(NotiParamTypes type, const std::string& value) {
    if (gathering()) return gathered([&](bool ignore) { m_batch.param(m_eventId, type, value.c_str(), ignore); });
    return row([&](bool up) { return up ? m_store.AddOrUpdateParam(m_eventId, type, value.c_str())
                                        : m_store.AddParam(m_eventId, type, value.c_str()); });
  }
  // Nothing at all for an empty text.
  ParamRows& textIfNotEmpty(NotiParamTypes type, const std::string& value) {
    if (value.empty()) return skip();
    return text(type, value);
  }
  ParamRows& asInt(NotiParamTypes type, long long value) { return number(type, static_cast<int>(value)); }
  ParamRows& asLong(NotiParamTypes type, long long value) { return number(type, static_cast<long>(value)); }
  ParamRows& as64(NotiParamTypes type, long long value) { return number(type, value); }
  ParamRows& texts(NotiParamTypes type, const std::vector<std::string>& values) {
    if (gathering()) return gathered([&](bool ignore) { m_batch.texts(m_eventId, type, values, ignore); });
    return row([&](bool) { return m_store.AddParams(m_eventId, type, values); });
  }
  ParamRows& ints(NotiParamTypes type, const std::vector<int>& values) {
    if (gathering()) return gathered([&](bool ignore) { m_batch.ints(m_eventId, type, values, ignore); });
    return row([&](bool) { return m_store.AddParams(m_eventId, type, values); });
  }
  ParamRows& msgParams(std::vector<AlertEventMsg>& msgs) {
    if (gathering()) return gathered([&](bool ignore) { m_batch.msgParams(m_eventId, msgs, ignore); });
    return row([&](bool) { return m_store.AddMsgParams(m_eventId, msgs); });
  }
  // One message per folder: its name, threshold and free space.
  ParamRows& folderMsgParams(std::vector<int>& freeSpace, std::vector<int>& thresholds,
                             std::vector<std::string>& folders, bool percent) {
    return row([&](bool) { return m_store.AddMsgParams(m_eventId, freeSpace, thresholds, folders, percent); });
  }
  ParamRows& failureReasons(std::vector<int>& reasonIds) {
    if (gathering()) {
      // Reasons that cannot be read fail the chain there, after the rows before them
      // (none of theirs).
      return gathered([&](bool ignore) {
        if (!m_batch.failureReasons(m_eventId, reasonIds, ignore) && flush() && !ignore) m_ok = false;
      });
    }
    return row([&](bool) { return m_store.AddJMFailureReason(m_eventId, reasonIds); });
  }
  ParamRows& mediaList(std::vector<int>& mediaIds, NotiParamTypes mediaType, NotiParamTypes locationType) {
    if (mediaIds.empty()) return skip();  // no look-up, no row: nothing to write first
    return row([&](bool) { return m_store.AddMediaListParam(m_eventId, mediaIds, mediaType, locationType); });
  }
  ParamRows& sizeText(NotiParamTypes type, long long bytes, unsigned long selector) {
    return row([&](bool) { return m_store.AddParamWithSizeUnits(m_eventId, type, bytes, selector); });
  }
  // The four rows most job alerts start with: failure reason, whom id,
  // event messages, failure reasons.
  ParamRows& jobBasics(EvAlertEx& alert) {
    return text(ParamFailureReason, alert.getFailureReason())
        .asLong(ParamWhomId, alert.getWhomId())
        .msgParams(alert.getEventMsgList())
        .failureReasons(alert.getFailureReasons());
  }
  // The rows a failed backup or file-level restore starts with: failure
  // reason, media, whom id, event messages, failure reasons, and the phase
  // and network failure counts.
  ParamRows& jobFailureRows(EvAlertEx& alert) {
    return text(ParamFailureReason, alert.getFailureReason())
        .texts(ParamMediaList, alert.getMediaList())
        .asLong(ParamWhomId, alert.getWhomId())
        .msgParams(alert.getEventMsgList())
        .failureReasons(alert.getFailureReasons())
        .asInt(ParamPhaseFailureCount, alert.getPhaseFailuresCount())
        .asInt(ParamNetworkFailureCount, alert.getNetworkFailuresCount());
  }
  ParamRows& byKind(NotiParamTypes type, ParamKind kind, long long number, const std::string& textValue) {
    switch (kind) {
      case ParamKind::Int: return asInt(type, number);
      case ParamKind::Long: return asLong(type, number);
      case ParamKind::Int64: return as64(type, number);
      case ParamKind::Text: return text(type, textValue);
    }
    return *this;
  }
  // The FIELDS of a message that read, in table order.
  template <class Msg>
  ParamRows& fromMessage(const DescriptionMessage<Msg>& m, std::span<const MessageField> fields) {
    for (const MessageField& f : fields) {
      if (f.onlyWhenSet && !m.isSet(f.number, f.key)) continue;
      if (f.kind == ParamKind::Text)
        byKind(f.type, f.kind, 0, m.text(f.number, f.slot, f.key));
      else
        byKind(f.type, f.kind, m.int64(f.number, f.key), std::string());
    }
    return *this;
  }

  bool ok() { return flush(); }
  int eventId() const { return m_eventId; }

 private:
  template <class Op>
  ParamRows& row(Op&& op) {
    const bool up = m_upsert, ignore = m_ignored;
    m_upsert = m_ignored = false;
    if (!flush()) return *this;
    if (!op(up) && !ignore) m_ok = false;
    return *this;
  }
  // Whether the next row waits in the batch.
  bool gathering() const {
    return m_ok && !m_upsert && m_store.transaction() == nullptr && EvNDetectParams::multiRowWrites();
  }
  template <class Gather>
  ParamRows& gathered(Gather&& gather) {
    const bool ignore = m_ignored;
    m_ignored = false;
    gather(ignore);
    return *this;
  }
  // Writes what was gathered; false once the chain has failed.
  bool flush() {
    if (m_ok && !m_batch.empty()) m_ok = m_batch.write();
    return m_ok;
  }
  template <class N>
  ParamRows& number(NotiParamTypes type, N v) {
    if (gathering()) return gathered([&](bool ignore) { m_batch.param(m_eventId, type, v, ignore); });
    return row([&](bool up) { return up ? m_store.AddOrUpdateParam(m_eventId, type, v)
                                        : m_store.AddParam(m_eventId, type, v); });
  }
  ParamRows& skip() {
    m_upsert = m_ignored = false;
    return *this;
  }

  EvNDetectParams& m_store;
  ParamBatch m_batch;
  int m_eventId;
  bool m_ok = true;
  bool m_upsert = false;
  bool m_ignored = false;
};

// One handler call: its log scope, its parameter store and the steps.
class HandlerCall {
 public:
  HandlerCall(EvNDetector& detector, EvAlertEx& alert, const char* label)
      : m_detector(detector), m_alert(alert), m_label(label) {}

  EvAlertDebug& log() { return m_log; }

  // Runs BODY, the handler's steps. The steps themselves catch nothing:
  // this is the one place a failure inside a handler (in practice an
  // allocation) is caught, ending the event with false and a line naming
  // the alert.
  template <class Body>
  bool guarded(Body&& body) {
    try {
      return body();
    } catch (...) {
      logUnexpected();
      return false;
    }
  }
  const char* label() const { return m_label; }
  int eventId() const { return m_detector.getEventId(); }

  // The delayed-job criteria with a cleared condition.
  bool delayedJobCleared(int criteria = 5) const {
    return m_detector.getCriteria() == criteria && m_alert.IsConditionCleared();
  }
  // Withdraws the job's pending delayed-job alerts found in DETAILTABLE.
  // WORDING picks the line of a failing call.
  bool withdrawDelayedJob(const char* detailTable, WithdrawWording wording = WithdrawWording::DataProtection);

  // What became of the event after the look-up of a pending occurrence.
  enum class Pending {
    None,       // nothing pending: record a new occurrence
    Refreshed,  // the pending occurrence was refreshed; eventId() is its id
    Recorded,   // it left the pending states meanwhile, so this event's own
                // detected-alert row was inserted; insertDetectedAlert() is then a no-op
    Nothing,    // a cleared condition whose occurrence left the pending states
                // meanwhile: nothing written, as if nothing had been pending
    Failed,
  };
  // Asks for a pending occurrence of ARGS and, when there is one, refreshes
  // it through SetDetectedAlert.
  Pending matchPending(const EvSuppressionArgs& args);

  // The matched form of the configuration handlers: a pending occurrence of
  // LOOKUP (0 for none) is refreshed through SetDetectedAlert, otherwise
  // SetDetectedAlert records a new one. Unlike matchPending, the new row is
  // made here, without the trace lines of insertDetectedAlert.
  enum class Matched {
    New,             // a new occurrence; eventId() is its id
    Repeat,          // the pending occurrence was refreshed; eventId() is its id
    ClearedNothing,  // a cleared condition with nothing pending: nothing written
    Failed,
  };
  Matched matchOrRecord(const EvSuppressionArgs& lookup);
  Matched matchOrRecord(int pendingEventId);

  // Whether storage policy STORAGEPOLICY, copy COPY already has an
  // occurrence of this alert type and criteria (its NTDauxCopyDataVer row).
  // Returns the read's result: DBrowRead means yes (*EVENTID is its id),
  // DB_NO_DATA no; anything else is an error, told in *TABLE and *ERROR.
  int copyOccurrence(int storagePolicy, int copy, int* eventId, std::string* table, std::string* error);

  // A new NTDetectedAlerts row in state 0; the detector's event id becomes its id.
  bool insertDetectedAlert(InsertWording wording = InsertWording::ErrorString);
  // The same, with READY run once the row is built and traced and before it
  // is inserted: a handler that must check the event first writes nothing
  // when READY answers false.
  bool insertDetectedAlert(const std::function<bool()>& ready, InsertWording wording = InsertWording::ErrorString);
  // The two "New alert event occurred" trace lines, for a handler whose row
  // SetDetectedAlert made; OCCURTIME is the row's occur time as text.
  void logNewOccurrence(const char* occurTime);
  // The first of those lines alone, for handlers that write no occur time.
  void logNewAlert();

  // A new detail row of TABLE with eventId set, then FILL(row). WORDING
  // picks the line of a failing insert.
  template <class Table, class Fill>
  bool insertDetail(Fill&& fill, InsertWording wording = InsertWording::ErrorString) {
    // A detail row belongs to an occurrence; without one it would be
    // an orphan no notification ever reads.
    if (eventId() <= 0) {
      logInsertFailed(wording, Table::def().name, "no occurrence to attach the row to");
      return false;
    }
    Table table(nullptr);
    auto* row = table.getDataPtr();
    row->eventId = eventId();
    fill(*row);
    const int rc = table.rowInsert(true);
    if (rc == 0) return true;
    logInsertFailed(wording, table.getTableName(), table.getErrorStr(rc));
    return false;
  }

  // EnableSupression on the event id. When FAILLABEL is given a failure is
  // also logged under it as "Unable to enable suppression...".
  bool enableSuppression(const EvSuppressionArgs& args, const char* failLabel = nullptr);

  ParamRows params() { return ParamRows(m_params, eventId()); }
  EvNDetectParams& store() { return m_params; }

  void logRecorded(RecordedWording wording = RecordedWording::Brackets);
  bool markDetected() { return SetStatus_Detected(eventId()); }
  bool setState(int processStat) { return SetStatus(eventId(), processStat); }

 private:
  void logInsertFailed(InsertWording wording, const char* table, const char* error);
  void logUnexpected();

  EvAlertDebug m_log;
  EvNDetector& m_detector;
  EvAlertEx& m_alert;
  const char* m_label;
  EvNDetectParams m_params{nullptr};
  bool m_rowRecorded = false;
};

// How the insert-or-update of a detail row names its table in its lines:
//   "Could not update row into table <readName> ErrorCode [%d] for EventId [%d]"
//   "No entry in table <readName> for EventId [%d].So inserting. "
//   "Error [%d] Updating <updateName> columns for eventId [%d]"
// all under LABEL (the handler's short name).
struct DetailUpsertNames {
  const char* label;
  const char* readName;
  const char* updateName;
  bool missingIsError = true;      // false: the "No entry" line is a level-8 debug line
  const char* missingName = nullptr;  // the "No entry" line's name when it is not readName
};

// The detail row of an occurrence, kept one per occurrence: a new
// occurrence inserts it; a repeat reads the stored row, rewrites it with
// UPDATE(table, row) (a rowUpdate whose where clause is already set) after
// FILL(row), or inserts it when it has gone missing. *INSERTED tells which
// happened. The buffer holds the stored row before FILL on an update, so
// columns FILL leaves alone keep their stored values.
template <class Table, class Fill, class Update>
bool upsertDetail(HandlerCall& call, bool repeat, const DetailUpsertNames& names, Fill&& fill, Update&& update,
                  bool* inserted = nullptr) {
  const int eventId = call.eventId();
  Table table(nullptr);
  auto* row = table.getDataPtr();
  bool insert = !repeat;
  if (repeat) {
    table.setWhere("eventId = %d", eventId);
    const int rc = table.getOneRow();
    if (rc == DB_NO_DATA) {
      const char* missing = names.missingName ? names.missingName : names.readName;
      if (names.missingIsError)
        call.log().Error(names.label, "No entry in table %s for EventId [%d].So inserting. ", missing, eventId);
      else
        call.log().DebugLvl(names.label, 8, "No entry in table %s for EventId [%d].So inserting. ", missing, eventId);
      insert = true;
    } else if (!DBrowRead(rc)) {
      call.log().Error(names.label, "Could not update row into table %s ErrorCode [%d] for EventId [%d]",
                       names.readName, rc, eventId);
      return false;
    }
    table.closeCursor();
  }
  if (inserted) *inserted = insert;
  if (insert) {
    row->eventId = eventId;
    fill(*row);
    const int rc = table.rowInsert(true);
    if (rc == 0) return true;
    call.log().Error(call.label(), "Could not insert row into table [%s], ErrorString [%s]", table.getTableName(),
                     table.getErrorStr(rc));
    return false;
  }
  fill(*row);
  table.setWhere("eventId = %d", eventId);
  const int rc = update(table, *row);
  if (rc == 0) return true;
  call.log().Error(names.label, "Error [%d] Updating %s columns for eventId [%d]", rc, names.updateName, eventId);
  return false;
}

// Job id halves and the start, end and scheduled times (local time).
template <class Row>
void fillJobIdAndTimes(Row& row, const EvAlertEx& alert) {
  row.jobId_h = static_cast<int>(EvNDetector::JobIdHigh(alert.getJobId()));
  row.jobId_l = static_cast<int>(EvNDetector::JobIdLow(alert.getJobId()));
  EvNDetector::UlongTimeToDbDatetime(static_cast<long>(alert.getStartTime()), row.startTime, false);
  EvNDetector::UlongTimeToDbDatetime(static_cast<long>(alert.getEndTime()), row.endTime, false);
  EvNDetector::UlongTimeToDbDatetime(static_cast<long>(alert.getScheduledTime()), row.schedTime, false);
}

// The job columns that most detail tables share: the above, then task and
// schedule policy ids.
template <class Row>
void fillJobColumns(Row& row, const EvAlertEx& alert) {
  fillJobIdAndTimes(row, alert);
  row.taskId = alert.getTaskId();
  row.schedPolicyId = alert.getSchedPolicyId();
}

// The agent columns of a detail row: client, application type, instance
// and backup set.
template <class Row>
void fillAgentColumns(Row& row, const EvAlertEx& alert) {
  row.clientId = static_cast<int>(alert.getClientId());
  row.appTypeId = static_cast<int>(alert.getappTypeId());
  row.instanceId = static_cast<int>(alert.getInstanceId());
  row.backupSetId = static_cast<int>(alert.getBackupsetId());
}

// The plain handler after its withdrawal step: new detected-alert row,
// detail row of TABLE (FILL), parameters (PARAMS), the recorded line and
// SetStatus_Detected.
template <class Table, class Fill, class Params>
bool recordJobOccurrence(HandlerCall& call, Fill&& fill, Params&& params, RecordedWording wording = RecordedWording::Brackets) {
  if (!call.insertDetectedAlert()) return false;
  if (!call.insertDetail<Table>(fill)) return false;
  ParamRows rows = call.params();
  params(rows);
  if (!rows.ok()) return false;
  call.logRecorded(wording);
  return call.markDetected();
}

// A figure of the event (a size, a count) for a 32-bit column. Cutting it to
// its low half would store a figure that has nothing to do with the event
// (10 GiB became -2147483648), so beyond the column's range it is stored as
// the nearest value the column holds, with one error line naming FIELD.
inline int saturateToInt(long long value, const char* field) {
  if (value >= INT32_MIN && value <= INT32_MAX) return static_cast<int>(value);
  const int stored = value < 0 ? INT32_MIN : INT32_MAX;
  EvAlertDebug().Error("saturateToInt", "Value [%lld] of [%s] does not fit its column: stored as [%d]", value, field,
                       stored);
  return stored;
}
