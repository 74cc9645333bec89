#include "host/messages/CNMessageBase.h"

#include <limits>
#include <new>
#include <utility>

#include "host/messages/XMLDecoder.h"

// ---- class definitions ------------------------------------------------------

const CNFieldDef* CNClassDef::field(CNFieldFamily family, int number) const {
  for (const CNFieldDef& f : fields)
    if (f.number == number && CNFamilyOf(f.kind) == family) return &f;
  return nullptr;
}

const CNFieldDef* CNClassDef::fieldByKey(uint32_t key) const {
  if (key == 0) return nullptr;
  for (const CNFieldDef& f : fields)
    if (f.key == key) return &f;
  return nullptr;
}

const CNEnumValue* CNClassDef::value(int64_t code) const {
  for (const CNEnumValue& v : values)
    if (v.code == code) return &v;
  return nullptr;
}

const CNEnumValue* CNClassDef::value(std::string_view valueName) const {
  for (const CNEnumValue& v : values)
    if (valueName == v.name) return &v;
  return nullptr;
}

const char* CNMessageErrorText(int code) {
  switch (code) {
    case CN_OK:
      return "ok";
    case CN_ERR_EMPTY_INPUT:
      return "empty input";
    case CN_ERR_TOO_LARGE:
      return "input too large";
    case CN_ERR_MALFORMED:
      return "malformed XML";
    case CN_ERR_TOO_DEEP:
      return "nesting too deep";
    case CN_ERR_TOO_MANY_NODES:
      return "too many elements";
    case CN_ERR_UNKNOWN_CLASS:
      return "unknown message class";
    case CN_ERR_WRONG_CLASS:
      return "message of another class";
    case CN_ERR_UNKNOWN_FIELD:
      return "unknown field";
    case CN_ERR_DUPLICATE_FIELD:
      return "field given twice";
    case CN_ERR_BAD_VALUE:
      return "bad value";
    case CN_ERR_BAD_STRUCTURE:
      return "unexpected element, attribute or text";
    case CN_ERR_NO_CLASS:
      return "message has no registered class";
    case CN_ERR_UNKNOWN_VALUE:
      return "unknown enumeration value";
    case CN_ERR_OUT_OF_MEMORY:
      return "out of memory";
    default:
      return "unknown error";
  }
}

// ---- construction and copies ------------------------------------------------

namespace {
const CNClassDef* messageClass(const CNClassDef* def) { return def && !def->isEnum ? def : nullptr; }
}  // namespace

CNMessageBase::CNMessageBase(int typeMajor, int typeMinor)
    : m_def(messageClass(CNFindClass(CNTypePair{typeMajor, typeMinor}))), m_type{typeMajor, typeMinor} {
  if (m_def) m_values.resize(m_def->fields.size());
}

CNMessageBase::CNMessageBase(const CNClassDef* def) : m_def(messageClass(def)) {
  if (m_def) {
    m_type = m_def->type;
    m_values.resize(m_def->fields.size());
  }
}

CNMessageBase::~CNMessageBase() = default;
CNMessageBase::CNMessageBase(CNMessageBase&&) noexcept = default;
CNMessageBase& CNMessageBase::operator=(CNMessageBase&&) noexcept = default;

CNMessageBase::CNMessageBase(const CNMessageBase& other)
    : m_def(other.m_def), m_type(other.m_type), m_values(other.m_values.size()) {
  for (std::size_t i = 0; i < other.m_values.size(); ++i) {
    const Value& src = other.m_values[i];
    Value& dst = m_values[i];
    dst.set = src.set;
    if (auto* p = std::get_if<std::unique_ptr<CNMessageBase>>(&src.data)) {
      dst.data = *p ? (*p)->clone() : nullptr;
    } else if (auto* l = std::get_if<CNMessageList>(&src.data)) {
      CNMessageList copy;
      copy.reserve(l->size());
      for (const auto& item : *l) copy.push_back(item ? item->clone() : nullptr);
      dst.data = std::move(copy);
    } else if (auto* n = std::get_if<int64_t>(&src.data)) {
      dst.data = *n;
    } else if (auto* s = std::get_if<std::string>(&src.data)) {
      dst.data = *s;
    } else if (auto* t = std::get_if<std::vector<std::string>>(&src.data)) {
      dst.data = *t;
    }
  }
}

CNMessageBase& CNMessageBase::operator=(const CNMessageBase& other) {
  if (this != &other) {
    CNMessageBase copy(other);
    *this = std::move(copy);
  }
  return *this;
}

std::unique_ptr<CNMessageBase> CNMessageBase::clone() const {
  std::unique_ptr<CNMessageBase> c =
      m_def && m_def->make ? m_def->make() : std::make_unique<CNMessageBase>(m_type.major, m_type.minor);
  // The typed class adds no state, so assigning the base part is the whole copy.
  static_cast<CNMessageBase&>(*c) = *this;
  return c;
}

uint32_t CNMessageBase::getTagId() const { return m_def ? m_def->classKey : 0; }

const char* CNMessageBase::getClassName() const { return m_def ? m_def->name : ""; }

const CNClassDef* CNMessageBase::GetClassDef(uint32_t tagId) { return CNFindClass(tagId); }

// ---- serialised form ----------------------------------------------------------

int CNMessageBase::unserialize(std::string_view text) {
  m_lastError.clear();
  return XMLDecoder::parseInto(text, *this, m_lastError);
}

int CNMessageBase::serialize(std::string& out) const { return XMLDecoder::write(*this, out); }

void CNMessageBase::resetValues() {
  for (Value& v : m_values) {
    v.set = false;
    v.data = std::monostate{};
  }
}

void CNMessageBase::clear() { resetValues(); }

bool CNMessageBase::empty() const {
  for (const Value& v : m_values)
    if (valueIsSet(v)) return false;
  return true;
}

// ---- field access -------------------------------------------------------------

int CNMessageBase::indexOf(const CNFieldDef* fd) const {
  if (!m_def || !fd) return -1;
  return static_cast<int>(fd - m_def->fields.data());
}

bool CNMessageBase::valueIsSet(const Value& v) {
  if (v.set) return true;
  // An object made by getObjectAccessor without markSet counts once filled.
  auto* p = std::get_if<std::unique_ptr<CNMessageBase>>(&v.data);
  return p && *p && !(*p)->empty();
}

const CNMessageBase::Value* CNMessageBase::valueOf(CNFieldFamily family, int field) const {
  if (!m_def) return nullptr;
  const int i = indexOf(m_def->field(family, field));
  return i < 0 ? nullptr : &m_values[static_cast<std::size_t>(i)];
}

const CNMessageBase::Value* CNMessageBase::boundValue(CNFieldFamily family, int field, uint32_t classKey,
                                                      uint32_t fieldKey, int slot, bool checkSlot) const {
  if (!m_def || classKey != m_def->classKey) return nullptr;
  const CNFieldDef* fd = m_def->field(family, field);
  if (!fd || fd->key != fieldKey || (checkSlot && fd->slot != slot)) return nullptr;
  return &m_values[static_cast<std::size_t>(indexOf(fd))];
}

bool CNMessageBase::isSet(int field) const {
  for (CNFieldFamily f : {CNFieldFamily::Integer, CNFieldFamily::Text, CNFieldFamily::Object, CNFieldFamily::List})
    if (isSet(f, field)) return true;
  return false;
}

bool CNMessageBase::isSet(CNFieldFamily family, int field) const {
  const Value* v = valueOf(family, field);
  return v && valueIsSet(*v);
}

bool CNMessageBase::isSet(int field, uint32_t classKey, uint32_t fieldKey) const {
  if (!m_def || classKey != m_def->classKey) return false;
  // A non-zero key names one field; key 0 names the keyless fields of that number.
  for (std::size_t i = 0; i < m_def->fields.size(); ++i) {
    const CNFieldDef& fd = m_def->fields[i];
    if (fd.number == field && fd.key == fieldKey && valueIsSet(m_values[i])) return true;
  }
  return false;
}

namespace {
int64_t intOf(const int64_t* v) { return v ? *v : 0; }
}  // namespace

int64_t CNMessageBase::getint64(int field) const {
  const Value* v = valueOf(CNFieldFamily::Integer, field);
  return v && v->set ? intOf(std::get_if<int64_t>(&v->data)) : 0;
}

int64_t CNMessageBase::getint64(int field, uint32_t classKey, uint32_t fieldKey) const {
  const Value* v = boundValue(CNFieldFamily::Integer, field, classKey, fieldKey, 0, false);
  return v && v->set ? intOf(std::get_if<int64_t>(&v->data)) : 0;
}

int32_t CNMessageBase::getint32(int field) const { return static_cast<int32_t>(getint64(field)); }

int32_t CNMessageBase::getint32(int field, uint32_t classKey, uint32_t fieldKey) const {
  return static_cast<int32_t>(getint64(field, classKey, fieldKey));
}

std::string CNMessageBase::getstring(int field) const {
  const Value* v = valueOf(CNFieldFamily::Text, field);
  const std::string* s = v && v->set ? std::get_if<std::string>(&v->data) : nullptr;
  try {
    return s ? *s : std::string();
  } catch (...) {
    return std::string();
  }
}

std::string CNMessageBase::getstring(int field, int slot, uint32_t classKey, uint32_t fieldKey) const {
  const Value* v = boundValue(CNFieldFamily::Text, field, classKey, fieldKey, slot, true);
  const std::string* s = v && v->set ? std::get_if<std::string>(&v->data) : nullptr;
  try {
    return s ? *s : std::string();
  } catch (...) {
    return std::string();
  }
}

const std::vector<std::string>* CNMessageBase::getstringlist(int field) const {
  const Value* v = valueOf(CNFieldFamily::List, field);
  return v && v->set ? std::get_if<std::vector<std::string>>(&v->data) : nullptr;
}

const CNMessageList* CNMessageBase::getlistobject(int field) const {
  const Value* v = valueOf(CNFieldFamily::List, field);
  return v && v->set ? std::get_if<CNMessageList>(&v->data) : nullptr;
}

CNMessageList* CNMessageBase::getlistobject(int field) {
  return const_cast<CNMessageList*>(std::as_const(*this).getlistobject(field));
}

const CNMessageBase* CNMessageBase::getObjectAccessor(int field) const {
  const Value* v = valueOf(CNFieldFamily::Object, field);
  auto* p = v ? std::get_if<std::unique_ptr<CNMessageBase>>(&v->data) : nullptr;
  return p ? p->get() : nullptr;
}

CNMessageBase* CNMessageBase::getObjectAccessor(int field) {
  return const_cast<CNMessageBase*>(std::as_const(*this).getObjectAccessor(field));
}

CNMessageBase* CNMessageBase::getObjectAccessor(bool create, bool markSet, int field, int slot, uint32_t classKey,
                                                uint32_t fieldKey, int typeMajor, int typeMinor) {
  const Value* cv = boundValue(CNFieldFamily::Object, field, classKey, fieldKey, slot, true);
  if (!cv) return nullptr;
  const CNClassDef* nested = CNFindClass(m_def->field(CNFieldFamily::Object, field)->classKey);
  if (!nested || !(nested->type == CNTypePair{typeMajor, typeMinor})) return nullptr;
  Value& v = const_cast<Value&>(*cv);
  auto* p = std::get_if<std::unique_ptr<CNMessageBase>>(&v.data);
  if (p && *p) return p->get();
  if (!create) return nullptr;
  try {
    v.data = nested->make ? nested->make() : std::make_unique<CNMessageBase>(nested);
  } catch (...) {
    return nullptr;
  }
  if (markSet) v.set = true;
  return std::get<std::unique_ptr<CNMessageBase>>(v.data).get();
}

// ---- writers ------------------------------------------------------------------

int CNMessageBase::setint64(int field, int64_t value) {
  if (!m_def) return CN_ERR_NO_CLASS;
  const CNFieldDef* fd = m_def->field(CNFieldFamily::Integer, field);
  if (!fd) return CN_ERR_UNKNOWN_FIELD;
  if (fd->kind == CNFieldKind::Int32 &&
      (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()))
    return CN_ERR_BAD_VALUE;
  Value& v = m_values[static_cast<std::size_t>(indexOf(fd))];
  v.data = value;
  v.set = true;
  return CN_OK;
}

int CNMessageBase::setint32(int field, int32_t value) { return setint64(field, value); }

int CNMessageBase::setstring(int field, std::string value) {
  if (!m_def) return CN_ERR_NO_CLASS;
  const CNFieldDef* fd = m_def->field(CNFieldFamily::Text, field);
  if (!fd) return CN_ERR_UNKNOWN_FIELD;
  Value& v = m_values[static_cast<std::size_t>(indexOf(fd))];
  v.data = std::move(value);
  v.set = true;
  return CN_OK;
}

int CNMessageBase::setstringlist(int field, std::vector<std::string> values) {
  if (!m_def) return CN_ERR_NO_CLASS;
  const CNFieldDef* fd = m_def->field(CNFieldFamily::List, field);
  if (!fd || fd->kind != CNFieldKind::TextList) return CN_ERR_UNKNOWN_FIELD;
  Value& v = m_values[static_cast<std::size_t>(indexOf(fd))];
  v.data = std::move(values);
  v.set = true;
  return CN_OK;
}

int CNMessageBase::addlistobject(int field, std::unique_ptr<CNMessageBase> item) {
  if (!m_def) return CN_ERR_NO_CLASS;
  const CNFieldDef* fd = m_def->field(CNFieldFamily::List, field);
  if (!fd || fd->kind != CNFieldKind::ObjectList) return CN_ERR_UNKNOWN_FIELD;
  if (!item || !item->m_def || (fd->classKey != 0 && item->m_def->classKey != fd->classKey)) return CN_ERR_WRONG_CLASS;
  Value& v = m_values[static_cast<std::size_t>(indexOf(fd))];
  try {
    if (!std::holds_alternative<CNMessageList>(v.data)) v.data = CNMessageList{};
    std::get<CNMessageList>(v.data).push_back(std::move(item));
  } catch (...) {
    return CN_ERR_OUT_OF_MEMORY;
  }
  v.set = true;
  return CN_OK;
}

void CNMessageBase::clearField(int field) {
  if (!m_def) return;
  for (std::size_t i = 0; i < m_def->fields.size(); ++i) {
    if (m_def->fields[i].number != field) continue;
    m_values[i].set = false;
    m_values[i].data = std::monostate{};
  }
}
