// One commit per event, or per group of events, for a host that feeds a
// detector a stream of events.
//
// Called on its own, EvNDetector::StoreNotiData lets every statement commit
// by itself: an event is a few dozen commits, and a process killed half way
// leaves half an occurrence. EvNEventBatch wraps each call in a transaction
// instead: an event whose handler succeeded is committed with every row it
// wrote, just as with per-statement commits; one whose handler failed is
// rolled back, so that no half-made occurrence stays, and only its trace row
// is written again. A kill stores nothing of the event.
//
//   EvNDetector detector;
//   EvNEventBatch batch(detector, {EvNCommitMode::PerEvent, 1},
//                       [](const EvNEventResult& r) { /* count r */ });
//   for (each event) batch.store(event, lineNumber);
//   batch.flush();
//
// With a group of N, N events share one transaction, each under a savepoint
// of its own (a failed event is rolled back alone and touches no other), and
// no event is settled before its group committed. A failed group commit
// settles every event of the group as not committed. A group never waits
// for a match key (Db::lockKey) while it holds another: an event that meets
// one another detector holds is rolled back, the group so far is committed,
// and the event runs again first in a new group, where it waits.
//
// A group reads once, with its first event that needs them, whether an
// alert type has an enabled rule, its category and the TraceAlerts setting,
// and its later events reuse them (EvNDetector::beginGroupReads): an edit of
// a rule's status, an alert type or TraceAlerts takes effect from the next
// group, moments later. One event per transaction reads them every event.
//
// On PostgreSQL the batch pipelines an event's statements (Db::beginPipeline);
// when anything in the pipeline fails, the event is rolled back and run once
// more without pipelining, so that its stored rows are exactly those of the
// unpipelined run.
//
// An event whose connection went (a server restart or failover) is run
// again from the alert as it came once a new connection opens: the batch
// tries to open one again and again, waiting 0.1 s, then twice as long each
// time up to 2 s, for at most reconnectFor. Its transaction was rolled back
// whole, so nothing of it is stored twice. In a group every event of the
// group runs again (the batch keeps a copy of each until the group commits),
// and each is settled once, after the commit.
// An event that found the database locked by another writer past the busy
// timeout is run again once.
//
// The detector must outlive the batch, and the batch is used on the thread
// that made it (it uses the thread's database connection). The destructor
// commits the open group; call flush() to learn how that went.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "detector/EvNDetector.h"
#include "host/EvAlertEx.h"

class DBtran;

enum class EvNCommitMode {
  PerStatement,  // every statement commits on its own (StoreNotiData alone)
  PerEvent,      // one transaction per event, or per group of events
};

struct EvNBatchOptions {
  EvNCommitMode mode = EvNCommitMode::PerEvent;
  // Events committed together (PerEvent only); 0 is taken as 1.
  size_t group = 1;
  // Pipeline statements where the backend supports it (PostgreSQL).
  bool pipeline = true;
  // How long an event whose connection went waits for a new one before it
  // is settled as failed (one event per transaction only).
  std::chrono::milliseconds reconnectFor{30000};
  // Called inside every transaction the batch is about to commit (PerEvent
  // only), with the tag of the last event it covers, so that what it writes
  // is committed with those events or not at all: a reader's position in
  // its input, for instance. False, with *error set, fails the commit: the
  // events it covers are settled as not committed.
  std::function<bool(long long lastTag, std::string* error)> beforeCommit = nullptr;
};

// How one event ended, reported once its transaction is settled.
struct EvNEventResult {
  long long tag = 0;  // the caller's own number for the event (a line number)
  bool ok = false;    // what StoreNotiData answered
  EvNDetector::Outcome outcome = EvNDetector::Outcome::None;
  // What became of the event (Failed when it could not be committed), its
  // last occurrence (0 for none) and how many occurrences it made new,
  // refreshed and cleared; see EvNEventKind.
  EvNEventKind kind = EvNEventKind::None;
  int occurrenceId = 0;
  // The alert type and criteria the detector worked out (the old numbering
  // mapped), else those the event carried.
  int alertType = 0, criteria = 0;
  int newCount = 0, repeatCount = 0, clearedCount = 0;
  // Why a refused or failed event was: the refusal, the last error line the
  // detector logged for it, or the commit's error.
  std::string reason;
  // False when the event's rows could not be committed: nothing of it is
  // stored, whatever OK says.
  bool committed = true;
  // Database operations of the event that ended in an error, the last one's
  // text, and what went wrong committing.
  unsigned long long databaseErrors = 0;
  std::string lastDatabaseError;
};

class EvNEventBatch {
 public:
  using Settled = std::function<void(const EvNEventResult&)>;

  EvNEventBatch(EvNDetector& detector, EvNBatchOptions options, Settled settled);
  ~EvNEventBatch();
  EvNEventBatch(const EvNEventBatch&) = delete;
  EvNEventBatch& operator=(const EvNEventBatch&) = delete;

  // Runs ALERT through the detector. Its result reaches the Settled callback
  // when its transaction has committed: at once with PerStatement or a group
  // of 1, else when the group is full or flush() is called.
  void store(EvAlertEx& alert, long long tag = 0);
  // Commits the open group and settles its events. 0, or the error code of
  // the commit (every event of the group then settled as not committed).
  int flush();
  // Events run but not yet settled.
  size_t pending() const { return m_pending.size(); }
  // True once the database refused a write for good (Db::isFatalError): the
  // event that met it and the open group were rolled back and settled as not
  // committed, and nothing more is run or committed.
  bool stopped() const { return m_stopped; }

 private:
  // Runs ALERT, which the handler may change; ORIGINAL is the alert as it
  // came, for a run to be done again.
  void runEvent(EvAlertEx& alert, const EvAlertEx& original, EvNEventResult& result);
  // Runs ALERT in a transaction level of its own and ends it. False when
  // its pipeline failed: the level was rolled back and the event must run
  // again without pipelining.
  bool runIsolated(EvAlertEx& alert, EvNEventResult& result);
  // Whether the event that just failed for a reason noted in m_retry runs
  // again; waits for a new connection when the old one went.
  bool mayRunAgain();
  // Runs the events of a group whose connection went again in a new group,
  // once a new connection opens (else settles them as failed).
  void runGroupAgain();
  // Runs the beforeCommit hook, if any, for a commit that ends with TAG.
  bool noteCommit(long long tag, std::string* error);
  bool reconnect();
  // Drops the open group transaction, and what its events read once for all.
  void endGroup();
  void beginPipeline();
  void endPipeline();
  void settleAll(bool committed, const std::string& why);
  // Rolls back TRAN and the open group and stops the batch.
  void stop(EvNEventResult& result, DBtran& tran, const std::string& why);

  EvNDetector& m_detector;
  EvNBatchOptions m_options;
  Settled m_settled;
  std::unique_ptr<DBtran> m_group;  // the open group transaction (groups of more than 1)
  std::vector<EvNEventResult> m_pending;
  // The open group's events as they came, beside m_pending.
  std::vector<EvAlertEx> m_groupAlerts;
  // The open group's connection went: every event of it runs again.
  bool m_groupLost = false;
  bool m_pipelined = false;
  // The event met a key another detector holds while its group held others.
  bool m_contended = false;
  // Run the event with the open group committed, waiting for its keys.
  bool m_waitForKeys = false;
  bool m_stopped = false;
  // Why the event just run may succeed when run again.
  enum class Retry { None, Lost, Busy };
  Retry m_retry = Retry::None;
  int m_lostRuns = 0;     // runs of the current event that lost their connection
  bool m_busyRun = false; // the current event already ran again after a busy database
  // No connection opened within reconnectFor: later events fail at once
  // until one runs without losing its connection.
  bool m_gaveUp = false;
};
