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
      : name_(std::move(name)), type_(type), value_(std::move(value)), id_(id) {}
  virtual ~ApplProperty() = default;

  const std::string& getName() const { return name_; }
  int getType() const { return type_; }
  const std::string& getValue() const { return value_; }
  void setValue(const std::string& value) { value_ = value; }
  int getId() const { return id_; }
  // The value as an int: leading decimal digits, 0 when there are none.
  int getIntegerValue() const;
  const std::string& getStringValue() const { return value_; }

 private:
  std::string name_;
  int type_ = 1;
  std::string value_;
  int id_ = 0;
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
    list_.emplace_back(name, type, value, id);
  }
  void addToPropList(const ApplProperty& property) { list_.push_back(property); }
  void cleanUpList() { list_.clear(); }
  const std::vector<ApplProperty>& getList() const { return list_; }
  bool empty() const { return list_.empty(); }

 private:
  std::vector<ApplProperty> list_;
};
