// Detail of library and media management occurrences.
#pragma once

#include "Db/Binding.h"

#define NTDlibraryMang_COLUMNS(X) \
  X(eventId, INT32, 0) \
  X(jobId_h, INT32, 0) \
  X(jobId_l, INT32, 0) \
  X(startTime, DATETIME, 0) \
  X(endTime, DATETIME, 0) \
  X(schedTime, DATETIME, 0) \
  X(libraryId, INT32, 0) \
  X(otherLibId, INT32, 0) \
  X(copyId, INT32, 0) \
  X(mediaAgentId, INT32, 0) \
  X(mediaSpaceLeft, INT32, 0) \
  X(threshold, INT32, 0) \
  X(exportLoc, CHARS, 2049) \
  X(taskId, INT32, 0) \
  X(schedPolicyId, INT32, 0) \
  X(driveId, INT32, 0) \
  X(moreMedia, INT32, 0)

DB_BINDING(NTDlibraryMang, Table, "", "")
