#include <cstring>
#include <map>
#include <string>

#include "schema/schema.h"

namespace evd::schema {
namespace {

struct Less {
  bool operator()(const char* a, const char* b) const { return std::strcmp(a, b) < 0; }
};

// Bodies run unchanged on both backends: inputs are $1.., bit tests use '&',
// and no statement depends on one dialect's extensions.
const std::map<const char*, std::vector<std::string>, Less>& bodies() {
  static const std::map<const char*, std::vector<std::string>, Less> m = {
      {"NTGetExistingEventIdEx",
       {"SELECT COALESCE((SELECT eventId FROM NTDetectedAlerts WHERE entityId = $5 AND alertType = $2 "
        "AND criteria = $3 AND category = $1 AND status = $4 AND (processStat & 67) <> 0 LIMIT 1), 0) AS rcCode"}},
      {"NTGetEventParam",
       {"SELECT value AS eventParam FROM NTDparams WHERE eventId = $1 AND type = $2 ORDER BY evdRowId LIMIT 1"}},
  };
  return m;
}

}  // namespace

const std::vector<std::string>* procedureBody(const char* name) {
  auto it = bodies().find(name);
  return it == bodies().end() ? nullptr : &it->second;
}

}  // namespace evd::schema
