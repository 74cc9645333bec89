// The registry of message classes: every class of message_classes.h with its
// fields (kind, number, key, slot, name), taken from the tables there. Field
// numbers, keys and slots are those the server's message definitions give;
// fields of a class that no reader names are left out, so an input carrying
// them is refused rather than silently dropped.
#include "host/messages/message_classes.h"

#include <iterator>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>

namespace {

template <class T>
std::unique_ptr<CNMessageBase> make() {
  return std::make_unique<T>();
}

template <class T>
CNClassDef message() {
  CNClassDef c;
  c.name = T::kName;
  c.type = {T::kTypeMajor, T::kTypeMinor};
  c.classKey = T::kClassKey;
  c.fields.assign(std::begin(T::Fields::all), std::end(T::Fields::all));
  c.make = &make<T>;
  return c;
}

CNClassDef enumeration(const char* name, uint32_t tag, std::vector<CNEnumValue> values) {
  CNClassDef c;
  c.name = name;
  c.classKey = tag;
  c.isEnum = true;
  c.values = std::move(values);
  return c;
}

std::vector<CNClassDef> buildTable() {
#define EVD_REGISTER_MESSAGE_CLASS(NS, NAME, MAJOR, MINOR, KEY) message<NS::NAME>(),
  return {
      EVD_MESSAGE_CLASSES(EVD_REGISTER_MESSAGE_CLASS)
      enumeration("JobManager::NXMaltrexUpdateStatus", kUpdateStatusEnumTag,
                  {
                      {0, "Pending", "Waiting to start"},
                      {1, "Running", "In progress"},
                      {2, "Succeeded", "Updated successfully"},
                      {3, "Failed", "Update failed"},
                      {4, "Skipped", "Skipped, already up to date"},
                      {5, "RebootRequired", "Updated, reboot required"},
                      {6, "Killed", ""},
                      {7, "NoUpdatesNeeded", ""},
                  }),
  };
#undef EVD_REGISTER_MESSAGE_CLASS
}

struct TypeLess {
  bool operator()(const CNTypePair& a, const CNTypePair& b) const {
    return a.major != b.major ? a.major < b.major : a.minor < b.minor;
  }
};

struct Registry {
  std::vector<CNClassDef> table = buildTable();
  std::vector<const CNClassDef*> all;
  std::unordered_map<uint32_t, const CNClassDef*> byKey;
  std::map<CNTypePair, const CNClassDef*, TypeLess> byType;

  Registry() {
    for (const CNClassDef& c : table) {
      all.push_back(&c);
      byKey.emplace(c.classKey, &c);
      if (!c.isEnum) byType.emplace(c.type, &c);
    }
  }
};

const Registry& registry() {
  static const Registry r;
  return r;
}

}  // namespace

const CNClassDef* CNFindClass(uint32_t classKey) {
  const Registry& r = registry();
  auto it = r.byKey.find(classKey);
  return it == r.byKey.end() ? nullptr : it->second;
}

const CNClassDef* CNFindClass(CNTypePair type) {
  const Registry& r = registry();
  auto it = r.byType.find(type);
  return it == r.byType.end() ? nullptr : it->second;
}

const std::vector<const CNClassDef*>& CNAllClasses() { return registry().all; }
