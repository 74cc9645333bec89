#include "db/settings_store.h"

#include "Db/Tbl/EvdSettings.h"

// The host names these codes without seeing this layer.
static_assert(EvdSetting::kNoData == DB_NO_DATA);
static_assert(EvdSetting::kUsage == DB_ERR_USAGE);
static_assert(EvdSetting::kNoStore == DB_ERR_CONNECT);

namespace Db::detail {
namespace {

int fail(const DBtable& t, int rc, std::string* error) {
  if (error) *error = t.getErrorStr(rc);
  return rc;
}

class DatabaseSettings final : public SettingsStore {
 public:
  int get(const std::string& section, const std::string& name, std::string& value, std::string* error) override {
    EvdSettings t(nullptr);
    t.setWhere("section = '%s' AND name = '%s'", section.c_str(), name.c_str());
    const int rc = t.getOneRow();
    if (rc == DB_NO_DATA) return rc;
    // Keys are at most 255 bytes, so only an oversized stored key can come
    // back cut; the value column has no limit.
    if (!DBrowRead(rc)) return fail(t, rc, error);
    const char* v = t.getDataPtr()->value;
    value = v ? v : "";
    return 0;
  }

  int set(const std::string& section, const std::string& name, const std::string& value,
          std::string* error) override {
    EvdSettings upd(nullptr);
    upd.setWhere("section = '%s' AND name = '%s'", section.c_str(), name.c_str());
    int rc = upd.rowUpdate("value = '%s'", value.c_str());
    if (rc == 0) return 0;
    if (rc != DB_NO_DATA) return fail(upd, rc, error);
    EvdSettings ins(nullptr);
    EvdSettings_t* r = ins.getDataPtr();
    dbCopyText(r->section, section.c_str());
    dbCopyText(r->name, name.c_str());
    Db::assignText(r->value, value.c_str());
    rc = ins.rowInsert(false);
    if (rc == 0) return 0;
    // Another writer may have created the entry between our update and
    // insert; then the update finds it now.
    const int again = upd.rowUpdate("value = '%s'", value.c_str());
    if (again == 0) return 0;
    return fail(ins, rc, error);
  }

  int remove(const std::string& section, const std::string& name, std::string* error) override {
    EvdSettings t(nullptr);
    t.setWhere("section = '%s' AND name = '%s'", section.c_str(), name.c_str());
    const int rc = t.rowDelete();
    if (rc == 0 || rc == DB_NO_DATA) return rc;
    return fail(t, rc, error);
  }

  int list(const std::string* section, std::vector<SettingEntry>& out, std::string* error) override {
    out.clear();
    EvdSettings t(nullptr);
    if (section) t.setWhere("section = '%s'", section->c_str());
    t.setOrderBy("section, name");
    int counter = 0;
    int rc;
    while (DBrowRead(rc = t.getNextRow(&counter))) {
      const EvdSettings_t* r = t.getDataPtr();
      out.push_back(SettingEntry{r->section, r->name, r->value ? r->value : ""});
    }
    if (rc == DB_NO_DATA) return 0;
    out.clear();
    return fail(t, rc, error);
  }
};

}  // namespace

SettingsStore& databaseSettings() {
  static DatabaseSettings store;
  return store;
}

}  // namespace Db::detail
