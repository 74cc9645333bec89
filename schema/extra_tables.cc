#include "schema/schema.h"

namespace evd::schema {

const std::vector<std::string>& extraTables() {
  static const std::vector<std::string> v = {
      // The host's settings: flags, configuration numbers, global parameters
      // and client properties, as section/name/value text.
      "CREATE TABLE IF NOT EXISTS EvdSettings (section TEXT NOT NULL, name TEXT NOT NULL, "
      "value TEXT DEFAULT '', PRIMARY KEY (section, name))",
  };
  return v;
}

}  // namespace evd::schema
