// The host's settings: section/name/value texts kept by the installed
// store (the database layer installs one over its table EvdSettings when the
// database is configured), read and written on the calling thread's
// connection. The well-known entries are listed below and in
// docs/settings.md.
//
// Every call returns a code and never throws: 0 success, 100 (kNoData) no
// such entry, kUsage for an empty or overlong section or name, kBadValue for
// a value that is not what the reader expects, kNoStore before a store is
// installed, or the store's error code (its text goes to *error when given).
#pragma once

#include <string>
#include <vector>

namespace EvdSetting {

// The database layer's codes, so that a caller tells them apart as it does
// for any other call of that layer: no such entry, a key the store refuses,
// and no store installed (no database configured).
constexpr int kNoData = 100;
constexpr int kUsage = 9004;
constexpr int kNoStore = 9001;
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

// TEXT, blanks around it dropped, as a whole signed decimal number; false
// (OUT untouched) for anything else.
bool parseSigned(const std::string& text, long long& out);
// The same for an unsigned decimal or 0x-hexadecimal number; a sign is
// refused rather than wrapped around.
bool parseUnsigned(const std::string& text, unsigned long& out);
// TEXT without the blanks around it.
std::string trimmed(const std::string& text);

}  // namespace EvdSetting

struct SettingEntry {
  std::string section;
  std::string name;
  std::string value;
};

// Where the settings are kept. Keys reach it checked (1 to kMaxKeyLength
// bytes); it may throw (Settings catches), and returns the codes above.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual int get(const std::string& section, const std::string& name, std::string& value, std::string* error) = 0;
  virtual int set(const std::string& section, const std::string& name, const std::string& value,
                  std::string* error) = 0;
  virtual int remove(const std::string& section, const std::string& name, std::string* error) = 0;
  // Every entry, or those of one SECTION when it is not null, ordered by
  // section and name; OUT is replaced, and empty after an error.
  virtual int list(const std::string* section, std::vector<SettingEntry>& out, std::string* error) = 0;
};

class Settings {
 public:
  using Entry = SettingEntry;

  // Installs the store every call uses from now on (null: none); returns
  // the previous one. The store must outlive its use.
  static SettingsStore* setStore(SettingsStore* store);

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
  // The entries of one section, ordered by name (OUT is replaced).
  static int listSection(const std::string& section, std::vector<Entry>& out, std::string* error = nullptr);

  // A read on behalf of an object that answers with a flag or a number
  // only: an error other than kNoData leaves a line in the log.
  static int getLogged(const char* section, const char* name, std::string& value);

  // Source of configured log levels for EvDebug::getAppDebugLevel: the
  // entry (kDebugLevelSection, APP) as a signed decimal number.
  static int appDebugLevel(const char* app, int* level);
};
