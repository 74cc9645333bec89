#include "params/EvNTRuleParams.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "Db/AllBindings.h"
#include "host/EvAlertDebug.h"
#include "params/EvNDetectParams.h"

namespace {

// Property types this class builds.
constexpr int kTypeText = 1;
constexpr int kTypeInt = 7;
constexpr int kTypeInt64Text = 14;

// getProperty: the rule has no property of that name.
constexpr int kPropertyNotFound = 0x80001;

}  // namespace

EvNTRuleParams::EvNTRuleParams(DBtran* tran) : m_tran(tran) {}

EvNTRuleParams::~EvNTRuleParams() {
  clearProperties();
}

void EvNTRuleParams::clearProperties() {
  for (auto& entry : m_cache) entry.second.cleanUpList();
  m_cache.clear();
  m_loaded = false;
}

int EvNTRuleParams::initProperties() {
  if (m_loaded) return 0;
  static const char* const kFn = "EvNTRuleParams::initProperties";
  EvAlertDebug log;
  log.DebugLvl(kFn, 10, "Initializing properties for NotificationRule [%d]", m_alertId);
  for (auto& entry : m_cache) entry.second.cleanUpList();
  m_cache.clear();

  NTnotificationProp t(m_tran);
  if (m_tran == nullptr) t.setIsolationType(4);
  t.setWhere("componentNameId=%d and modified=0", m_alertId);
  // Oldest row first: should a name have several current rows, the
  // first one read is the one reported.
  t.setOrderBy("id");
  int counter = 0;
  int rc = 0;
  while (DBrowRead(rc = t.getNextRow(&counter))) {
    const NTnotificationProp_t* r = t.getDataPtr();
    if (r->attrName == nullptr || r->attrVal == nullptr) continue;
    m_cache[r->attrName].addToPropList(r->attrName, r->attrType, r->attrVal, r->id);
  }
  if (rc == DB_NO_DATA) {
    m_loaded = true;
    return 0;
  }
  log.Error(kFn, "Error [%d] in initializing alert props for alertId [%d]", rc, m_alertId);
  return rc;
}

int EvNTRuleParams::getProperty(ApplProperty& property) {
  const int rc = initProperties();
  if (rc != 0 && rc != DB_NO_DATA) return rc;
  auto it = m_cache.find(property.getName());
  if (it == m_cache.end() || it->second.empty()) return kPropertyNotFound;
  property.setValue(it->second.getList().front().getValue());
  return 0;
}

bool EvNTRuleParams::GetOneParam(const std::string& name, int& value) {
  value = 0;
  ApplNativeProperty p(name, kTypeInt, "");
  if (getProperty(p) == 0) value = p.getIntegerValue();
  return true;
}

bool EvNTRuleParams::GetOneParam(const std::string& name, long long& value) {
  value = 0;
  ApplNativeProperty p(name, kTypeInt64Text, "");
  if (getProperty(p) == 0) value = std::strtoll(p.getStringValue().c_str(), nullptr, 10);
  return true;
}

bool EvNTRuleParams::GetOneParam(const std::string& name, char* value, unsigned long size) {
  if (value == nullptr || size == 0) return true;
  std::memset(value, 0, size);
  ApplNativeProperty p(name, kTypeText, "");
  if (getProperty(p) == 0) {
    const std::string& text = p.getStringValue();
    dbCopyText(value, size, text.data(), text.size());
  }
  return true;
}

bool EvNTRuleParams::GetOneParam(const std::string& name, std::string& value) {
  value.clear();
  ApplNativeProperty p(name, kTypeText, "");
  if (getProperty(p) == 0) value = p.getStringValue();
  return true;
}

bool EvNTRuleParams::AddOrUpdateParam(const std::string& name, int value) {
  ApplNativeProperty p(name, value);
  return AddOrUpdateParam(p);
}

bool EvNTRuleParams::AddOrUpdateParam(const std::string& name, long value) {
  ApplNativeProperty p(name, value);
  return AddOrUpdateParam(p);
}

bool EvNTRuleParams::AddOrUpdateParam(const std::string& name, const std::string& value) {
  ApplNativeProperty p(name, kTypeText, value);
  return AddOrUpdateParam(p);
}

bool EvNTRuleParams::AddOrUpdateParam(ApplProperty& property) {
  static const char* const kFn = "EvNTRuleParams::AddOrUpdateParam";
  EvAlertDebug log;
  const std::string& name = property.getName();
  const std::string& value = property.getValue();

  NTnotificationProp t(m_tran);
  t.setWhere("componentNameId = %d and attrName=N'%s'", m_alertId, name.c_str());
  // Only the current row is the property; rows kept as history
  // (modified != 0) are never rewritten.
  t.setCatWhere(" and modified=0");
  int rc = t.getOneRow();
  if (!DBrowRead(rc) && rc != DB_NO_DATA) {
    log.Error(kFn, "cannot read from table [%s], error [%s]", t.getTableName(), t.getErrorStr(rc));
    return false;
  }

  NTnotificationProp_t* r = t.getDataPtr();
  r->componentNameId = m_alertId;
  r->attrType = property.getType();
  EvNDetectParams::AllocateAndAssign(r->attrName, name);
  EvNDetectParams::AllocateAndAssign(r->attrVal, value);
  r->created = EvAlertDebug::now();
  r->modified = 0;

  if (rc == DB_NO_DATA) {
    rc = t.rowInsert(true);
    if (rc != 0) {
      log.Error(kFn,
                "Cannot Update NTnotificationProp row for m_alertId [%d] attrName [%s] and value [%s] errorString [%s]",
                m_alertId, name.c_str(), value.c_str(), t.getErrorStr(rc));
      return false;
    }
  } else {
    // The property keeps the time it was first set.
    rc = t.rowUpdate("attrVal=N'%s'", value.c_str());
    if (rc != 0) {
      log.Error(kFn,
                "Cannot Update NTnotificationProp row for m_alertId [%d] attrName [%s] and value [%s], errorString [%s]",
                m_alertId, name.c_str(), value.c_str(), t.getErrorStr(rc));
      return false;
    }
  }
  log.DebugLvl(kFn, 10, "Set alert property for m_alertId [%d] attrName [%s] and value [%s]", m_alertId, name.c_str(),
               value.c_str());
  updatePropCache(property);
  return true;
}

int EvNTRuleParams::updatePropCache(const ApplProperty& property) {
  PropertiesList& list = m_cache[property.getName()];
  list.cleanUpList();
  list.addToPropList(property);
  return 0;
}
