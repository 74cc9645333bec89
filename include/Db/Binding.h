// DB_BINDING turns one column list into a binding: the row structure NAME_t,
// the table object NAME (a DBtable) and the typed row NAME_t2.
//
//   #define NTDvaultTracker_COLUMNS(X) X(eventId, INT32, 0) X(libId, INT32, 0)
//   DB_BINDING(NTDvaultTracker, Table, "", "")
//
// Column kinds: INT32, INT64, DATETIME, CHARS (size N), TEXT (unbounded,
// char* owned by the row structure), WCHARS (size N).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "Db/DBtable.h"
#include "Db/NXDBRow.h"
#include "host/NxLog.h"

namespace Db {
// Replaces DST with a heap copy of SRC (null stays null).
void assignText(char*& dst, const char* src);
}  // namespace Db

#define DB_FIELD_INT32(n, s) int n = 0;
#define DB_FIELD_INT64(n, s) long long n = 0;
#define DB_FIELD_DATETIME(n, s) DB_DATETIME n;
#define DB_FIELD_CHARS(n, s) char n[s] = {};
#define DB_FIELD_WCHARS(n, s) char n[s] = {};
#define DB_FIELD_TEXT(n, s) char* n = nullptr;
#define DB_X_FIELD(n, t, s) DB_FIELD_##t(n, s)

#define DB_FREE_INT32(n)
#define DB_FREE_INT64(n)
#define DB_FREE_DATETIME(n)
#define DB_FREE_CHARS(n)
#define DB_FREE_WCHARS(n)
#define DB_FREE_TEXT(n) delete[] n; n = nullptr;
#define DB_X_FREE(n, t, s) DB_FREE_##t(n)

#define DB_COPY_INT32(n, s) n = o.n;
#define DB_COPY_INT64(n, s) n = o.n;
#define DB_COPY_DATETIME(n, s) n = o.n;
#define DB_COPY_CHARS(n, s) std::memcpy(n, o.n, s);
#define DB_COPY_WCHARS(n, s) std::memcpy(n, o.n, s);
#define DB_COPY_TEXT(n, s) ::Db::assignText(n, o.n);
#define DB_X_COPY(n, t, s) DB_COPY_##t(n, s)

#define DB_X_COLDEF(n, t, s) \
  {#n, ::Db::ColType::t, s, [](void* r) -> void* { return &static_cast<Row*>(r)->n; }},

#define DB_BINDING_IMPL(NAME, KIND, KEY, SERIAL, FOREIGN)                                   \
  struct NAME##_t {                                                                         \
    NAME##_COLUMNS(DB_X_FIELD)                                                              \
    NAME##_t() = default;                                                                   \
    NAME##_t(const NAME##_t& o) { *this = o; }                                              \
    NAME##_t& operator=(const NAME##_t& o) {                                                \
      if (this != &o) { NAME##_COLUMNS(DB_X_COPY) }                                         \
      return *this;                                                                         \
    }                                                                                       \
    ~NAME##_t() { NAME##_COLUMNS(DB_X_FREE) }                                               \
  };                                                                                        \
  class NAME : public DBtable {                                                             \
   public:                                                                                  \
    explicit NAME(DBtran* tran = nullptr) : DBtable(def(), &m_row, tran) {                   \
      try {                                                                                 \
        DBtable::DBCriticalSection.Lock();                                                  \
        if (tran) tran->addObject(this);                                                    \
        DBtable::DBCriticalSection.Unlock();                                                \
      } catch (...) {                                                                       \
        DBtable::DBCriticalSection.Unlock();                                                \
        log_error(__FILE__, __LINE__, #NAME " Constructor [0x%08x], caught an exception",   \
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(this)));                \
      }                                                                                     \
    }                                                                                       \
    NAME##_t* getDataPtr() { return &m_row; }                                                \
    template <class... A>                                                                   \
    void setValues(const A&... a) {                                                         \
      setInputValues(a...);                                                                 \
    }                                                                                       \
    static const ::Db::TableDef& def() {                                                    \
      using Row = NAME##_t;                                                                 \
      static const ::Db::ColumnDef cols[] = {NAME##_COLUMNS(DB_X_COLDEF)};                  \
      static const ::Db::TableDef d{#NAME,  ::Db::HeaderType::KIND,                         \
                                    cols,   static_cast<int>(sizeof cols / sizeof cols[0]), \
                                    KEY,    SERIAL,                                         \
                                    FOREIGN};                                               \
      return d;                                                                             \
    }                                                                                       \
                                                                                            \
   private:                                                                                 \
    NAME##_t m_row;                                                                          \
  };                                                                                        \
  class NAME##_t2 : public NXDBTypedRow<NAME> {};

// A table of ours, a procedure, a query, or a table of another module.
#define DB_BINDING(NAME, KIND, KEY, SERIAL) DB_BINDING_IMPL(NAME, KIND, KEY, SERIAL, false)
#define DB_FOREIGN_BINDING(NAME, KEY, SERIAL) DB_BINDING_IMPL(NAME, Table, KEY, SERIAL, true)
