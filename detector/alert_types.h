// The alert types the detector dispatches (detector/handlers.def), with the
// display name and category that `evdetect init` seeds into NTAlertType and
// the handler each one reaches.
#pragma once

#include <string>
#include <vector>

struct AlertTypeInfo {
  int id;
  const char* name;
  int category;
  const char* handler;  // the EvNDetector member, e.g. "StoreLibrary"
  bool takesCleared;    // whether the handler is told the criteria were cleared
};

// Categories of our own schema (NTAlertType.categoryID).
enum AlertCategory : int {
  kCategoryJobManagement = 1,
  kCategoryMediaManagement = 2,
  kCategoryConfiguration = 3,
  kCategorySoftwareUpdates = 4,
  kCategoryQueriesAndMonitoring = 5,
  kCategoryAdministration = 6,
};

const char* alertCategoryName(int category);

// Every alert type that has a handler slot, ordered by id.
const std::vector<AlertTypeInfo>& knownAlertTypes();
// Null when ID has no handler slot.
const AlertTypeInfo* findAlertType(int id);

// Writes every known alert type into NTAlertType (rows already there keep
// their category). Returns 0 or the database layer's error code.
int seedAlertTypes(std::string* error);
