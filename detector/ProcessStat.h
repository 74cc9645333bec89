// Processing states of an NTDetectedAlerts row (column processStat). These
// values are the contract with the notifier that reads the rows: it sends
// what is pending and moves rows out of the pending states itself.
#pragma once

enum ProcessStat : int {
  // Inserted; detail rows and parameters are still being written, so the
  // notifier must not pick the row up yet.
  eAlertStatusWriting = 0,
  // Complete and pending notification.
  eAlertStatusPending = 1,
  // Pending notification of a custom-query rule whose last-value filter had
  // already matched in an earlier run.
  eAlertStatusPendingMatch = 2,
  // The condition of a pending occurrence has cleared.
  eAlertStatusCleared = 4,
  // A third pending bit, set on rows outside the detector.
  eAlertStatusPendingNotifier = 0x40,
  // Held back for further processing.
  eAlertStatusHeld = 128,
};

// A row whose state has any of these bits set is still pending: a repeat of
// the same alert on the same object updates it instead of notifying again.
constexpr int kPendingProcessStatMask = eAlertStatusPending | eAlertStatusPendingMatch | eAlertStatusPendingNotifier;
static_assert(kPendingProcessStatMask == 0x43);

constexpr bool isPendingProcessStat(int processStat) { return (processStat & kPendingProcessStatMask) != 0; }
