// Named properties of a notification rule (NTnotificationProp), read into a
// cache on first use and written through to the table and the cache.
// Used from the thread that calls the detector.
#pragma once

#include <map>
#include <string>

#include "host/AppProperties.h"

class DBtran;

class EvNTRuleParams {
 public:
  explicit EvNTRuleParams(DBtran* tran);
  ~EvNTRuleParams();
  EvNTRuleParams(const EvNTRuleParams&) = delete;
  EvNTRuleParams& operator=(const EvNTRuleParams&) = delete;

  // Does not touch the cache: a caller that switches rules clears first.
  void setAlertId(int alertId) { m_alertId = alertId; }
  int alertId() const { return m_alertId; }

  // Missing properties and read errors give 0 or empty text; always true.
  bool GetOneParam(const std::string& name, int& value);
  bool GetOneParam(const std::string& name, long long& value);
  bool GetOneParam(const std::string& name, char* value, unsigned long size);
  bool GetOneParam(const std::string& name, std::string& value);

  bool AddOrUpdateParam(const std::string& name, int value);
  bool AddOrUpdateParam(const std::string& name, long value);
  bool AddOrUpdateParam(const std::string& name, const std::string& value);
  bool AddOrUpdateParam(ApplProperty& property);

  // 0 when found, 0x80001 when the rule has no such property, else a read error.
  int getProperty(ApplProperty& property);
  int initProperties();
  int updatePropCache(const ApplProperty& property);
  void clearProperties();
  bool isLoaded() const { return m_loaded; }

 private:
  int m_alertId = 0;
  DBtran* m_tran;
  bool m_loaded = false;
  std::map<std::string, PropertiesList> m_cache;
};
