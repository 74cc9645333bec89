// Server maintenance job alerts, both with the detail table
// NTDdataAgingER and the plain handler pattern, without repeat check or
// suppression:
//   alert type 1  StoreDataAgingData  data-aging (pruning) jobs; no withdrawal:
//                 a cleared criteria-5 event is a new occurrence like any other
//   alert type 5  StoreErBackupData   disaster-recovery backups of the server's
//                 database; a cleared criteria 5 withdraws the job's delayed alerts
#include "detector/handler_pattern.h"

namespace {

constexpr int kDelayedJobCriteria = 5;
constexpr const char* kDetailTable = "NTDdataAgingER";

// The parameters both handlers store first, in order.
void commonParams(ParamRows& p, EvAlertEx& alert) {
  p.jobBasics(alert)
      .text(ParamJobErrorString, alert.getJobErrString());
}

}  // namespace

bool EvNDetector::StoreErBackupData(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreErBackupData");
  return call.guarded([&]() -> bool {
    if (call.delayedJobCleared(kDelayedJobCriteria)) return call.withdrawDelayedJob(kDetailTable);
    return recordJobOccurrence<NTDdataAgingER>(
        call,
        [&](NTDdataAgingER_t& row) {
          fillJobColumns(row, alert);
          row.level = static_cast<int>(alert.getBackupLevel());
        },
        [&](ParamRows& p) { commonParams(p, alert); });
  });
}

bool EvNDetector::StoreDataAgingData(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreDataAgingData");
  return call.guarded([&]() -> bool {
    // level and the client columns keep the row's initial values.
    return recordJobOccurrence<NTDdataAgingER>(
        call, [&](NTDdataAgingER_t& row) { fillJobColumns(row, alert); },
        [&](ParamRows& p) {
          commonParams(p, alert);
          p.texts(ParamBarcodeList, alert.getBarCodeList())  // an empty list stores no row
              .asInt(ParamPruneJobCount, alert.getPruneJobCount());
        });
  });
}
