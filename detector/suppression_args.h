// The suppression argument list as one value: the thirteen object ids that
// name the managed object an occurrence is about. Handlers build it from the
// event and change only the ids that differ, by name, so that no two ids can
// trade places in a call.
//
//   EvSuppressionArgs args = EvSuppressionArgs::fromEvent(alert).ruleOrUserId(alert.getAlertRule());
//   const int pending = GetExistingEventIdEx(args);
#pragma once

class EvAlertEx;

struct EvSuppressionArgs {
  int library = 0;
  int sparePool = 0;
  int drive = 0;
  int media = 0;
  int mediaAgent = 0;
  int mountPath = 0;
  int client = 0;
  int subClient = 0;
  long long job = 0;
  int store = 0;
  int ruleOrUser = 0;
  int storagePolicy = 0;
  int copy = 0;

  // The first nine ids (library .. job) from the event's getters of the
  // same names; store, rule-or-user, storage policy and copy are 0.
  static EvSuppressionArgs fromEvent(const EvAlertEx& alert);

  // Named setters for the ids a handler passes differently.
  EvSuppressionArgs& clientId(int v) { client = v; return *this; }
  EvSuppressionArgs& subClientId(int v) { subClient = v; return *this; }
  EvSuppressionArgs& jobId(long long v) { job = v; return *this; }
  EvSuppressionArgs& storeId(int v) { store = v; return *this; }
  EvSuppressionArgs& ruleOrUserId(int v) { ruleOrUser = v; return *this; }
  EvSuppressionArgs& storagePolicyId(int v) { storagePolicy = v; return *this; }
  EvSuppressionArgs& copyId(int v) { copy = v; return *this; }
};
