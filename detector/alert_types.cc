#include "detector/alert_types.h"

#include "Db/AllBindings.h"
#include "db/session.h"
#include "schema/schema.h"

namespace {

const std::vector<AlertTypeInfo> kTypes = {
    {1, "Data aging", kCategoryJobManagement},
    {2, "Auxiliary copy", kCategoryJobManagement},
    {3, "Data protection", kCategoryJobManagement},
    {4, "Data recovery", kCategoryJobManagement},
    {5, "Disaster recovery backup", kCategoryJobManagement},
    {6, "Data verification", kCategoryJobManagement},
    {7, "Library management", kCategoryMediaManagement},
    {8, "Drive and media management", kCategoryMediaManagement},
    {9, "Media erase", kCategoryMediaManagement},
    {10, "Client configuration", kCategoryConfiguration},
    {12, "System configuration", kCategoryConfiguration},
    {13, "MediaAgent configuration", kCategoryConfiguration},
    {14, "Schedules", kCategoryConfiguration},
    {15, "Storage policy", kCategoryConfiguration},
    {16, "Library configuration", kCategoryMediaManagement},
    {17, "Media handling", kCategoryMediaManagement},
    {18, "Media movement", kCategoryMediaManagement},
    {19, "Update download", kCategorySoftwareUpdates},
    {20, "Patch installation", kCategorySoftwareUpdates},
    {21, "Drive pool", kCategoryMediaManagement},
    {22, "Data erase", kCategoryMediaManagement},
    {23, "Journal mailbox", kCategoryJobManagement},
    {24, "Updates available", kCategorySoftwareUpdates},
    {25, "File replication", kCategoryJobManagement},
    {26, "Release upgrade required", kCategorySoftwareUpdates},
    {27, "Data classification", kCategoryJobManagement},
    {28, "File-level restore", kCategoryJobManagement},
    {29, "Data verification (deduplication)", kCategoryJobManagement},
    {30, "SharePoint", kCategoryJobManagement},
    {52, "Reports", kCategoryAdministration},
    {53, "Information management", kCategoryJobManagement},
    {54, "Auxiliary copy (fallen behind)", kCategoryJobManagement},
    {55, "Data verification (media)", kCategoryJobManagement},
    {57, "Log monitoring", kCategoryQueriesAndMonitoring},
    {58, "Event log", kCategoryAdministration},
    {59, "Client group configuration", kCategoryConfiguration},
    {60, "System configuration (licensing)", kCategoryConfiguration},
    {61, "Backup copy", kCategoryJobManagement},
    {62, "Log monitoring (policy)", kCategoryQueriesAndMonitoring},
    {63, "Workflow", kCategoryJobManagement},
    {64, "Virtualization", kCategoryJobManagement},
    {65, "Custom query", kCategoryQueriesAndMonitoring},
    {66, "Data analytics", kCategoryJobManagement},
    {67, "Software uninstall", kCategorySoftwareUpdates},
    {68, "Client upgrade", kCategorySoftwareUpdates},
    {69, "Software install", kCategorySoftwareUpdates},
    {70, "User", kCategoryConfiguration},
    {71, "User group", kCategoryConfiguration},
    {73, "Admin job", kCategoryJobManagement},
    {75, "Server administration", kCategoryAdministration},
};

}  // namespace

const char* alertCategoryName(int category) {
  switch (category) {
    case kCategoryJobManagement: return "Job Management";
    case kCategoryMediaManagement: return "Media Management";
    case kCategoryConfiguration: return "Configuration";
    case kCategorySoftwareUpdates: return "Software Updates";
    case kCategoryQueriesAndMonitoring: return "Queries and Monitoring";
    case kCategoryAdministration: return "Administration";
    default: return "";
  }
}

const std::vector<AlertTypeInfo>& knownAlertTypes() { return kTypes; }

const AlertTypeInfo* findAlertType(int id) {
  for (const AlertTypeInfo& t : kTypes)
    if (t.id == id) return &t;
  return nullptr;
}

int seedAlertTypes(std::string* error) {
  // One transaction, so that a second init running at the same time waits
  // and then finds every row (the key on id refuses a duplicate in any case).
  // SQLite's transaction takes the write lock at its start; on PostgreSQL the
  // schema's advisory lock does the same.
  DBtran tran;
  int rc = tran.startTran();
  if (rc != 0) {
    if (error) *error = tran.getErrorStr(rc);
    return rc;
  }
  rc = Db::schema::lockSchema(error);
  if (rc != 0) return rc;
  for (const AlertTypeInfo& t : kTypes) {
    NTAlertType existing(&tran);
    existing.setWhere("id = %d", t.id);
    rc = existing.getOneRow();
    if (rc == 0) continue;
    if (rc != DB_NO_DATA) {
      if (error) *error = existing.getErrorStr(rc);
      return rc;
    }
    NTAlertType row(&tran);
    row.getDataPtr()->id = t.id;
    row.getDataPtr()->categoryID = t.category;
    rc = row.rowInsert(true);
    if (rc == 0) {
      // The display columns are ours alone; the binding carries only what the
      // detector reads.
      NTAlertType named(&tran);
      named.setWhere("id = %d", t.id);
      rc = named.rowUpdate("name = '%s', categoryName = '%s'", t.name, alertCategoryName(t.category));
    }
    if (rc != 0) {
      if (error) *error = row.getErrorStr(rc);
      return rc;
    }
  }
  // A server always has its event-log counter; a new database starts it at
  // 0, so that event-log alerts find a marker to count from.
  KRCounter counter(&tran);
  counter.setWhere("name = '%s'", "Event_Counter");
  rc = counter.getOneRow();
  if (rc == DB_NO_DATA) {
    KRCounter fresh(&tran);
    dbCopyText(fresh.getDataPtr()->name, sizeof fresh.getDataPtr()->name, "Event_Counter", 13);
    rc = fresh.rowInsert(true);
    if (rc != 0 && error) *error = fresh.getErrorStr(rc);
  } else if (!DBrowRead(rc) && error) {
    *error = counter.getErrorStr(rc);
  }
  if (!DBrowRead(rc)) return rc;
  rc = tran.commitTran();
  if (rc != 0 && error) *error = tran.getErrorStr(rc);
  return rc;
}
