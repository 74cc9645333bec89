#include "detector/EvNEventBatch.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "Db/DBtable.h"
#include "Db/Database.h"
#include "host/EvAlertEx.h"

namespace {

// Errors of this thread's database operations since a starting tally.
struct ErrorWatch {
  Db::ErrorTally start = Db::errorTally();
  // The text of an error no retry cures met since the start, or "".
  std::string fatal() const {
    const Db::ErrorTally now = Db::errorTally();
    return now.fatal != start.fatal ? now.lastFatal : std::string();
  }
  bool lost() const { return Db::errorTally().lost != start.lost; }
  bool busy() const { return Db::errorTally().busy != start.busy; }
  void into(EvNEventResult& r) const {
    const Db::ErrorTally now = Db::errorTally();
    r.databaseErrors = now.count - start.count;
    if (r.databaseErrors != 0) r.lastDatabaseError = now.last;
    // A failure the detector logged nothing for is told by its database error.
    if (r.kind == EvNEventKind::Failed && r.reason.empty()) r.reason = r.lastDatabaseError;
  }
};

void fromDetector(EvNEventResult& r, const EvNDetector& detector) {
  r.outcome = detector.lastOutcome();
  r.kind = detector.lastKind();
  r.occurrenceId = detector.lastOccurrenceId();
  r.newCount = detector.lastNewCount();
  r.repeatCount = detector.lastRepeatCount();
  r.clearedCount = detector.lastClearedCount();
  r.reason = detector.lastReason();
  if (detector.getAlertType() != 0) {
    r.alertType = detector.getAlertType();
    r.criteria = detector.getCriteria();
  }
}

// The type and criteria the event came with, where the detector worked out none.
void givenUnlessWorkedOut(EvNEventResult& r, int type, int criteria) {
  if (r.alertType != 0) return;
  r.alertType = type;
  r.criteria = criteria;
}

void notCommitted(EvNEventResult& r, const std::string& why) {
  r.committed = false;
  r.ok = false;
  // Nothing of the event is stored: whatever it would have been, it failed.
  r.kind = EvNEventKind::Failed;
  r.occurrenceId = 0;
  r.newCount = r.repeatCount = r.clearedCount = 0;
  r.reason = why;
  if (r.databaseErrors == 0) r.databaseErrors = 1;
  r.lastDatabaseError = why;
}

}  // namespace

EvNEventBatch::EvNEventBatch(EvNDetector& detector, EvNBatchOptions options, Settled settled)
    : m_detector(detector), m_options(options), m_settled(std::move(settled)) {
  if (m_options.group == 0) m_options.group = 1;
}

EvNEventBatch::~EvNEventBatch() {
  try {
    flush();
  } catch (...) {
    // A throwing callback must not end the process from a destructor.
  }
}

void EvNEventBatch::store(EvAlertEx& alert, long long tag) {
  if (m_stopped) return;
  EvNEventResult r;
  r.tag = tag;
  // Before the handler runs: it may change the alert.
  const int givenType = alert.getAlertType(), givenCriteria = alert.getAlertCriteria();
  const auto given = [&] { givenUnlessWorkedOut(r, givenType, givenCriteria); };
  if (m_options.mode == EvNCommitMode::PerStatement) {
    ErrorWatch errors;
    // No transaction holds the match key here: the connection holds it from
    // the look-up to the end of the event.
    Db::beginKeyScope();
    r.ok = m_detector.StoreNotiData(alert);
    fromDetector(r, m_detector);
    Db::endKeyScope();
    errors.into(r);
    if (const std::string why = errors.fatal(); !why.empty()) {
      m_stopped = true;
      r.ok = false;
      r.lastDatabaseError = why;
    }
    given();
    m_settled(r);
    return;
  }
  m_lostRuns = 0;
  m_busyRun = false;
  // The handler may change the alert; a run to be done again starts from
  // the alert as it came. A group keeps its events so until it commits: if
  // its connection goes, the whole group runs again.
  EvAlertEx original = alert;
  runEvent(alert, original, r);
  if (m_retry == Retry::None && !m_groupLost) m_gaveUp = false;
  given();
  if (m_options.group == 1) {
    m_settled(r);
    return;
  }
  m_pending.push_back(std::move(r));
  m_groupAlerts.push_back(std::move(original));
  if (m_groupLost) runGroupAgain();
  if (m_pending.size() >= m_options.group) flush();
}

void EvNEventBatch::runGroupAgain() {
  while (m_groupLost) {
    // Its transaction went with the connection: nothing of the group is stored.
    m_groupLost = false;
    endGroup();
    endPipeline();
    std::vector<EvAlertEx> alerts;
    alerts.swap(m_groupAlerts);
    std::vector<EvNEventResult> was;
    was.swap(m_pending);
    if (!mayRunAgain()) {
      for (EvNEventResult& r : was) {
        if (r.committed) notCommitted(r, "the connection to the database was lost");
        m_settled(r);
      }
      return;
    }
    for (size_t i = 0; i < alerts.size(); ++i) {
      if (m_groupLost) {
        // Lost again: the rest waits for the next round as it is.
        m_pending.push_back(std::move(was[i]));
        m_groupAlerts.push_back(std::move(alerts[i]));
        continue;
      }
      EvAlertEx alert = alerts[i];
      EvNEventResult r;
      r.tag = was[i].tag;
      runEvent(alert, alerts[i], r);
      givenUnlessWorkedOut(r, alerts[i].getAlertType(), alerts[i].getAlertCriteria());
      m_pending.push_back(std::move(r));
      m_groupAlerts.push_back(std::move(alerts[i]));
    }
  }
}

void EvNEventBatch::runEvent(EvAlertEx& alert, const EvAlertEx& original, EvNEventResult& r) {
  // A group of one is the event's own transaction; a larger group opens
  // its transaction with its first event and gives each event a savepoint.
  if (m_options.group > 1 && !m_group) {
    beginPipeline();
    m_group = std::make_unique<DBtran>();
    m_detector.beginGroupReads();
    if (const int rc = m_group->startTran(); rc != 0) {
      const std::string why = m_group->getErrorStr(rc);
      endGroup();
      endPipeline();
      if (Db::isConnectionLost(rc) && mayRunAgain()) {
        runEvent(alert, original, r);
        return;
      }
      notCommitted(r, why);
      m_stopped = Db::isFatalError(rc);
      return;
    }
  }
  if (m_options.group == 1) beginPipeline();
  if (m_group) Db::tryKeysWhileHolding(!m_waitForKeys);
  if (!runIsolated(alert, r) && m_pipelined) {
    // Something in the pipeline failed, so the event's rows may differ from
    // those of a run where every statement stands alone: they were rolled
    // back, and the event runs again the plain way.
    endPipeline();
    const long long tag = r.tag;
    r = EvNEventResult();
    r.tag = tag;
    EvAlertEx again = original;
    runIsolated(again, r);
    if (m_group) beginPipeline();
  }
  if (m_options.group == 1) {
    endPipeline();
    if (m_retry != Retry::None && mayRunAgain()) {
      const long long tag = r.tag;
      r = EvNEventResult();
      r.tag = tag;
      EvAlertEx again = original;
      runEvent(again, original, r);
      return;
    }
  }
  if (m_contended) {
    // Settles the events before this one; the new group holds no key.
    m_contended = false;
    flush();
    const long long tag = r.tag;
    r = EvNEventResult();
    r.tag = tag;
    m_waitForKeys = true;
    EvAlertEx again = original;
    runEvent(again, original, r);
    m_waitForKeys = false;
  }
}

bool EvNEventBatch::runIsolated(EvAlertEx& alert, EvNEventResult& r) {
  ErrorWatch errors;
  m_retry = Retry::None;
  DBtran tran;
  if (const int rc = tran.startTran(); rc != 0) {
    errors.into(r);
    if (Db::isConnectionLost(rc)) m_retry = Retry::Lost;
    else if (Db::isBusy(rc)) m_retry = Retry::Busy;
    if (m_group && Db::isConnectionLost(rc)) m_groupLost = true;
    if (Db::isFatalError(rc)) stop(r, tran, tran.getErrorStr(rc));
    else notCommitted(r, tran.getErrorStr(rc));
    return true;
  }
  r.ok = m_detector.StoreNotiData(alert);
  fromDetector(r, m_detector);
  // In a group the event's savepoint is released only after its pipelined
  // statements have answered, so that a failure can still be rolled back
  // to it; a group of one learns it from its COMMIT.
  if (m_pipelined && m_group && Db::syncPipeline(nullptr) != 0) {
    tran.rollbackTran();
    return false;
  }
  if (const std::string why = errors.fatal(); !why.empty()) {
    errors.into(r);
    stop(r, tran, why);
    return true;
  }
  if (m_group && errors.lost()) {
    // The group's transaction went with the connection: the group runs
    // again whole once a new one opens (see runGroupAgain).
    m_groupLost = true;
    errors.into(r);
    notCommitted(r, r.lastDatabaseError);
    return true;
  }
  if (m_options.group == 1 && (errors.lost() || errors.busy())) {
    // Whatever the handler made of it, the event cannot be committed whole:
    // it runs again, and the run that ends it writes its trace row.
    m_retry = errors.lost() ? Retry::Lost : Retry::Busy;
    if (tran.isActive()) tran.rollbackTran();
    errors.into(r);
    notCommitted(r, r.lastDatabaseError);
    return true;
  }
  if (m_group && Db::takeKeyBusy()) {
    tran.rollbackTran();
    if (m_pipelined && Db::pipelineFailed()) return false;
    m_contended = true;
    return true;
  }
  if (!r.ok && r.outcome == EvNDetector::Outcome::Failed) {
    // A failed handler leaves nothing half-made: its rows go with its level.
    // What tells what happened stays: the alert log is a file, and the
    // trace row is written again, after the rollback.
    const int eventId = m_detector.getEventId();
    tran.rollbackTran();
    // The rows it touched are gone with it.
    r.occurrenceId = 0;
    r.newCount = r.repeatCount = r.clearedCount = 0;
    if (m_pipelined && Db::pipelineFailed()) return false;
    DBtran traced;
    if (traced.startTran() == 0) {
      m_detector.Trace(eventId, alert);
      // The event is settled: a reader resumes after it, not at it.
      std::string unused;
      const bool noted = m_group || noteCommit(r.tag, &unused);
      if ((!noted || traced.commitTran() != 0) && traced.isActive()) traced.rollbackTran();
    }
    errors.into(r);
    return true;
  }
  if (std::string why; !m_group && !noteCommit(r.tag, &why)) {
    tran.rollbackTran();
    if (m_pipelined && Db::pipelineFailed()) return false;
    errors.into(r);
    notCommitted(r, why);
    return true;
  }
  const int rc = tran.commitTran();
  if (rc != 0) {
    const bool failedInPipeline = m_pipelined && Db::pipelineFailed();
    const std::string why = tran.getErrorStr(rc);
    if (Db::isFatalError(rc)) {
      errors.into(r);
      stop(r, tran, why);
      return true;
    }
    if (tran.isActive()) tran.rollbackTran();
    if (failedInPipeline) return false;
    if (Db::isConnectionLost(rc) || errors.lost()) m_retry = Retry::Lost;
    else if (Db::isBusy(rc) || errors.busy()) m_retry = Retry::Busy;
    errors.into(r);
    notCommitted(r, why);
    return true;
  }
  errors.into(r);
  return true;
}

bool EvNEventBatch::noteCommit(long long tag, std::string* error) {
  if (!m_options.beforeCommit) return true;
  if (m_options.beforeCommit(tag, error)) return true;
  if (error->empty()) *error = "the batch's caller refused the commit";
  return false;
}

bool EvNEventBatch::mayRunAgain() {
  if (m_retry == Retry::Busy) {
    if (m_busyRun) return false;
    m_busyRun = true;
    return true;
  }
  // A run that loses its connection every time (a statement that takes the
  // server down) must not go on for ever.
  constexpr int kMaxLostRuns = 8;
  return ++m_lostRuns <= kMaxLostRuns && reconnect();
}

bool EvNEventBatch::reconnect() {
  if (m_gaveUp) return false;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + m_options.reconnectFor;
  std::chrono::milliseconds pause(100);
  for (;;) {
    Db::closeThreadConnection();
    if (Db::openThreadConnection(nullptr) == 0) return true;
    if (Clock::now() + pause > deadline) {
      m_gaveUp = true;
      return false;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(2000));
  }
}

void EvNEventBatch::endGroup() {
  m_group.reset();
  m_detector.endGroupReads();
}

void EvNEventBatch::beginPipeline() { m_pipelined = m_options.pipeline && Db::beginPipeline(); }

void EvNEventBatch::endPipeline() {
  if (m_pipelined) Db::endPipeline();
  m_pipelined = false;
}

int EvNEventBatch::flush() {
  if (!m_group) {
    settleAll(true, "");
    return 0;
  }
  std::string why;
  int rc = 0;
  if (!m_pending.empty() && !noteCommit(m_pending.back().tag, &why)) rc = DB_ERR_USAGE;
  if (rc == 0) rc = m_group->commitTran();
  if (rc != 0) {
    if (why.empty()) why = m_group->getErrorStr(rc);
    if (m_group->isActive()) m_group->rollbackTran();
  }
  endGroup();
  endPipeline();
  if (rc != 0 && Db::isConnectionLost(rc) && !m_pending.empty()) {
    m_groupLost = true;
    runGroupAgain();
    return flush();
  }
  settleAll(rc == 0, why);
  return rc;
}

void EvNEventBatch::stop(EvNEventResult& r, DBtran& tran, const std::string& why) {
  if (tran.isActive()) tran.rollbackTran();
  m_stopped = true;
  notCommitted(r, why);
  if (!m_group) return;
  if (m_group->isActive()) m_group->rollbackTran();
  endGroup();
  endPipeline();
  settleAll(false, why);
}

void EvNEventBatch::settleAll(bool committed, const std::string& why) {
  m_groupAlerts.clear();
  std::vector<EvNEventResult> done;
  done.swap(m_pending);
  for (EvNEventResult& r : done) {
    if (!committed && r.committed) notCommitted(r, why);
    m_settled(r);
  }
}
