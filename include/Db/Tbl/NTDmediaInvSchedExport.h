// Detail of media inventory and scheduled export occurrences.
#pragma once

#include "Db/Binding.h"

#define NTDmediaInvSchedExport_COLUMNS(X) \
  X(eventId, INT32, 0) \
  X(jobId_h, INT32, 0) \
  X(jobId_l, INT32, 0) \
  X(startTime, DATETIME, 0) \
  X(endTime, DATETIME, 0) \
  X(schedTime, DATETIME, 0) \
  X(libraryId, INT32, 0) \
  X(exportLoc, CHARS, 2049) \
  X(mediaList, CHARS, 2049) \
  X(succeededMedia, CHARS, 2049) \
  X(taskId, INT32, 0) \
  X(schedPolicyId, INT32, 0)

DB_BINDING(NTDmediaInvSchedExport, Table, "", "")
