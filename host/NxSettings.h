// The host's settings: section/name/value texts kept in the database table
// EvdSettings, read and written on the calling thread's connection. The
// well-known entries are listed below and in docs/settings.md.
//
// Every call returns a code and never throws: 0 success, 100 (DB_NO_DATA)
// no such entry, DB_ERR_USAGE for an empty or overlong section or name,
// kSettingBadValue for a value that is not what the reader expects, or the
// database layer's error code (its text goes to *error when given).
//
// The implementation lives with the detector library (it needs the
// database layer); programs that include this header link evd_detector.
#pragma once

#include <string>
#include <vector>

namespace EvdSetting {

// A value that exists but cannot be read as the number the caller asked for.
constexpr int kBadValue = 9100;
// Longest section or name (the key columns hold this many bytes).
constexpr size_t kMaxKeyLength = 255;

// Server flags: "1" switches them on; anything else or nothing is off.
constexpr const char* kServerSection = "Server";
constexpr const char* kBlockAlerts = "BlockAlerts";
constexpr const char* kTraceAlerts = "TraceAlerts";
// Alert-log levels by application ("Alerts" is the detector's), 1..10.
constexpr const char* kDebugLevelSection = "DebugLevel";
constexpr const char* kAlertsApp = "Alerts";
// Event-manager configuration numbers.
constexpr const char* kEventManagerSection = "EventManager";
constexpr const char* kDisableVMAlertFeature = "nDisableVMAlertFeature";
// Global parameters of the server.
constexpr const char* kGlobalParamSection = "GlobalParam";
constexpr const char* kNTAlertLastEventId = "NTAlertLastEventId";
constexpr const char* kWebConsoleURL = "WebConsoleURL";
// Client properties live in the section "Client/<client id>".
constexpr const char* kClientSectionPrefix = "Client/";
constexpr const char* kVMInstanceUUID = "VMInstanceUUID";
constexpr const char* kPersonalWorkstation = "PersonalWorkstation";

}  // namespace EvdSetting

class Settings {
 public:
  struct Entry {
    std::string section;
    std::string name;
    std::string value;
  };

  // Reads one value; VALUE is untouched unless the result is 0.
  static int get(const std::string& section, const std::string& name, std::string& value,
                 std::string* error = nullptr);
  // Creates or replaces one value.
  static int set(const std::string& section, const std::string& name, const std::string& value,
                 std::string* error = nullptr);
  // Removes one value; 100 when there was none.
  static int remove(const std::string& section, const std::string& name, std::string* error = nullptr);
  // Every entry, ordered by section and name (OUT is replaced).
  static int list(std::vector<Entry>& out, std::string* error = nullptr);

  // Source of configured log levels for EvDebug::getAppDebugLevel: the
  // entry (kDebugLevelSection, APP) as a signed decimal number.
  static int appDebugLevel(const char* app, int* level);
};
