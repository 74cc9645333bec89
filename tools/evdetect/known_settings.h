// The settings the detector reads, with the kind of value each wants, so that
// `config set` can refuse a mistyped key or value before the detector meets
// it. docs/settings.md lists the same entries for people.
#pragma once

#include <string>
#include <vector>

namespace evdetect {

enum class ValueKind {
  Flag,      // 0 or 1
  Decimal,   // a signed decimal number
  Int32,     // a signed decimal that fits 32 bits
  Unsigned,  // an unsigned decimal or 0x-hexadecimal number
  Text,      // anything
};

struct KnownSetting {
  const char* section;  // "Client/<client id>" stands for every client's section
  const char* name;
  ValueKind kind;
};

const std::vector<KnownSetting>& knownSettings();
const char* valueKindName(ValueKind kind);

// Empty when SECTION NAME = VALUE is a setting the detector reads and VALUE
// is of its kind; otherwise one line saying what is wrong, with the nearest
// known section, name or form of value.
std::string checkSetting(const std::string& section, const std::string& name, const std::string& value);

}  // namespace evdetect
