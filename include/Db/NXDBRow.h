// Typed rows: one value object per column carrying its value, null flag and
// update state, with the class-wide description of the table kept once per
// row class.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Db/DbTypes.h"
#include "Db/TableDef.h"

class NXDBDataTypeBase {
 public:
  NXDBDataTypeBase() = default;
  NXDBDataTypeBase(const NXDBDataTypeBase&) = delete;
  NXDBDataTypeBase& operator=(const NXDBDataTypeBase&) = delete;

  // Copies LENGTH bytes into the value at OFFSET; drops the stale text form.
  virtual void setData(const void* bytes, size_t offset, size_t length, int flag) = 0;
  virtual void clearMemoryOnNULL() {}
  // Renders the value into its text form.
  virtual void setString() = 0;
  virtual const char* getStr();
  virtual ~NXDBDataTypeBase() = default;
  virtual int getDataType() const = 0;
  virtual const char* toString(bool flag) { (void)flag; return getStr(); }

  bool isNull() const { return m_null; }
  void setInternalNull(bool null);
  int UpdatedStatus() const { return m_updated; }
  void setUpdated(int status) { m_updated = status; }

 protected:
  bool m_null = true;
  int m_updated = 0;
  std::string m_text;
  bool m_textValid = false;
};

extern const char* const NXDB_int_format;     // "%d"
extern const char* const NXDB___int64_format;  // "%lld"

template <class T, const char* const* Format, int Code>
class NXDBPrimitiveType : public NXDBDataTypeBase {
 public:
  NXDBPrimitiveType() = default;
  explicit NXDBPrimitiveType(T v) { set(v); }
  void set(T v) { m_value = v; m_null = false; m_textValid = false; }
  T get() const { return m_value; }
  void setData(const void* bytes, size_t offset, size_t length, int) override {
    if (offset >= sizeof(T)) return;
    if (length > sizeof(T) - offset) length = sizeof(T) - offset;
    std::memcpy(reinterpret_cast<char*>(&m_value) + offset, bytes, length);
    m_null = false;
    m_textValid = false;
  }
  void setString() override {
    char buf[100];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(buf, sizeof buf, *Format, m_value);
#pragma GCC diagnostic pop
    m_text = buf;
    m_textValid = true;
  }
  int getDataType() const override { return Code; }

 private:
  T m_value{};
};

template <class T, int Code>
class NXDBCompositeType : public NXDBDataTypeBase {
 public:
  NXDBCompositeType() = default;
  explicit NXDBCompositeType(const T& v) { set(v); }
  void set(const T& v) { m_value = v; m_null = false; m_textValid = false; }
  const T& get() const { return m_value; }
  void setData(const void* bytes, size_t offset, size_t length, int) override;
  void setString() override;
  int getDataType() const override { return Code; }

 protected:
  T m_value{};
};

class NXDB_datetime : public NXDBCompositeType<NXTIMESTAMP_STRUCT, 5> {
 public:
  NXDB_datetime() = default;
  explicit NXDB_datetime(const DB_DATETIME& v) { set(v); }
  void set(const DB_DATETIME& v);
  DB_DATETIME getDateTime() const;
  const char* toString(bool withFraction) override;
};

class NXDB_string : public NXDBCompositeType<std::string, 6> {
 public:
  NXDB_string() = default;
  explicit NXDB_string(const std::string& v) { set(v); }
  explicit NXDB_string(const char* v) { set(v ? v : ""); }
  void clearMemoryOnNULL() override { m_value.clear(); }
};

using NXDB_int = NXDBPrimitiveType<int, &NXDB_int_format, 1>;
using NXDB_int64 = NXDBPrimitiveType<long long, &NXDB___int64_format, 4>;

// A typed row: the column value objects of one row, in column order.
class NXDBRowBase {
 public:
  NXDBRowBase() = default;
  NXDBRowBase(const NXDBRowBase&) = delete;

  virtual void lock();
  virtual void unLock();
  virtual ~NXDBRowBase() = default;
  virtual const char* getColumnName(int index) const;
  virtual std::vector<NXDBDataTypeBase*> getData() const;
  virtual int getSerialColNum() const;
  virtual const char* getTableName() const;
  virtual std::string getPrimaryWhere() const;
  virtual std::vector<NXDBDataTypeBase*> getPrimaryData() const;
  virtual const char* getStructDef() const;
  virtual void setTableName(const char* name);
  virtual const char* getColumnName_t2(int index) const;
  virtual void pushColumnName(const char* name);
  virtual int getHeaderType() const;
  virtual NXDBDataTypeBase* searchForeignKey(const char* name) { (void)name; return nullptr; }
  virtual NXDBRowBase& operator=(const NXDBRowBase&) { return *this; }

  NXDBDataTypeBase* column(const std::string& name) const;
  // Copies values between this typed row and a row structure of the same binding.
  void fromRow(const void* row);
  void toRow(void* row) const;

  // The column-type signature of a binding: "i|i|t|s|" (see TableDef).
  static std::string signatureOf(const Db::TableDef& def);

 protected:
  // Class-wide state of one typed row class, set once.
  struct ClassState {
    bool initialised = false;
    std::string name;
    int type = 1;
    std::vector<std::string> columns;
    std::string structSchema;
    std::map<std::string, std::string> foreignKeys;
  };
  void build(const Db::TableDef& def, ClassState& cls);
  const ClassState* m_cls = nullptr;
  const Db::TableDef* m_def = nullptr;

 private:
  std::map<std::string, NXDBDataTypeBase*> m_byName;
  std::vector<std::unique_ptr<NXDBDataTypeBase>> m_columns;
  std::string m_serial;
  std::vector<std::string> m_keys;
};

// The typed row of binding B (B::def() describes it).
template <class B>
class NXDBTypedRow : public NXDBRowBase {
 public:
  NXDBTypedRow() { build(B::def(), state()); }
  const std::map<std::string, std::string>& getForeignKeyMap() const { return state().foreignKeys; }

 private:
  static ClassState& state() {
    static ClassState s;
    return s;
  }
};
