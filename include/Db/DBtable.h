// The database access interface: one DBtable object per table, procedure or
// query, made on the stack for one operation.
//
// Results: 0 success, 100 (DB_NO_DATA) no row, 1004 (DB_SUCCESS_TRUNCATED) a
// row whose fixed-size text was cut, anything else an error whose text
// getErrorStr(code) returns. No call throws.
//
// Formats given to setWhere, setCatWhere, rowUpdate and setValues are
// printf-style; every value reaches the database as a bound parameter (see
// db/sql_format.h), so quotes in event texts are stored as they are.
//
// A DBtable uses the calling thread's connection (Db::configure); it must be
// used and destroyed on the thread that made it. A DBtran outlives every
// table object registered in it.
//
// Transactions nest (docs/database.md): a DBtran started while another is
// open on the thread becomes a savepoint of it, and a statement of a table
// object made without a transaction joins the innermost open one.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Db/DbParam.h"
#include "Db/DbTypes.h"
#include "Db/TableDef.h"
#include "host/NxLocks.h"

#define DB_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

namespace Db::detail { class StatementLease; class Session; }
class NXDBDataTypeBase;

class DBtable;

class DBtran {
 public:
  explicit DBtran(bool unused = false);
  ~DBtran();  // rolls back a transaction still open
  DBtran(const DBtran&) = delete;
  DBtran& operator=(const DBtran&) = delete;

  // Begins a transaction, or a savepoint of the one open on this thread.
  int startTran();
  // Commits (a savepoint: releases it; its rows are stored when the outer
  // transaction commits). Only the innermost open level can commit.
  int commitTran(bool unused = false);
  // Rolls back this level and every level begun inside it.
  int rollbackTran();
  bool isActive() const { return m_active; }
  void addObject(DBtable* table);
  const char* getErrorStr(int code) const;
  // 0 when a statement of a table object made on this transaction may run
  // now; DB_ERR_TRANSACTION with *why set when it would land elsewhere (a
  // savepoint begun inside this transaction is open, or the connection the
  // transaction was on is gone).
  int checkUsable(const Db::detail::Session* session, std::string* why) const;

 private:
  friend class Db::detail::Session;
  // The session ended this level without a call on it: an outer level was
  // rolled back, or the connection was closed (LOST).
  void detach(bool lost) { m_active = false; m_lost = lost; m_session = nullptr; }
  int fail(int code, std::string message);

  bool m_active = false;
  bool m_lost = false;
  Db::detail::Session* m_session = nullptr;
  int m_objects = 0;
  std::string m_lastError;
  int m_lastCode = 0;
};

class DBtable {
 public:
  // The process-wide lock taken while a table object registers in a
  // transaction (process-shared, recursive).
  static FXCriticalSection DBCriticalSection;
  // Typed-binding mode: procedure inputs are bound from typed columns.
  static bool b_newDBBase;

  DBtable(const Db::TableDef& def, void* rowBuffer, DBtran* tran);
  virtual ~DBtable();
  DBtable(const DBtable&) = delete;
  DBtable& operator=(const DBtable&) = delete;

  const char* getTableName() const { return m_def.name; }
  const Db::TableDef& definition() const { return m_def; }
  void* rowBuffer() { return m_row; }

  // Where clause without the word WHERE; setCatWhere appends to it.
  void setWhere(const char* format, ...) DB_PRINTF(2, 3);
  void setCatWhere(const char* format, ...) DB_PRINTF(2, 3);
  void clearWhere();
  // Where COLUMN is one of VALUES (no row when there are none): one
  // statement, with a text per number of values, instead of one per value.
  void setWhereIn(const char* column, const std::vector<int>& values);
  void setOrderBy(const char* columns);
  // Isolation type 4 asks to read what other services committed; both
  // backends read committed data on every statement, so it is accepted and
  // changes nothing.
  void setIsolationType(int type) { m_isolation = type; }
  void newSetIsolationType(int type) { m_isolation = type; }

  // Reads the first matching row into the row buffer.
  int getOneRow(bool forUpdate = false, int timeout = -1, int flags = 0);
  // Reads the next row; *counter is 0 before the first call and counts rows.
  int getNextRow(int* counter, int timeout = -1, int flags = 0);
  int closeCursor();

  // Inserts the row buffer; a serial column is read back into the buffer.
  int rowInsert(bool readSerial = true);
  // Inserts COUNT rows with as few statements as the backend takes (one per
  // kMaxRowsPerInsert): FILL(i) leaves row I in the row buffer. No serial
  // value is read back. Each statement is atomic, but a failure in a later
  // one leaves the earlier ones' rows: a caller that needs all or nothing
  // runs it under a transaction level of its own. Unless COUNTED, a failure
  // is left out of Db::errorTally(): for a caller that writes the same rows
  // again one by one and meets the error there.
  static constexpr size_t kMaxRowsPerInsert = 100;
  int rowsInsert(size_t count, const std::function<void(size_t)>& fill, bool counted = true);
  // Updates the rows of the where clause with a SET list.
  int rowUpdate(const char* format, ...) DB_PRINTF(2, 3);
  // Writes the whole row buffer back after getOneRow on this object.
  int rowUpdate(std::nullptr_t);
  // Deletes the rows of the where clause. 100 when none matched.
  int rowDelete();

  // Procedure and query inputs, in order: typed values (int, long long,
  // text, DB_DATETIME) or a values list ("%d,%d,'%s'").
  template <class... A>
  void setInputValues(const A&... a) {
    std::vector<Db::Param> v;
    (v.push_back(toParam(a)), ...);
    setInputs(std::move(v));
  }
  int CallDBsprintfWrapper(const char* format, ...) DB_PRINTF(2, 3);
  // Size checks of the original layer; our statements have no fixed limit.
  int valuesClauseCheck(size_t) { return 0; }
  int querySizeCheck(size_t, bool = false) { return 0; }

  // Typed-binding mode: inputs bound one column object at a time.
  void ClearBoundInputs() { m_inputs.clear(); }
  void BindInput(const NXDBDataTypeBase& column);

  const char* getErrorStr(int code) const;
  int lastResult() const { return m_lastCode; }

  // The SELECT this table object runs ("?" placeholders) and the values of
  // its where clause: what a query planner check needs.
  std::string selectSql() const;
  const std::vector<Db::Param>& whereParams() const { return m_whereParams; }

 protected:
  void setInputs(std::vector<Db::Param> inputs);
  static Db::Param toParam(int v) { return Db::Param::integer(v); }
  static Db::Param toParam(unsigned v) { return Db::Param::integer(v); }
  static Db::Param toParam(long v) { return Db::Param::integer(v); }
  static Db::Param toParam(unsigned long v) { return Db::Param::integer(static_cast<int64_t>(v)); }
  static Db::Param toParam(long long v) { return Db::Param::integer(v); }
  static Db::Param toParam(const char* v) { return Db::Param::text(v ? v : ""); }
  static Db::Param toParam(const std::string& v) { return Db::Param::text(v); }
  static Db::Param toParam(const DB_DATETIME& v) { return Db::Param::datetime(v); }

 private:
  int fail(int code, const std::string& message);
  // Runs OP on this thread's session. A statement that fails because the
  // connection is gone, outside a transaction, drops the session so the
  // next call connects again, and is run once more on the new connection
  // when it cannot have been applied: OP clears *sent when it failed before
  // the statement ran, and READ_ONLY says running it twice is harmless.
  template <class Op>
  int withSession(bool readOnly, Op&& op);
  int runSelect(Db::detail::Session& s, bool* sent);
  int fillRow();
  int runModify(const std::string& sql, const std::vector<Db::Param>& params, bool noRowIs100);
  bool hasRowId() const;

  const Db::TableDef& m_def;
  void* m_row;
  DBtran* m_tran;
  std::string m_where;
  std::vector<Db::Param> m_whereParams;
  std::string m_orderBy;
  std::vector<Db::Param> m_inputs;
  std::unique_ptr<Db::detail::StatementLease> m_cursor;
  int m_isolation = 0;
  // A where clause or values list that could not be translated: every
  // statement that would use it returns this error instead.
  int m_formatError = 0;
  std::string m_formatErrorText;
  int m_inputsError = 0;
  std::string m_inputsErrorText;
  bool m_hasRead = false;
  std::vector<Db::Param> m_readKey;
  int m_lastCode = 0;
  std::string m_lastError;
  bool m_counted = true;  // failures go into Db::errorTally()
};

// The call forms of the original interface.
inline int getOneRow(DBtable& t, bool forUpdate = false, int timeout = -1, int flags = 0) {
  return t.getOneRow(forUpdate, timeout, flags);
}
inline int getNextRow(DBtable& t, int* counter, int timeout = -1, int flags = 0) {
  return t.getNextRow(counter, timeout, flags);
}

// Copies SRC into a fixed-size text column of N bytes, cutting it to at most
// N-1 bytes without splitting a UTF-8 sequence. Returns true when it was cut.
bool dbCopyText(char* dst, size_t n, const char* src, size_t srcLen);
template <size_t N>
bool dbCopyText(char (&dst)[N], const char* src) {
  return dbCopyText(dst, N, src ? src : "", src ? std::char_traits<char>::length(src) : 0);
}
