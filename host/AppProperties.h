// Properties of the application manager: a named, typed value, and a list of
// them. Types used by the detector: 1 text, 7 int, 9 long, 14 64-bit integer
// read as text.
#pragma once

#include <memory>
#include <string>
#include <vector>

class ApplProperty {
 public:
  ApplProperty() = default;
  ApplProperty(std::string name, int type, std::string value, int id = 0)
      : m_name(std::move(name)), m_type(type), m_value(std::move(value)), m_id(id) {}
  virtual ~ApplProperty() = default;

  const std::string& getName() const { return m_name; }
  int getType() const { return m_type; }
  const std::string& getValue() const { return m_value; }
  void setValue(const std::string& value) { m_value = value; }
  int getId() const { return m_id; }
  // The value as an int: leading decimal digits, 0 when there are none.
  int getIntegerValue() const;
  const std::string& getStringValue() const { return m_value; }

 private:
  std::string m_name;
  int m_type = 1;
  std::string m_value;
  int m_id = 0;
};

// A property built from a native value.
class ApplNativeProperty : public ApplProperty {
 public:
  ApplNativeProperty(const std::string& name, int type, const std::string& value) : ApplProperty(name, type, value) {}
  ApplNativeProperty(const std::string& name, int value) : ApplProperty(name, 7, std::to_string(value)) {}
  ApplNativeProperty(const std::string& name, long value) : ApplProperty(name, 9, std::to_string(value)) {}
};

class PropertiesList {
 public:
  void addToPropList(const std::string& name, int type, const std::string& value, int id) {
    m_list.emplace_back(name, type, value, id);
  }
  void addToPropList(const ApplProperty& property) { m_list.push_back(property); }
  void cleanUpList() { m_list.clear(); }
  const std::vector<ApplProperty>& getList() const { return m_list; }
  bool empty() const { return m_list.empty(); }

 private:
  std::vector<ApplProperty> m_list;
};
