#include "tools/evdetect/known_settings.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "host/NxSettings.h"
#include "tools/evdetect/commands.h"

namespace evdetect {
namespace {

using namespace EvdSetting;

constexpr const char* kClientSection = "Client/<client id>";

// The section as the table spells it: every "Client/N" is one section.
std::string sectionKey(const std::string& section) {
  const size_t prefix = std::strlen(kClientSectionPrefix);
  if (section.size() > prefix && section.compare(0, prefix, kClientSectionPrefix) == 0 &&
      section.find_first_not_of("0123456789", prefix) == std::string::npos)
    return kClientSection;
  return section;
}

std::string trimmed(const std::string& text) {
  const size_t b = text.find_first_not_of(" \t");
  return b == std::string::npos ? std::string() : text.substr(b, text.find_last_not_of(" \t") - b + 1);
}

bool isKind(const std::string& value, ValueKind kind) {
  const std::string t = trimmed(value);
  char* end = nullptr;
  errno = 0;
  switch (kind) {
    case ValueKind::Text: return true;
    case ValueKind::Flag: return t == "0" || t == "1";
    case ValueKind::Decimal:
    case ValueKind::Int32: {
      if (t.empty()) return false;
      const long long v = std::strtoll(t.c_str(), &end, 10);
      if (errno != 0 || *end != '\0') return false;
      return kind == ValueKind::Decimal || (v >= INT_MIN && v <= INT_MAX);
    }
    case ValueKind::Unsigned:
      if (t.empty() || t[0] == '-' || t[0] == '+') return false;
      std::strtoul(t.c_str(), &end, 0);
      return errno == 0 && *end == '\0';
  }
  return false;
}

}  // namespace

const std::vector<KnownSetting>& knownSettings() {
  static const std::vector<KnownSetting> v = {
      {kServerSection, kBlockAlerts, ValueKind::Flag},
      {kServerSection, kTraceAlerts, ValueKind::Flag},
      {kDebugLevelSection, kAlertsApp, ValueKind::Decimal},
      {kEventManagerSection, kDisableVMAlertFeature, ValueKind::Unsigned},
      {kGlobalParamSection, kNTAlertLastEventId, ValueKind::Int32},
      {kGlobalParamSection, kWebConsoleURL, ValueKind::Text},
      {kClientSection, kVMInstanceUUID, ValueKind::Text},
      {kClientSection, kPersonalWorkstation, ValueKind::Decimal},
  };
  return v;
}

const char* valueKindName(ValueKind kind) {
  switch (kind) {
    case ValueKind::Flag: return "flag, 0 or 1";
    case ValueKind::Decimal: return "decimal number";
    case ValueKind::Int32: return "signed 32-bit decimal number";
    case ValueKind::Unsigned: return "unsigned decimal or 0x-hexadecimal number";
    case ValueKind::Text: return "text";
  }
  return "";
}

std::string checkSetting(const std::string& section, const std::string& name, const std::string& value) {
  const std::string key = sectionKey(section);
  std::vector<std::string> sections, names;
  for (const KnownSetting& s : knownSettings()) {
    if (sections.empty() || sections.back() != s.section) sections.push_back(s.section);
    if (key != s.section) continue;
    names.push_back(s.name);
    if (name != s.name) continue;
    if (isKind(value, s.kind)) return {};
    return "setting " + section + " " + name + " wants a " + valueKindName(s.kind) + ", not '" + value + "'";
  }
  if (names.empty()) {
    const bool client = section.rfind(kClientSectionPrefix, 0) == 0;
    return "unknown section '" + section + "'" +
           (client ? "; did you mean '" + std::string(kClientSection) + "'?" : didYouMean(section, sections));
  }
  return "unknown setting '" + name + "' in section " + section + didYouMean(name, names);
}

}  // namespace evdetect
