#include "detector/EvNEventBatch.h"

#include <utility>

#include "Db/DBtable.h"
#include "Db/Database.h"
#include "host/EvAlertEx.h"

namespace {

// Errors of this thread's database operations since a starting tally.
struct ErrorWatch {
  Db::ErrorTally start = Db::errorTally();
  void into(EvNEventResult& r) const {
    const Db::ErrorTally now = Db::errorTally();
    r.databaseErrors = now.count - start.count;
    if (r.databaseErrors != 0) r.lastDatabaseError = now.last;
  }
};

void notCommitted(EvNEventResult& r, const std::string& why) {
  r.committed = false;
  r.ok = false;
  if (r.databaseErrors == 0) r.databaseErrors = 1;
  r.lastDatabaseError = why;
}

}  // namespace

EvNEventBatch::EvNEventBatch(EvNDetector& detector, EvNBatchOptions options, Settled settled)
    : detector_(detector), options_(options), settled_(std::move(settled)) {
  if (options_.group == 0) options_.group = 1;
}

EvNEventBatch::~EvNEventBatch() {
  try {
    flush();
  } catch (...) {
    // A throwing callback must not end the process from a destructor.
  }
}

void EvNEventBatch::store(EvAlertEx& alert, long long tag) {
  EvNEventResult r;
  r.tag = tag;
  if (options_.mode == EvNCommitMode::PerStatement) {
    ErrorWatch errors;
    r.ok = detector_.StoreNotiData(alert);
    r.outcome = detector_.lastOutcome();
    errors.into(r);
    settled_(r);
    return;
  }
  runEvent(alert, r);
  if (options_.group == 1) {
    settled_(r);
    return;
  }
  pending_.push_back(std::move(r));
  if (pending_.size() >= options_.group) flush();
}

void EvNEventBatch::runEvent(EvAlertEx& alert, EvNEventResult& r) {
  // A group of one is the event's own transaction; a larger group opens
  // its transaction with its first event and gives each event a savepoint.
  if (options_.group > 1 && !group_) {
    beginPipeline();
    group_ = std::make_unique<DBtran>();
    if (const int rc = group_->startTran(); rc != 0) {
      const std::string why = group_->getErrorStr(rc);
      group_.reset();
      endPipeline();
      notCommitted(r, why);
      return;
    }
  }
  if (options_.group == 1) beginPipeline();
  // The handler may change the alert; a run to be done again starts from
  // the alert as it came.
  EvAlertEx original;
  if (pipelined_) original = alert;
  if (!runIsolated(alert, r) && pipelined_) {
    // Something in the pipeline failed, so the event's rows may differ from
    // those of a run where every statement stands alone: they were rolled
    // back, and the event runs again the plain way.
    endPipeline();
    const long long tag = r.tag;
    r = EvNEventResult();
    r.tag = tag;
    runIsolated(original, r);
    if (group_) beginPipeline();
  }
  if (options_.group == 1) endPipeline();
}

bool EvNEventBatch::runIsolated(EvAlertEx& alert, EvNEventResult& r) {
  ErrorWatch errors;
  DBtran tran;
  if (const int rc = tran.startTran(); rc != 0) {
    errors.into(r);
    notCommitted(r, tran.getErrorStr(rc));
    return true;
  }
  r.ok = detector_.StoreNotiData(alert);
  r.outcome = detector_.lastOutcome();
  // In a group the event's savepoint is released only after its pipelined
  // statements have answered, so that a failure can still be rolled back
  // to it; a group of one learns it from its COMMIT.
  if (pipelined_ && group_ && Db::syncPipeline(nullptr) != 0) {
    tran.rollbackTran();
    return false;
  }
  const int rc = tran.commitTran();
  if (rc != 0) {
    const bool failedInPipeline = pipelined_ && Db::pipelineFailed();
    const std::string why = tran.getErrorStr(rc);
    if (tran.isActive()) tran.rollbackTran();
    if (failedInPipeline) return false;
    errors.into(r);
    notCommitted(r, why);
    return true;
  }
  errors.into(r);
  return true;
}

void EvNEventBatch::beginPipeline() { pipelined_ = options_.pipeline && Db::beginPipeline(); }

void EvNEventBatch::endPipeline() {
  if (pipelined_) Db::endPipeline();
  pipelined_ = false;
}

int EvNEventBatch::flush() {
  if (!group_) {
    settleAll(true, "");
    return 0;
  }
  const int rc = group_->commitTran();
  std::string why;
  if (rc != 0) {
    why = group_->getErrorStr(rc);
    if (group_->isActive()) group_->rollbackTran();
  }
  group_.reset();
  endPipeline();
  settleAll(rc == 0, why);
  return rc;
}

void EvNEventBatch::settleAll(bool committed, const std::string& why) {
  std::vector<EvNEventResult> done;
  done.swap(pending_);
  for (EvNEventResult& r : done) {
    if (!committed && r.committed) notCommitted(r, why);
    settled_(r);
  }
}
