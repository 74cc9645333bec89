// CNMessageBase: one structured message of the server (a "host message"), as
// events carry it serialised in their description text.
//
// Contract
// - A message belongs to one registered class, named by its type pair
//   (module, number) at construction; the class fixes its fields
//   (message_classes.cc). A message built with an unregistered type pair is
//   "classless": every read gives the default, every write and unserialize
//   fail.
// - Fields are numbered per accessor family: integers (int32 and int64),
//   texts, nested objects, lists (of objects or of texts). One class may have
//   an integer 7 and a text 7; they are different fields. A field may also
//   have a key, unique within its class.
// - The short forms take the field number alone. The keyed forms take the
//   number, the class key and the field key (and for texts and nested objects
//   one more accessor number, the slot) and answer only when all of them
//   name the same field of this message's class; any mismatch reads as an
//   unset field. That makes a caller's typo show up as "not set" instead of
//   reading a neighbouring field.
// - Reads of unset or unknown fields give 0, an empty text or nullptr.
// - unserialize() replaces the whole content and is all-or-nothing: on
//   failure it returns a non-zero CNMessageError and leaves the message
//   empty (every field unset), so a caller that ignores the result reads
//   defaults, never half of a hostile input.
// - serialize() writes the canonical XML form (docs/messages.md): the same
//   content always gives the same text, and everything it writes
//   unserializes again.
// - Reads, writers, unserialize and serialize do not throw: running out of
//   memory turns into an error code or a default. Copies, like any deep
//   copy, may throw std::bad_alloc.
// - Messages are values: copies are deep. Objects are not shared between
//   threads; the class registry is immutable and may be read from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

class CNMessageBase;
struct CNMessageAccess;

// A list field of nested objects.
using CNMessageList = std::vector<std::unique_ptr<CNMessageBase>>;

struct CNTypePair {
  int major = 0;
  int minor = 0;
  friend bool operator==(const CNTypePair&, const CNTypePair&) = default;
};

enum class CNFieldKind : uint8_t { Int32, Int64, Text, Object, ObjectList, TextList };

// Fields share their numbers within an accessor family only.
enum class CNFieldFamily : uint8_t { Integer, Text, Object, List };

constexpr CNFieldFamily CNFamilyOf(CNFieldKind kind) {
  switch (kind) {
    case CNFieldKind::Int32:
    case CNFieldKind::Int64:
      return CNFieldFamily::Integer;
    case CNFieldKind::Text:
      return CNFieldFamily::Text;
    case CNFieldKind::Object:
      return CNFieldFamily::Object;
    case CNFieldKind::ObjectList:
    case CNFieldKind::TextList:
      return CNFieldFamily::List;
  }
  return CNFieldFamily::Integer;
}

struct CNFieldDef {
  CNFieldKind kind = CNFieldKind::Int64;
  int number = 0;
  uint32_t key = 0;       // 0: the field has no key and is read by number only
  int slot = 0;           // the extra accessor number of getstring / getObjectAccessor
  uint32_t classKey = 0;  // Object, ObjectList: class of the nested objects (0 in a list: any class)
  const char* name = "";
};

struct CNEnumValue {
  int64_t code = 0;
  const char* name = "";
  const char* annotation = "";  // display text; empty when the value has none
};

// A registered class: a message class (fields) or an enumeration (values).
struct CNClassDef {
  const char* name = "";
  CNTypePair type;  // {0, 0} for enumerations
  uint32_t classKey = 0;
  bool isEnum = false;
  std::vector<CNFieldDef> fields;
  std::vector<CNEnumValue> values;
  std::unique_ptr<CNMessageBase> (*make)() = nullptr;

  const CNFieldDef* field(CNFieldFamily family, int number) const;
  const CNFieldDef* fieldByKey(uint32_t key) const;
  const CNEnumValue* value(int64_t code) const;
  const CNEnumValue* value(std::string_view valueName) const;
};

// The registry (message_classes.cc). Lookups return nullptr when unknown.
const CNClassDef* CNFindClass(uint32_t classKey);
const CNClassDef* CNFindClass(CNTypePair type);
const std::vector<const CNClassDef*>& CNAllClasses();

enum CNMessageError : int {
  CN_OK = 0,
  CN_ERR_EMPTY_INPUT = 1,
  CN_ERR_TOO_LARGE = 2,
  CN_ERR_MALFORMED = 3,  // not well-formed XML, or a stray NUL character
  CN_ERR_TOO_DEEP = 4,
  CN_ERR_TOO_MANY_NODES = 5,
  CN_ERR_UNKNOWN_CLASS = 6,
  CN_ERR_WRONG_CLASS = 7,  // a registered class, but not the one expected
  CN_ERR_UNKNOWN_FIELD = 8,
  CN_ERR_DUPLICATE_FIELD = 9,
  CN_ERR_BAD_VALUE = 10,      // number out of range, not a number, text with NUL
  CN_ERR_BAD_STRUCTURE = 11,  // unexpected element, attribute or text
  CN_ERR_NO_CLASS = 12,       // the message itself has no registered class
  CN_ERR_UNKNOWN_VALUE = 13,  // enumeration value not found
  CN_ERR_OUT_OF_MEMORY = 14,
};

const char* CNMessageErrorText(int code);

// Limits of the serialised form. Inputs beyond them are refused, and
// serialize() refuses to write what unserialize() would refuse to read.
inline constexpr std::size_t kCNMaxInputBytes = 2u * 1024u * 1024u;
inline constexpr int kCNMaxDepth = 16;              // message levels, the outer message being 1
inline constexpr std::size_t kCNMaxNodes = 200000;  // elements in one input

class CNMessageBase {
 public:
  CNMessageBase(int typeMajor, int typeMinor);
  explicit CNMessageBase(const CNClassDef* def);
  virtual ~CNMessageBase();
  CNMessageBase(const CNMessageBase& other);
  CNMessageBase& operator=(const CNMessageBase& other);
  CNMessageBase(CNMessageBase&&) noexcept;
  CNMessageBase& operator=(CNMessageBase&&) noexcept;

  // A deep copy that keeps the typed class of message_classes.h.
  std::unique_ptr<CNMessageBase> clone() const;

  const CNClassDef* classDef() const { return m_def; }
  uint32_t getTagId() const;  // the class key; 0 when classless
  CNTypePair getTypePair() const { return m_type; }
  const char* getClassName() const;

  // Any registered class or enumeration by its tag id (class key).
  static const CNClassDef* GetClassDef(uint32_t tagId);

  int unserialize(std::string_view text);
  int serialize(std::string& out) const;
  // What the last failed unserialize() found, for the caller's log line.
  const std::string& getLastError() const { return m_lastError; }

  void clear();        // every field unset
  bool empty() const;  // no field set

  // Presence. The short form is true when a field of any family with that
  // number is set; the family form names the family.
  bool isSet(int field) const;
  bool isSet(CNFieldFamily family, int field) const;
  bool isSet(int field, uint32_t classKey, uint32_t fieldKey) const;

  // Integers. Both read int32 and int64 fields; getint32 cuts an int64 value
  // to its low 32 bits.
  int64_t getint64(int field) const;
  int64_t getint64(int field, uint32_t classKey, uint32_t fieldKey) const;
  int32_t getint32(int field) const;
  int32_t getint32(int field, uint32_t classKey, uint32_t fieldKey) const;

  std::string getstring(int field) const;
  std::string getstring(int field, int slot, uint32_t classKey, uint32_t fieldKey) const;

  // Text list fields; nullptr when unset or not a text list.
  const std::vector<std::string>* getstringlist(int field) const;

  // Object list fields; nullptr when unset or not an object list. The list
  // itself is the caller's to read; add entries through addlistobject.
  CNMessageList* getlistobject(int field);
  const CNMessageList* getlistobject(int field) const;

  // Nested object fields. The short form returns the nested object when
  // there is one, else nullptr. The full form first checks that the numbers
  // name this field (class key, field key, slot, and the nested class's type
  // pair); then, when the field holds no object and `create` is true, it
  // makes an empty one. `markSet` makes the created object count as set at
  // once; otherwise it counts as set (and is serialised) as soon as one of
  // its own fields is set. nullptr when the numbers do not bind, or when
  // there is no object and `create` is false. The pointer lives as long as
  // the field.
  CNMessageBase* getObjectAccessor(int field);
  const CNMessageBase* getObjectAccessor(int field) const;
  CNMessageBase* getObjectAccessor(bool create, bool markSet, int field, int slot, uint32_t classKey, uint32_t fieldKey,
                                   int typeMajor, int typeMinor);

  // Writers; 0 or a CNMessageError (unknown field, int32 out of range,
  // object of another class than the list takes).
  int setint64(int field, int64_t value);
  int setint32(int field, int32_t value);
  int setstring(int field, std::string value);
  int setstringlist(int field, std::vector<std::string> values);
  int addlistobject(int field, std::unique_ptr<CNMessageBase> item);
  void clearField(int field);  // unsets every field with that number

 private:
  friend struct CNMessageAccess;  // the XML reader and writer
  struct Value {
    bool set = false;
    std::variant<std::monostate, int64_t, std::string, std::unique_ptr<CNMessageBase>, CNMessageList,
                 std::vector<std::string>>
        data;
  };

  int indexOf(const CNFieldDef* fd) const;
  const Value* valueOf(CNFieldFamily family, int field) const;
  const Value* boundValue(CNFieldFamily family, int field, uint32_t classKey, uint32_t fieldKey, int slot,
                          bool checkSlot) const;
  static bool valueIsSet(const Value& v);
  void resetValues();

  const CNClassDef* m_def = nullptr;
  CNTypePair m_type;
  std::vector<Value> m_values;
  std::string m_lastError;
};

// Checked downcast to a typed class of message_classes.h; nullptr when the
// object is of another class.
template <class T>
T* message_cast(CNMessageBase* m) {
  return dynamic_cast<T*>(m);
}
template <class T>
const T* message_cast(const CNMessageBase* m) {
  return dynamic_cast<const T*>(m);
}
