#include "Db/DBtable.h"

#include <cstdarg>
#include <strings.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "Db/Database.h"
#include "Db/NXDBRow.h"
#include "db/catalog.h"
#include "db/session.h"
#include "db/sql_format.h"

using Db::Param;
using Db::detail::Session;
using Db::detail::StatementLease;

FXCriticalSection DBtable::DBCriticalSection;
bool DBtable::b_newDBBase = false;

int Db::TableDef::columnIndex(const char* col) const {
  for (int i = 0; i < columnCount; ++i)
    if (strcasecmp(columns[i].name, col) == 0) return i;
  return -1;
}

bool dbCopyText(char* dst, size_t n, const char* src, size_t len) {
  if (n == 0) return len > 0;
  bool cut = false;
  if (len > n - 1) {
    len = n - 1;
    // Step back over continuation bytes so a multi-byte character is never split.
    size_t keep = len;
    while (keep > 0 && (static_cast<unsigned char>(src[keep]) & 0xC0) == 0x80) --keep;
    // Only back off when a whole sequence starts there (not on invalid bytes).
    if (keep > 0 || (static_cast<unsigned char>(src[0]) & 0xC0) != 0x80) len = keep;
    cut = true;
  }
  std::memcpy(dst, src, len);
  // Only the terminator: the columns are read up to it, and padding an
  // 8 KB parameter value with zeros cost more than the insert itself.
  dst[len] = '\0';
  return cut;
}

namespace {

// A parameter holding column COL of a row structure.
Param columnParam(const Db::ColumnDef& col, void* row) {
  void* f = col.field(row);
  switch (col.type) {
    case Db::ColType::INT32: return Param::integer(*static_cast<int*>(f));
    case Db::ColType::INT64: return Param::integer(*static_cast<long long*>(f));
    case Db::ColType::DATETIME: return Param::datetime(*static_cast<DB_DATETIME*>(f));
    case Db::ColType::CHARS:
    case Db::ColType::WCHARS: {
      const char* s = static_cast<const char*>(f);
      return Param::text(std::string(s, strnlen(s, static_cast<size_t>(col.size))));
    }
    case Db::ColType::TEXT: {
      const char* s = *static_cast<char**>(f);
      return s ? Param::text(s) : Param();
    }
  }
  return Param();
}

bool isSerial(const Db::TableDef& def, int i) {
  return def.serialColumn[0] != '\0' && strcasecmp(def.columns[i].name, def.serialColumn) == 0;
}

std::vector<std::string> splitKeys(const char* keys) {
  std::vector<std::string> out;
  std::string cur;
  for (const char* p = keys; ; ++p) {
    if (*p == ',' || *p == '\0') {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
      if (*p == '\0') break;
    } else if (*p != ' ') {
      cur += *p;
    }
  }
  return out;
}

// What the layer derives once per binding and thread: the select list, the
// key columns' positions and the insert statement.
struct DefInfo {
  std::string selectList;  // "SELECT a, b, c"
  std::vector<int> keyIndexes;
  std::string insertSql;
  int serialIndex = -1;
};

const DefInfo& infoOf(const Db::TableDef& def, bool hasRowId) {
  thread_local std::unordered_map<const Db::TableDef*, DefInfo> cache;
  auto it = cache.find(&def);
  if (it != cache.end()) return it->second;
  DefInfo info;
  info.selectList = "SELECT ";
  for (int i = 0; i < def.columnCount; ++i) {
    if (i) info.selectList += ", ";
    info.selectList += def.columns[i].name;
  }
  if (hasRowId) { info.selectList += ", "; info.selectList += Db::detail::kRowIdColumn; }
  for (const std::string& k : splitKeys(def.keyColumns)) {
    int idx = def.columnIndex(k.c_str());
    if (idx >= 0) info.keyIndexes.push_back(idx);
  }
  std::string cols, values;
  for (int i = 0; i < def.columnCount; ++i) {
    if (isSerial(def, i)) { info.serialIndex = i; continue; }
    if (!cols.empty()) { cols += ", "; values += ", "; }
    cols += def.columns[i].name;
    values += '?';
  }
  info.insertSql = std::string("INSERT INTO ") + def.name + " (" + cols + ") VALUES (" + values + ")";
  if (info.serialIndex >= 0) {
    info.insertSql += " RETURNING ";
    info.insertSql += def.columns[info.serialIndex].name;
  }
  return cache.emplace(&def, std::move(info)).first->second;
}

}  // namespace

DBtable::DBtable(const Db::TableDef& def, void* rowBuffer, DBtran* tran)
    : def_(def), row_(rowBuffer), tran_(tran) {}

DBtable::~DBtable() = default;

bool DBtable::hasRowId() const {
  return def_.kind == Db::HeaderType::Table && def_.keyColumns[0] == '\0';
}

namespace {
std::mutex g_tallyMutex;
Db::ErrorTally g_tally;

void tallyError(const std::string& what) {
  std::lock_guard<std::mutex> lk(g_tallyMutex);
  ++g_tally.count;
  g_tally.last = what;
}
}  // namespace

Db::ErrorTally Db::errorTally() {
  std::lock_guard<std::mutex> lk(g_tallyMutex);
  return g_tally;
}

int DBtable::fail(int code, const std::string& message) {
  lastCode_ = code;
  lastError_ = message;
  tallyError(std::string(def_.name) + ": " + message);
  return code;
}

namespace {

bool isResult(int rc) { return rc == 0 || rc == DB_NO_DATA || rc == DB_SUCCESS_TRUNCATED; }

// Text of a code whose own message is no longer at hand.
const char* describeCode(int code) {
  static thread_local std::string generic;
  switch (code) {
    case DB_SUCCESS: return "success";
    case DB_NO_DATA: return "no row";
    case DB_SUCCESS_TRUNCATED: return "a text value was cut to fit its column";
    case DB_ERR_CONNECT: return "the database cannot be opened";
    case DB_ERR_NO_SCHEMA: return "the database has no evdetector schema";
    case DB_ERR_FORMAT: return "a format the layer cannot translate";
    case DB_ERR_USAGE: return "a call out of order";
    case DB_ERR_TRANSACTION: return "transaction misuse";
    case DB_ERR_RANGE: return "a value does not fit its column";
    default: break;
  }
  generic = Session::describeError(code);
  if (generic.empty()) generic = "database error " + std::to_string(code);
  return generic.c_str();
}

}  // namespace

const char* DBtable::getErrorStr(int code) const {
  if (code == lastCode_ && !lastError_.empty()) return lastError_.c_str();
  return describeCode(code);
}

template <class Op>
int DBtable::withSession(bool readOnly, Op&& op) {
  for (int attempt = 0;; ++attempt) {
    int rc = 0;
    std::string err;
    Session* s = Session::current(&rc, &err);
    if (!s) return fail(rc, err);
    if (tran_ != nullptr && (rc = tran_->checkUsable(s, &err)) != 0) return fail(rc, err);
    bool sent = true;
    rc = op(*s, &sent);
    if (isResult(rc)) return rc;
    if (!Session::dropIfLost(s)) return rc;
    if (attempt > 0 || (sent && !readOnly)) return rc;
  }
}

static void appendFormat(std::string& where, std::vector<Param>& params, const char* format, va_list ap,
                         int* rc, std::string* err) {
  std::string sql;
  std::vector<Param> p;
  *rc = Db::detail::translateFormat(format, ap, sql, p, err);
  if (*rc != 0) return;
  where += sql;
  for (auto& x : p) params.push_back(std::move(x));
}

void DBtable::setWhere(const char* format, ...) {
  clearWhere();
  va_list ap;
  va_start(ap, format);
  int rc;
  std::string err;
  appendFormat(where_, whereParams_, format, ap, &rc, &err);
  va_end(ap);
  if (rc) {
    where_ = "1 = 0";
    whereParams_.clear();
    formatError_ = fail(rc, err);
    formatErrorText_ = err;
  }
}

void DBtable::setCatWhere(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  int rc;
  std::string err;
  appendFormat(where_, whereParams_, format, ap, &rc, &err);
  va_end(ap);
  if (rc && !formatError_) {
    formatError_ = fail(rc, err);
    formatErrorText_ = err;
  }
}

void DBtable::clearWhere() {
  where_.clear();
  whereParams_.clear();
  formatError_ = 0;
  formatErrorText_.clear();
}

void DBtable::setOrderBy(const char* columns) { orderBy_ = columns ? columns : ""; }

void DBtable::setInputs(std::vector<Param> inputs) {
  inputs_ = std::move(inputs);
  inputsError_ = 0;
  inputsErrorText_.clear();
}

void DBtable::BindInput(const NXDBDataTypeBase& column) {
  if (column.isNull()) { inputs_.push_back(Param()); return; }
  switch (column.getDataType()) {
    case 1: inputs_.push_back(Param::integer(static_cast<const NXDB_int&>(column).get())); break;
    case 4: inputs_.push_back(Param::integer(static_cast<const NXDB_int64&>(column).get())); break;
    case 5: inputs_.push_back(Param::datetime(static_cast<const NXDB_datetime&>(column).getDateTime())); break;
    default: inputs_.push_back(Param::text(static_cast<const NXDB_string&>(column).get())); break;
  }
}

int DBtable::CallDBsprintfWrapper(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string sql, err;
  std::vector<Param> p, values;
  int rc = Db::detail::translateFormat(format, ap, sql, p, &err);
  va_end(ap);
  if (rc == 0) rc = Db::detail::valuesToParams(sql, p, values, &err);
  if (rc) {
    // The procedure must not run later with the inputs of an earlier call.
    inputs_.clear();
    inputsError_ = rc;
    inputsErrorText_ = err;
    return fail(rc, err);
  }
  setInputs(std::move(values));
  return 0;
}

std::string DBtable::selectSql() const {
  std::string sql = infoOf(def_, hasRowId()).selectList;
  sql += " FROM ";
  sql += def_.name;
  if (!where_.empty()) { sql += " WHERE "; sql += where_; }
  if (!orderBy_.empty()) { sql += " ORDER BY "; sql += orderBy_; }
  else if (hasRowId()) { sql += " ORDER BY "; sql += Db::detail::kRowIdColumn; }
  return sql;
}

int DBtable::runSelect(Session& s, bool* sent) {
  cursor_.reset();
  hasRead_ = false;
  int rc = 0;
  if (def_.kind == Db::HeaderType::Table) {
    auto lease = s.acquire(selectSql(), &rc);
    if (!lease) { *sent = false; return fail(rc, s.backend().lastError()); }
    rc = lease->get().execute(whereParams_);
    if (rc) return fail(rc, s.backend().lastError());
    cursor_ = std::move(lease);
    return 0;
  }
  // Procedures and queries: every statement of the body runs with the same
  // inputs; the last one yields the result rows.
  const std::vector<std::string>* body = Db::detail::procedureBody(def_.name);
  if (body == nullptr || body->empty())
    return fail(DB_ERR_USAGE, std::string("no body for procedure ") + def_.name);
  *sent = false;
  for (size_t i = 0; i < body->size(); ++i) {
    auto lease = s.acquire((*body)[i], &rc);
    if (!lease) return fail(rc, s.backend().lastError());
    *sent = true;
    rc = lease->get().execute(inputs_);
    if (rc) return fail(rc, s.backend().lastError());
    if (i + 1 == body->size()) cursor_ = std::move(lease);
  }
  return 0;
}

// Refuses a statement whose where clause or inputs could not be translated,
// whatever ran on this object since.
#define EVD_REFUSE_BAD_FORMAT(usesInputs)                                                   \
  do {                                                                                      \
    if (formatError_) return fail(formatError_, formatErrorText_);                          \
    if ((usesInputs) && inputsError_) return fail(inputsError_, inputsErrorText_);           \
  } while (0)

int DBtable::fillRow() {
  Db::detail::StatementBackend& st = cursor_->get();
  bool cut = false;
  std::string outOfRange;
  const int n = std::min(def_.columnCount, st.columnCount());
  for (int i = 0; i < n; ++i) {
    const Db::ColumnDef& c = def_.columns[i];
    void* f = c.field(row_);
    const bool null = st.isNull(i);
    switch (c.type) {
      case Db::ColType::INT32: {
        const int64_t v = null ? 0 : st.getInt(i);
        if (v < INT_MIN || v > INT_MAX) {
          // A wrapped id would name another row: leave the field alone.
          if (outOfRange.empty())
            outOfRange = std::string(def_.name) + "." + c.name + " holds " + std::to_string(v) +
                         ", which does not fit its 32-bit column";
          break;
        }
        *static_cast<int*>(f) = static_cast<int>(v);
        break;
      }
      case Db::ColType::INT64: *static_cast<long long*>(f) = null ? 0 : st.getInt(i); break;
      case Db::ColType::DATETIME: st.getDateTime(i, *static_cast<DB_DATETIME*>(f)); break;
      case Db::ColType::CHARS:
      case Db::ColType::WCHARS: {
        size_t len = 0;
        const char* t = null ? "" : st.getText(i, &len);
        cut |= dbCopyText(static_cast<char*>(f), static_cast<size_t>(c.size), t, len);
        break;
      }
      case Db::ColType::TEXT: {
        char*& p = *static_cast<char**>(f);
        delete[] p;
        p = nullptr;
        if (!null) {
          size_t len = 0;
          const char* t = st.getText(i, &len);
          p = new char[len + 1];
          std::memcpy(p, t, len);
          p[len] = '\0';
        }
        break;
      }
    }
  }
  if (!outOfRange.empty()) return fail(DB_ERR_RANGE, outOfRange);
  hasRead_ = true;
  readKey_.clear();
  if (hasRowId()) readKey_.push_back(Param::integer(st.getInt(def_.columnCount)));
  for (int idx : infoOf(def_, hasRowId()).keyIndexes) readKey_.push_back(columnParam(def_.columns[idx], row_));
  return lastCode_ = cut ? DB_SUCCESS_TRUNCATED : 0;
}

int DBtable::getOneRow(bool, int, int) {
  EVD_REFUSE_BAD_FORMAT(def_.kind != Db::HeaderType::Table);
  // A read can be sent again on a new connection; a procedure body may
  // write, so only one that never reached the server is.
  int rc = withSession(def_.kind == Db::HeaderType::Table, [this](Session& s, bool* sent) {
    int r = runSelect(s, sent);
    if (r) return r;
    r = cursor_->get().fetch();
    if (r == 0) r = fillRow();
    else if (r != DB_NO_DATA) r = fail(r, s.backend().lastError());
    else lastCode_ = r;
    cursor_.reset();
    return r;
  });
  return rc;
}

int DBtable::getNextRow(int* counter, int, int) {
  if (counter == nullptr) return fail(DB_ERR_USAGE, "getNextRow needs a counter");
  if (*counter == 0 || !cursor_) {
    EVD_REFUSE_BAD_FORMAT(def_.kind != Db::HeaderType::Table);
    int rc = withSession(def_.kind == Db::HeaderType::Table,
                         [this](Session& s, bool* sent) { return runSelect(s, sent); });
    if (rc) return rc;
  }
  int rc = cursor_->get().fetch();
  if (rc == 0) {
    ++*counter;
    return fillRow();
  }
  if (rc != DB_NO_DATA) {
    int r = 0;
    std::string err;
    Session* s = Session::current(&r, &err);
    rc = fail(rc, s ? s->backend().lastError() : err);
  } else {
    lastCode_ = rc;
  }
  cursor_.reset();
  return rc;
}

int DBtable::closeCursor() {
  cursor_.reset();
  return 0;
}

int DBtable::runModify(const std::string& sql, const std::vector<Param>& params, bool noRowIs100) {
  return withSession(false, [&](Session& s, bool* sent) {
    int rc = 0;
    auto lease = s.acquire(sql, &rc);
    if (!lease) { *sent = false; return fail(rc, s.backend().lastError()); }
    rc = lease->get().execute(params);
    if (rc) return fail(rc, s.backend().lastError());
    if (noRowIs100 && lease->get().changes() == 0) return lastCode_ = DB_NO_DATA;
    return lastCode_ = 0;
  });
}

int DBtable::rowInsert(bool) {
  const DefInfo& info = infoOf(def_, hasRowId());
  const int serialIdx = info.serialIndex;
  std::vector<Param> params;
  params.reserve(static_cast<size_t>(def_.columnCount));
  for (int i = 0; i < def_.columnCount; ++i)
    if (i != serialIdx) params.push_back(columnParam(def_.columns[i], row_));
  return withSession(false, [&](Session& s, bool* sent) {
    int rc = 0;
    auto lease = s.acquire(info.insertSql, &rc);
    if (!lease) { *sent = false; return fail(rc, s.backend().lastError()); }
    rc = lease->get().execute(params);
    if (rc) return fail(rc, s.backend().lastError());
    if (serialIdx < 0) return lastCode_ = 0;
    rc = lease->get().fetch();
    if (rc != 0) return fail(rc == DB_NO_DATA ? DB_ERR_USAGE : rc, "insert returned no serial value");
    const Db::ColumnDef& col = def_.columns[serialIdx];
    const int64_t serial = lease->get().getInt(0);
    lease.reset();
    if (col.type == Db::ColType::INT64) {
      *static_cast<long long*>(col.field(row_)) = serial;
    } else if (serial >= INT_MIN && serial <= INT_MAX) {
      *static_cast<int*>(col.field(row_)) = static_cast<int>(serial);
    } else {
      // The caller could not name the row it made: take it back rather than
      // leave an occurrence nobody can reach.
      auto undo = s.acquire(std::string("DELETE FROM ") + def_.name + " WHERE " + col.name + " = ?", &rc);
      if (undo) undo->get().execute({Param::integer(serial)});
      return fail(DB_ERR_RANGE, std::string(def_.name) + "." + col.name + " serial " + std::to_string(serial) +
                                    " does not fit its 32-bit column; the row was not kept");
    }
    return lastCode_ = 0;
  });
}

int DBtable::rowUpdate(const char* format, ...) {
  if (format == nullptr) return rowUpdate(nullptr);
  EVD_REFUSE_BAD_FORMAT(false);
  va_list ap;
  va_start(ap, format);
  std::string set, err;
  std::vector<Param> params;
  int rc = Db::detail::translateFormat(format, ap, set, params, &err);
  va_end(ap);
  if (rc) return fail(rc, err);
  std::string sql = std::string("UPDATE ") + def_.name + " SET " + set;
  if (!where_.empty()) { sql += " WHERE "; sql += where_; }
  for (const Param& p : whereParams_) params.push_back(p);
  return runModify(sql, params, true);
}

int DBtable::rowUpdate(std::nullptr_t) {
  if (!hasRead_) return fail(DB_ERR_USAGE, std::string("rowUpdate of ") + def_.name + " without a row read first");
  std::string sql = std::string("UPDATE ") + def_.name + " SET ";
  std::vector<Param> params;
  auto keys = splitKeys(def_.keyColumns);
  bool first = true;
  // Every column but the serial one is written, keys included: the row is
  // found again by the key values it had when it was read.
  for (int i = 0; i < def_.columnCount; ++i) {
    if (isSerial(def_, i)) continue;
    if (!first) sql += ", ";
    first = false;
    sql += def_.columns[i].name;
    sql += " = ?";
    params.push_back(columnParam(def_.columns[i], row_));
  }
  if (hasRowId()) {
    sql += std::string(" WHERE ") + Db::detail::kRowIdColumn + " = ?";
    params.push_back(readKey_.at(0));
  } else if (!keys.empty() && readKey_.size() == keys.size()) {
    sql += " WHERE ";
    for (size_t k = 0; k < keys.size(); ++k) {
      if (k) sql += " AND ";
      sql += keys[k] + " = ?";
      params.push_back(readKey_[k]);
    }
  } else if (!where_.empty()) {
    EVD_REFUSE_BAD_FORMAT(false);
    sql += " WHERE " + where_;
    for (const Param& p : whereParams_) params.push_back(p);
  }
  return runModify(sql, params, true);
}

int DBtable::rowDelete() {
  EVD_REFUSE_BAD_FORMAT(false);
  std::string sql = std::string("DELETE FROM ") + def_.name;
  if (!where_.empty()) { sql += " WHERE "; sql += where_; }
  return runModify(sql, whereParams_, true);
}

// ---- transactions ----

DBtran::DBtran(bool) {}

DBtran::~DBtran() {
  if (active_) rollbackTran();
}

void DBtran::addObject(DBtable*) { ++objects_; }

int DBtran::fail(int code, std::string message) {
  tallyError("transaction: " + message);
  lastError_ = std::move(message);
  return lastCode_ = code;
}

int DBtran::checkUsable(const Session* session, std::string* why) const {
  if (lost_) {
    *why = "the connection of this transaction was closed; its statements were rolled back";
    return DB_ERR_TRANSACTION;
  }
  if (!active_) return 0;  // not started or ended: the statement stands alone
  if (session != session_) {
    *why = "this transaction belongs to another connection";
    return DB_ERR_TRANSACTION;
  }
  if (!session->isInnermost(this)) {
    *why = "a transaction begun inside this one is still open; its statements would land there";
    return DB_ERR_TRANSACTION;
  }
  return 0;
}

int DBtran::startTran() {
  if (active_) return fail(DB_ERR_TRANSACTION, "this transaction is already open");
  lost_ = false;
  for (int attempt = 0;; ++attempt) {
    int rc = 0;
    std::string err;
    Session* s = Session::current(&rc, &err);
    if (!s) return fail(rc, err);
    rc = s->begin(this);
    if (rc == 0) {
      active_ = true;
      session_ = s;
      return 0;
    }
    std::string text = s->backend().lastError();
    // BEGIN on a connection that died while idle: once more on a new one.
    if (Session::dropIfLost(s) && attempt == 0) continue;
    return fail(rc, text);
  }
}

// Commit and rollback go to the transaction's own session, which stays
// alive while the transaction is open on it (closing it detaches us).
int DBtran::commitTran(bool) {
  if (!active_) {
    return fail(DB_ERR_TRANSACTION, lost_ ? "the connection of this transaction was closed; nothing was committed"
                                          : "no transaction to commit");
  }
  Session* s = session_;
  if (!s->isInnermost(this))
    return fail(DB_ERR_TRANSACTION, "a transaction begun inside this one is still open");
  const int rc = s->commit(this);
  if (!s->isOpen(this)) { active_ = false; session_ = nullptr; }
  if (rc) {
    fail(rc, s->backend().lastError());
    Session::dropIfLost(s);
  }
  return rc;
}

int DBtran::rollbackTran() {
  if (!active_) {
    return fail(DB_ERR_TRANSACTION, lost_ ? "the connection of this transaction was closed; it was rolled back"
                                          : "no transaction to roll back");
  }
  Session* s = session_;
  active_ = false;
  session_ = nullptr;
  const int rc = s->rollback(this);
  if (rc) fail(rc, s->backend().lastError());
  Session::dropIfLost(s);
  return rc;
}

const char* DBtran::getErrorStr(int code) const {
  if (code == lastCode_ && !lastError_.empty()) return lastError_.c_str();
  return describeCode(code);
}
