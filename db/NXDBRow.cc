#include "Db/NXDBRow.h"

#include <strings.h>

#include <cstring>

#include "Db/Binding.h"
#include "host/NxLocks.h"

const char* const NXDB_int_format = "%d";
const char* const NXDB___int64_format = "%lld";

namespace {
// One semaphore for every typed row class's one-time set-up.
NxSemaphore& classSemaphore() {
  static NxSemaphore s(1);
  return s;
}
}  // namespace

void Db::assignText(char*& dst, const char* src) {
  if (dst == src) return;
  delete[] dst;
  dst = nullptr;
  if (src) {
    size_t n = std::strlen(src);
    dst = new char[n + 1];
    std::memcpy(dst, src, n + 1);
  }
}

const char* NXDBDataTypeBase::getStr() {
  if (!m_textValid) {
    if (m_null) { m_text.clear(); m_textValid = true; }
    else setString();
  }
  return m_text.c_str();
}

void NXDBDataTypeBase::setInternalNull(bool null) {
  if (null == m_null) return;
  m_null = null;
  m_text.clear();
  m_textValid = false;
  if (null) clearMemoryOnNULL();
}

template <>
void NXDBCompositeType<NXTIMESTAMP_STRUCT, 5>::setData(const void* bytes, size_t offset, size_t length, int) {
  if (offset >= sizeof(NXTIMESTAMP_STRUCT)) return;
  if (length > sizeof(NXTIMESTAMP_STRUCT) - offset) length = sizeof(NXTIMESTAMP_STRUCT) - offset;
  std::memcpy(reinterpret_cast<char*>(&m_value) + offset, bytes, length);
  m_null = false;
  m_textValid = false;
}

template <>
void NXDBCompositeType<NXTIMESTAMP_STRUCT, 5>::setString() {
  DB_DATETIME d;
  d = m_value;
  m_text = d.toString(true);
  m_textValid = true;
}

template <>
void NXDBCompositeType<std::string, 6>::setData(const void* bytes, size_t offset, size_t length, int) {
  if (m_value.size() < offset) m_value.resize(offset);
  m_value.replace(offset, std::string::npos, static_cast<const char*>(bytes), length);
  m_null = false;
  m_textValid = false;
}

template <>
void NXDBCompositeType<std::string, 6>::setString() {
  m_text = m_value;
  m_textValid = true;
}

void NXDB_datetime::set(const DB_DATETIME& v) {
  NXTIMESTAMP_STRUCT t;
  static_cast<tagTIMESTAMP_STRUCT&>(t) = v.toStruct();
  NXDBCompositeType::set(t);
}

DB_DATETIME NXDB_datetime::getDateTime() const {
  DB_DATETIME d;
  d = static_cast<const tagTIMESTAMP_STRUCT&>(m_value);
  return d;
}

const char* NXDB_datetime::toString(bool withFraction) {
  DB_DATETIME d = getDateTime();
  m_text = d.toString(withFraction);
  m_textValid = true;
  return m_text.c_str();
}

void NXDBRowBase::lock() { classSemaphore().wait(); }
void NXDBRowBase::unLock() { classSemaphore().release(1); }

std::string NXDBRowBase::signatureOf(const Db::TableDef& def) {
  std::string sig;
  for (int i = 0; i < def.columnCount; ++i) {
    const Db::ColumnDef& c = def.columns[i];
    switch (c.type) {
      case Db::ColType::INT32: sig += 'i'; break;
      case Db::ColType::INT64: sig += 'b'; break;  // stored form of 'x'
      case Db::ColType::DATETIME: sig += 't'; break;
      case Db::ColType::CHARS: sig += 's' + std::to_string(c.size); break;
      case Db::ColType::TEXT: sig += 's'; break;
      case Db::ColType::WCHARS: sig += 'u' + std::to_string(c.size); break;
    }
    sig += '|';
  }
  return sig;
}

void NXDBRowBase::build(const Db::TableDef& def, ClassState& cls) {
  m_def = &def;
  for (int i = 0; i < def.columnCount; ++i) {
    const Db::ColumnDef& c = def.columns[i];
    std::unique_ptr<NXDBDataTypeBase> v;
    switch (c.type) {
      case Db::ColType::INT32: v = std::make_unique<NXDB_int>(); break;
      case Db::ColType::INT64: v = std::make_unique<NXDB_int64>(); break;
      case Db::ColType::DATETIME: v = std::make_unique<NXDB_datetime>(); break;
      default: v = std::make_unique<NXDB_string>(); break;
    }
    m_byName[c.name] = v.get();
    m_columns.push_back(std::move(v));
  }
  if (!cls.initialised) {
    lock();
    if (!cls.initialised) {
      cls.name = def.name;
      cls.type = static_cast<int>(def.kind);
      cls.structSchema = signatureOf(def);
      for (int i = 0; i < def.columnCount; ++i) cls.columns.emplace_back(def.columns[i].name);
      cls.initialised = true;
    }
    unLock();
  }
  m_cls = &cls;
  m_serial = def.serialColumn;
  std::string cur;
  for (const char* p = def.keyColumns;; ++p) {
    if (*p == ',' || *p == '\0') {
      if (!cur.empty()) m_keys.push_back(cur);
      cur.clear();
      if (*p == '\0') break;
    } else if (*p != ' ') {
      cur += *p;
    }
  }
}

const char* NXDBRowBase::getColumnName(int index) const { return getColumnName_t2(index); }

std::vector<NXDBDataTypeBase*> NXDBRowBase::getData() const {
  std::vector<NXDBDataTypeBase*> out;
  for (auto& c : m_columns) out.push_back(c.get());
  return out;
}

int NXDBRowBase::getSerialColNum() const {
  if (m_serial.empty()) return -1;
  for (size_t i = 0; i < m_cls->columns.size(); ++i)
    if (strcasecmp(m_cls->columns[i].c_str(), m_serial.c_str()) == 0) return static_cast<int>(i);
  return -1;
}

const char* NXDBRowBase::getTableName() const { return m_cls->name.c_str(); }

std::string NXDBRowBase::getPrimaryWhere() const {
  std::string w;
  for (size_t i = 0; i < m_keys.size(); ++i) {
    if (i) w += "AND ";
    w += m_keys[i] + " = ?";
  }
  return w;
}

std::vector<NXDBDataTypeBase*> NXDBRowBase::getPrimaryData() const {
  std::vector<NXDBDataTypeBase*> out;
  for (auto& k : m_keys) out.push_back(column(k));
  return out;
}

const char* NXDBRowBase::getStructDef() const { return m_cls->structSchema.c_str(); }

void NXDBRowBase::setTableName(const char* name) {
  // Class-wide: every row of the class reports the new name.
  const_cast<ClassState*>(m_cls)->name = name ? name : "";
}

const char* NXDBRowBase::getColumnName_t2(int index) const {
  if (index < 0 || index >= static_cast<int>(m_cls->columns.size())) return nullptr;
  return m_cls->columns[static_cast<size_t>(index)].c_str();
}

void NXDBRowBase::pushColumnName(const char* name) {
  const_cast<ClassState*>(m_cls)->columns.emplace_back(name ? name : "");
}

int NXDBRowBase::getHeaderType() const { return m_cls->type; }

NXDBDataTypeBase* NXDBRowBase::column(const std::string& name) const {
  auto it = m_byName.find(name);
  return it == m_byName.end() ? nullptr : it->second;
}

void NXDBRowBase::fromRow(const void* row) {
  void* r = const_cast<void*>(row);
  for (int i = 0; i < m_def->columnCount; ++i) {
    const Db::ColumnDef& c = m_def->columns[i];
    NXDBDataTypeBase* v = m_columns[static_cast<size_t>(i)].get();
    void* f = c.field(r);
    switch (c.type) {
      case Db::ColType::INT32: static_cast<NXDB_int*>(v)->set(*static_cast<int*>(f)); break;
      case Db::ColType::INT64: static_cast<NXDB_int64*>(v)->set(*static_cast<long long*>(f)); break;
      case Db::ColType::DATETIME: static_cast<NXDB_datetime*>(v)->set(*static_cast<DB_DATETIME*>(f)); break;
      case Db::ColType::CHARS:
      case Db::ColType::WCHARS: {
        const char* s = static_cast<const char*>(f);
        static_cast<NXDB_string*>(v)->set(std::string(s, strnlen(s, static_cast<size_t>(c.size))));
        break;
      }
      case Db::ColType::TEXT: {
        const char* s = *static_cast<char**>(f);
        if (s) static_cast<NXDB_string*>(v)->set(s);
        else v->setInternalNull(true);
        break;
      }
    }
  }
}

void NXDBRowBase::toRow(void* row) const {
  for (int i = 0; i < m_def->columnCount; ++i) {
    const Db::ColumnDef& c = m_def->columns[i];
    const NXDBDataTypeBase* v = m_columns[static_cast<size_t>(i)].get();
    void* f = c.field(row);
    switch (c.type) {
      case Db::ColType::INT32: *static_cast<int*>(f) = v->isNull() ? 0 : static_cast<const NXDB_int*>(v)->get(); break;
      case Db::ColType::INT64:
        *static_cast<long long*>(f) = v->isNull() ? 0 : static_cast<const NXDB_int64*>(v)->get();
        break;
      case Db::ColType::DATETIME:
        *static_cast<DB_DATETIME*>(f) = v->isNull() ? DB_DATETIME() : static_cast<const NXDB_datetime*>(v)->getDateTime();
        break;
      case Db::ColType::CHARS:
      case Db::ColType::WCHARS: {
        const std::string& s = static_cast<const NXDB_string*>(v)->get();
        dbCopyText(static_cast<char*>(f), static_cast<size_t>(c.size), s.data(), v->isNull() ? 0 : s.size());
        break;
      }
      case Db::ColType::TEXT:
        Db::assignText(*static_cast<char**>(f), v->isNull() ? nullptr : static_cast<const NXDB_string*>(v)->get().c_str());
        break;
    }
  }
}
