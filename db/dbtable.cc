#include "Db/DBtable.h"

#include <cstdarg>
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "Db/Database.h"
#include "Db/NXDBRow.h"
#include "db/session.h"
#include "db/sql_format.h"
#include "schema/schema.h"

using evd::db::Param;
using evd::db::Session;
using evd::db::StatementLease;

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
  std::memset(dst + len, 0, n - len);
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
  if (hasRowId) { info.selectList += ", "; info.selectList += evd::schema::kRowIdColumn; }
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

const char* DBtable::getErrorStr(int code) const {
  if (code == lastCode_ && !lastError_.empty()) return lastError_.c_str();
  static thread_local std::string generic;
  switch (code) {
    case DB_SUCCESS: return "success";
    case DB_NO_DATA: return "no row";
    case DB_SUCCESS_TRUNCATED: return "a text value was cut to fit its column";
    default: generic = "database error " + std::to_string(code); return generic.c_str();
  }
}

static void appendFormat(std::string& where, std::vector<Param>& params, const char* format, va_list ap,
                         int* rc, std::string* err) {
  std::string sql;
  std::vector<Param> p;
  *rc = evd::db::translateFormat(format, ap, sql, p, err);
  if (*rc != 0) return;
  where += sql;
  for (auto& x : p) params.push_back(std::move(x));
}

void DBtable::setWhere(const char* format, ...) {
  where_.clear();
  whereParams_.clear();
  va_list ap;
  va_start(ap, format);
  int rc;
  std::string err;
  appendFormat(where_, whereParams_, format, ap, &rc, &err);
  va_end(ap);
  if (rc) { where_ = "1 = 0"; whereParams_.clear(); fail(rc, err); formatError_ = rc; }
  else formatError_ = 0;
}

void DBtable::setCatWhere(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  int rc;
  std::string err;
  appendFormat(where_, whereParams_, format, ap, &rc, &err);
  va_end(ap);
  if (rc) { fail(rc, err); formatError_ = rc; }
}

void DBtable::clearWhere() {
  where_.clear();
  whereParams_.clear();
  formatError_ = 0;
}

void DBtable::setOrderBy(const char* columns) { orderBy_ = columns ? columns : ""; }

void DBtable::setInputs(std::vector<Param> inputs) { inputs_ = std::move(inputs); }

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
  int rc = evd::db::translateFormat(format, ap, sql, p, &err);
  va_end(ap);
  if (rc == 0) rc = evd::db::valuesToParams(sql, p, values, &err);
  if (rc) return fail(rc, err);
  inputs_ = std::move(values);
  return 0;
}

std::string DBtable::selectSql() const {
  std::string sql = infoOf(def_, hasRowId()).selectList;
  sql += " FROM ";
  sql += def_.name;
  if (!where_.empty()) { sql += " WHERE "; sql += where_; }
  if (!orderBy_.empty()) { sql += " ORDER BY "; sql += orderBy_; }
  else if (hasRowId()) { sql += " ORDER BY "; sql += evd::schema::kRowIdColumn; }
  return sql;
}

int DBtable::runSelect(bool) {
  cursor_.reset();
  hasRead_ = false;
  if (formatError_) return lastCode_;
  int rc = 0;
  std::string err;
  Session* s = Session::current(&rc, &err);
  if (!s) return fail(rc, err);
  if (def_.kind == Db::HeaderType::Table) {
    cursor_ = s->acquire(selectSql(), &rc);
    if (!cursor_) return fail(rc, s->backend().lastError());
    rc = cursor_->get().execute(whereParams_);
    if (rc) { cursor_.reset(); return fail(rc, s->backend().lastError()); }
    return 0;
  }
  // Procedures and queries: every statement of the body runs with the same
  // inputs; the last one yields the result rows.
  const std::vector<std::string>* body = evd::schema::procedureBody(def_.name);
  if (body == nullptr || body->empty())
    return fail(DB_ERR_USAGE, std::string("no body for procedure ") + def_.name);
  for (size_t i = 0; i < body->size(); ++i) {
    auto lease = s->acquire((*body)[i], &rc);
    if (!lease) return fail(rc, s->backend().lastError());
    rc = lease->get().execute(inputs_);
    if (rc) return fail(rc, s->backend().lastError());
    if (i + 1 == body->size()) cursor_ = std::move(lease);
  }
  return 0;
}

int DBtable::fillRow() {
  evd::db::StatementBackend& st = cursor_->get();
  bool cut = false;
  const int n = std::min(def_.columnCount, st.columnCount());
  for (int i = 0; i < n; ++i) {
    const Db::ColumnDef& c = def_.columns[i];
    void* f = c.field(row_);
    const bool null = st.isNull(i);
    switch (c.type) {
      case Db::ColType::INT32: *static_cast<int*>(f) = null ? 0 : static_cast<int>(st.getInt(i)); break;
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
  hasRead_ = true;
  readKey_.clear();
  if (hasRowId()) readKey_.push_back(Param::integer(st.getInt(def_.columnCount)));
  for (int idx : infoOf(def_, hasRowId()).keyIndexes) readKey_.push_back(columnParam(def_.columns[idx], row_));
  return cut ? DB_SUCCESS_TRUNCATED : 0;
}

int DBtable::getOneRow(bool, int, int) {
  int rc = runSelect(false);
  if (rc) return rc;
  rc = cursor_->get().fetch();
  if (rc == 0) rc = fillRow();
  else if (rc != DB_NO_DATA) rc = fail(rc, lastErrorOfSession());
  cursor_.reset();
  lastCode_ = rc == 0 || rc == DB_NO_DATA || rc == DB_SUCCESS_TRUNCATED ? rc : lastCode_;
  return rc;
}

int DBtable::getNextRow(int* counter, int, int) {
  if (counter == nullptr) return fail(DB_ERR_USAGE, "getNextRow needs a counter");
  if (*counter == 0 || !cursor_) {
    int rc = runSelect(true);
    if (rc) return rc;
  }
  int rc = cursor_->get().fetch();
  if (rc == 0) {
    ++*counter;
    return fillRow();
  }
  if (rc != DB_NO_DATA) rc = fail(rc, lastErrorOfSession());
  cursor_.reset();
  return rc;
}

int DBtable::closeCursor() {
  cursor_.reset();
  return 0;
}

std::string DBtable::lastErrorOfSession() const {
  int rc = 0;
  std::string err;
  Session* s = Session::current(&rc, &err);
  return s ? s->backend().lastError() : err;
}

int DBtable::runModify(const std::string& sql, const std::vector<Param>& params, bool noRowIs100) {
  int rc = 0;
  std::string err;
  Session* s = Session::current(&rc, &err);
  if (!s) return fail(rc, err);
  auto lease = s->acquire(sql, &rc);
  if (!lease) return fail(rc, s->backend().lastError());
  rc = lease->get().execute(params);
  if (rc) return fail(rc, s->backend().lastError());
  if (noRowIs100 && lease->get().changes() == 0) return lastCode_ = DB_NO_DATA;
  return lastCode_ = 0;
}

int DBtable::rowInsert(bool) {
  int rc = 0;
  std::string err;
  Session* s = Session::current(&rc, &err);
  if (!s) return fail(rc, err);
  const DefInfo& info = infoOf(def_, hasRowId());
  const int serialIdx = info.serialIndex;
  std::vector<Param> params;
  params.reserve(static_cast<size_t>(def_.columnCount));
  for (int i = 0; i < def_.columnCount; ++i)
    if (i != serialIdx) params.push_back(columnParam(def_.columns[i], row_));
  auto lease = s->acquire(info.insertSql, &rc);
  if (!lease) return fail(rc, s->backend().lastError());
  rc = lease->get().execute(params);
  if (rc) return fail(rc, s->backend().lastError());
  if (serialIdx >= 0) {
    rc = lease->get().fetch();
    if (rc != 0) return fail(rc == DB_NO_DATA ? DB_ERR_USAGE : rc, "insert returned no serial value");
    *static_cast<int*>(def_.columns[serialIdx].field(row_)) = static_cast<int>(lease->get().getInt(0));
  }
  return lastCode_ = 0;
}

int DBtable::rowUpdate(const char* format, ...) {
  if (format == nullptr) return rowUpdate(nullptr);
  if (formatError_) return lastCode_;
  va_list ap;
  va_start(ap, format);
  std::string set, err;
  std::vector<Param> params;
  int rc = evd::db::translateFormat(format, ap, set, params, &err);
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
    sql += std::string(" WHERE ") + evd::schema::kRowIdColumn + " = ?";
    params.push_back(readKey_.at(0));
  } else if (!keys.empty() && readKey_.size() == keys.size()) {
    sql += " WHERE ";
    for (size_t k = 0; k < keys.size(); ++k) {
      if (k) sql += " AND ";
      sql += keys[k] + " = ?";
      params.push_back(readKey_[k]);
    }
  } else if (!where_.empty()) {
    sql += " WHERE " + where_;
    for (const Param& p : whereParams_) params.push_back(p);
  }
  return runModify(sql, params, true);
}

int DBtable::rowDelete() {
  if (formatError_) return lastCode_;
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

int DBtran::startTran() {
  int rc = 0;
  Session* s = Session::current(&rc, &lastError_);
  if (!s) return lastCode_ = rc;
  rc = s->begin();
  if (rc) {
    lastError_ = rc == DB_ERR_TRANSACTION ? "a transaction is already open on this connection"
                                          : s->backend().lastError();
    tallyError("begin transaction: " + lastError_);
    return lastCode_ = rc;
  }
  active_ = true;
  return 0;
}

int DBtran::commitTran(bool) {
  int rc = 0;
  Session* s = Session::current(&rc, &lastError_);
  if (!s) return lastCode_ = rc;
  if (!active_) { lastError_ = "no transaction to commit"; return lastCode_ = DB_ERR_TRANSACTION; }
  rc = s->commit();
  if (rc) {
    lastError_ = s->backend().lastError();
    tallyError("commit: " + lastError_);
    return lastCode_ = rc;
  }
  active_ = false;
  return 0;
}

int DBtran::rollbackTran() {
  int rc = 0;
  Session* s = Session::current(&rc, &lastError_);
  if (!s) return lastCode_ = rc;
  if (!active_) { lastError_ = "no transaction to roll back"; return lastCode_ = DB_ERR_TRANSACTION; }
  active_ = false;
  rc = s->rollback();
  if (rc) { lastError_ = s->backend().lastError(); return lastCode_ = rc; }
  return 0;
}

const char* DBtran::getErrorStr(int code) const {
  if (code == lastCode_ && !lastError_.empty()) return lastError_.c_str();
  return code == 0 ? "success" : "transaction error";
}
