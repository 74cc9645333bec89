#include "detector/alert_types.h"

#include <algorithm>
#include <initializer_list>

#include "Db/AllBindings.h"
#include "db/session.h"
#include "schema/schema.h"

namespace {

struct TypeRow {
  int id;
  const char* name;
  int category;
};

// Ordered by id, whatever the order of the handlers.
const std::vector<AlertTypeInfo> kTypes = [] {
  std::vector<AlertTypeInfo> types;
  const auto add = [&](const char* handler, bool takesCleared, std::initializer_list<TypeRow> rows) {
    for (const TypeRow& r : rows) types.push_back({r.id, r.name, r.category, handler, takesCleared});
  };
#define EVD_TYPE(id, name, category) {id, name, category},
#define EVD_HANDLER(member, takesCleared, ...) add(#member, takesCleared, {__VA_ARGS__});
#include "detector/handlers.def"
  std::sort(types.begin(), types.end(), [](const AlertTypeInfo& a, const AlertTypeInfo& b) { return a.id < b.id; });
  return types;
}();

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
