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
#include "db/postgres/pg_result.h"
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
    : m_def(def), m_row(rowBuffer), m_tran(tran) {}

DBtable::~DBtable() = default;

bool DBtable::hasRowId() const {
  return m_def.kind == Db::HeaderType::Table && m_def.keyColumns[0] == '\0';
}

namespace {
std::mutex g_tallyMutex;
Db::ErrorTally g_tally;

void tallyError(int code, const std::string& what) {
  std::lock_guard<std::mutex> lk(g_tallyMutex);
  ++g_tally.count;
  g_tally.last = what;
  if (Db::isFatalError(code)) {
    ++g_tally.fatal;
    g_tally.lastFatal = what;
  }
  if (Db::isConnectionLost(code)) ++g_tally.lost;
  if (Db::isBusy(code)) ++g_tally.busy;
}
}  // namespace

bool Db::isFatalError(int code) {
  if (code > 0 && code < 0x10000) {
    switch (code & 0xff) {
      case 8:   // SQLITE_READONLY
      case 10:  // SQLITE_IOERR
      case 11:  // SQLITE_CORRUPT
      case 13:  // SQLITE_FULL
        return true;
      default: return false;
    }
  }
  const std::string state = Db::detail::postgresSqlState(code);
  return state == "53100" || state == "25006" || state == "58030" || state == "XX001" || state == "XX002";
}

bool Db::isConnectionLost(int code) {
  if (code == DB_ERR_CONNECT) return true;
  const std::string state = Db::detail::postgresSqlState(code);
  return state.rfind("08", 0) == 0 || state == "57P01" || state == "57P02" || state == "57P03";
}

bool Db::isBusy(int code) {
  if (code > 0 && code < 0x10000)
    return (code & 0xff) == 5 /* SQLITE_BUSY */ || (code & 0xff) == 6 /* SQLITE_LOCKED */;
  const std::string state = Db::detail::postgresSqlState(code);
  return state == "40P01" || state == "40001";
}

Db::ErrorTally Db::errorTally() {
  std::lock_guard<std::mutex> lk(g_tallyMutex);
  return g_tally;
}

int DBtable::fail(int code, const std::string& message) {
  m_lastCode = code;
  m_lastError = message;
  if (m_counted) tallyError(code, std::string(m_def.name) + ": " + message);
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
  if (code == m_lastCode && !m_lastError.empty()) return m_lastError.c_str();
  return describeCode(code);
}

template <class Op>
int DBtable::withSession(bool readOnly, Op&& op) {
  for (int attempt = 0;; ++attempt) {
    int rc = 0;
    std::string err;
    Session* s = Session::current(&rc, &err);
    if (!s) return fail(rc, err);
    if (m_tran != nullptr && (rc = m_tran->checkUsable(s, &err)) != 0) return fail(rc, err);
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
  appendFormat(m_where, m_whereParams, format, ap, &rc, &err);
  va_end(ap);
  if (rc) {
    m_where = "1 = 0";
    m_whereParams.clear();
    m_formatError = fail(rc, err);
    m_formatErrorText = err;
  }
}

void DBtable::setWhereIn(const char* column, const std::vector<int>& values) {
  clearWhere();
  if (values.empty()) {
    m_where = "1 = 0";
    return;
  }
  m_where = std::string(column) + " IN (";
  for (size_t i = 0; i < values.size(); ++i) {
    m_where += i ? ", ?" : "?";
    m_whereParams.push_back(Param::integer(values[i]));
  }
  m_where += ")";
}

void DBtable::setCatWhere(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  int rc;
  std::string err;
  appendFormat(m_where, m_whereParams, format, ap, &rc, &err);
  va_end(ap);
  if (rc && !m_formatError) {
    m_formatError = fail(rc, err);
    m_formatErrorText = err;
  }
}

void DBtable::clearWhere() {
  m_where.clear();
  m_whereParams.clear();
  m_formatError = 0;
  m_formatErrorText.clear();
}

void DBtable::setOrderBy(const char* columns) { m_orderBy = columns ? columns : ""; }

void DBtable::setInputs(std::vector<Param> inputs) {
  m_inputs = std::move(inputs);
  m_inputsError = 0;
  m_inputsErrorText.clear();
}

void DBtable::BindInput(const NXDBDataTypeBase& column) {
  if (column.isNull()) { m_inputs.push_back(Param()); return; }
  switch (column.getDataType()) {
    case 1: m_inputs.push_back(Param::integer(static_cast<const NXDB_int&>(column).get())); break;
    case 4: m_inputs.push_back(Param::integer(static_cast<const NXDB_int64&>(column).get())); break;
    case 5: m_inputs.push_back(Param::datetime(static_cast<const NXDB_datetime&>(column).getDateTime())); break;
    default: m_inputs.push_back(Param::text(static_cast<const NXDB_string&>(column).get())); break;
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
    m_inputs.clear();
    m_inputsError = rc;
    m_inputsErrorText = err;
    return fail(rc, err);
  }
  setInputs(std::move(values));
  return 0;
}

std::string DBtable::selectSql() const {
  std::string sql = infoOf(m_def, hasRowId()).selectList;
  sql += " FROM ";
  sql += m_def.name;
  if (!m_where.empty()) { sql += " WHERE "; sql += m_where; }
  if (!m_orderBy.empty()) { sql += " ORDER BY "; sql += m_orderBy; }
  else if (hasRowId()) { sql += " ORDER BY "; sql += Db::detail::kRowIdColumn; }
  return sql;
}

int DBtable::runSelect(Session& s, bool* sent) {
  m_cursor.reset();
  m_hasRead = false;
  int rc = 0;
  if (m_def.kind == Db::HeaderType::Table) {
    auto lease = s.acquire(selectSql(), &rc);
    if (!lease) { *sent = false; return fail(rc, s.backend().lastError()); }
    rc = lease->get().execute(m_whereParams);
    if (rc) return fail(rc, s.backend().lastError());
    m_cursor = std::move(lease);
    return 0;
  }
  // Procedures and queries: every statement of the body runs with the same
  // inputs; the last one yields the result rows.
  const std::vector<std::string>* body = Db::detail::procedureBody(m_def.name);
  if (body == nullptr || body->empty())
    return fail(DB_ERR_USAGE, std::string("no body for procedure ") + m_def.name);
  *sent = false;
  for (size_t i = 0; i < body->size(); ++i) {
    auto lease = s.acquire((*body)[i], &rc);
    if (!lease) return fail(rc, s.backend().lastError());
    *sent = true;
    rc = lease->get().execute(m_inputs);
    if (rc) return fail(rc, s.backend().lastError());
    if (i + 1 == body->size()) m_cursor = std::move(lease);
  }
  return 0;
}

// Refuses a statement whose where clause or inputs could not be translated,
// whatever ran on this object since.
#define EVD_REFUSE_BAD_FORMAT(usesInputs)                                                   \
  do {                                                                                      \
    if (m_formatError) return fail(m_formatError, m_formatErrorText);                          \
    if ((usesInputs) && m_inputsError) return fail(m_inputsError, m_inputsErrorText);           \
  } while (0)

int DBtable::fillRow() {
  Db::detail::StatementBackend& st = m_cursor->get();
  bool cut = false;
  std::string outOfRange;
  const int n = std::min(m_def.columnCount, st.columnCount());
  for (int i = 0; i < n; ++i) {
    const Db::ColumnDef& c = m_def.columns[i];
    void* f = c.field(m_row);
    const bool null = st.isNull(i);
    switch (c.type) {
      case Db::ColType::INT32: {
        const int64_t v = null ? 0 : st.getInt(i);
        if (v < INT_MIN || v > INT_MAX) {
          // A wrapped id would name another row: leave the field alone.
          if (outOfRange.empty())
            outOfRange = std::string(m_def.name) + "." + c.name + " holds " + std::to_string(v) +
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
  m_hasRead = true;
  m_readKey.clear();
  if (hasRowId()) m_readKey.push_back(Param::integer(st.getInt(m_def.columnCount)));
  for (int idx : infoOf(m_def, hasRowId()).keyIndexes) m_readKey.push_back(columnParam(m_def.columns[idx], m_row));
  return m_lastCode = cut ? DB_SUCCESS_TRUNCATED : 0;
}

int DBtable::getOneRow(bool, int, int) {
  EVD_REFUSE_BAD_FORMAT(m_def.kind != Db::HeaderType::Table);
  // A read can be sent again on a new connection; a procedure body may
  // write, so only one that never reached the server is.
  int rc = withSession(m_def.kind == Db::HeaderType::Table, [this](Session& s, bool* sent) {
    int r = runSelect(s, sent);
    if (r) return r;
    r = m_cursor->get().fetch();
    if (r == 0) r = fillRow();
    else if (r != DB_NO_DATA) r = fail(r, s.backend().lastError());
    else m_lastCode = r;
    m_cursor.reset();
    return r;
  });
  return rc;
}

int DBtable::getNextRow(int* counter, int, int) {
  if (counter == nullptr) return fail(DB_ERR_USAGE, "getNextRow needs a counter");
  if (*counter == 0 || !m_cursor) {
    EVD_REFUSE_BAD_FORMAT(m_def.kind != Db::HeaderType::Table);
    int rc = withSession(m_def.kind == Db::HeaderType::Table,
                         [this](Session& s, bool* sent) { return runSelect(s, sent); });
    if (rc) return rc;
  }
  int rc = m_cursor->get().fetch();
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
    m_lastCode = rc;
  }
  m_cursor.reset();
  return rc;
}

int DBtable::closeCursor() {
  m_cursor.reset();
  return 0;
}

int DBtable::runModify(const std::string& sql, const std::vector<Param>& params, bool noRowIs100) {
  return withSession(false, [&](Session& s, bool* sent) {
    int rc = 0;
    auto lease = s.acquire(sql, &rc);
    if (!lease) { *sent = false; return fail(rc, s.backend().lastError()); }
    rc = lease->get().execute(params);
    if (rc) return fail(rc, s.backend().lastError());
    if (noRowIs100 && lease->get().changes() == 0) return m_lastCode = DB_NO_DATA;
    return m_lastCode = 0;
  });
}

int DBtable::rowInsert(bool) {
  const DefInfo& info = infoOf(m_def, hasRowId());
  const int serialIdx = info.serialIndex;
  std::vector<Param> params;
  params.reserve(static_cast<size_t>(m_def.columnCount));
  for (int i = 0; i < m_def.columnCount; ++i)
    if (i != serialIdx) params.push_back(columnParam(m_def.columns[i], m_row));
  return withSession(false, [&](Session& s, bool* sent) {
    int rc = 0;
    auto lease = s.acquire(info.insertSql, &rc);
    if (!lease) { *sent = false; return fail(rc, s.backend().lastError()); }
    rc = lease->get().execute(params);
    if (rc) return fail(rc, s.backend().lastError());
    if (serialIdx < 0) return m_lastCode = 0;
    rc = lease->get().fetch();
    if (rc != 0) return fail(rc == DB_NO_DATA ? DB_ERR_USAGE : rc, "insert returned no serial value");
    const Db::ColumnDef& col = m_def.columns[serialIdx];
    const int64_t serial = lease->get().getInt(0);
    lease.reset();
    if (col.type == Db::ColType::INT64) {
      *static_cast<long long*>(col.field(m_row)) = serial;
    } else if (serial >= INT_MIN && serial <= INT_MAX) {
      *static_cast<int*>(col.field(m_row)) = static_cast<int>(serial);
    } else {
      // The caller could not name the row it made: take it back rather than
      // leave an occurrence nobody can reach.
      auto undo = s.acquire(std::string("DELETE FROM ") + m_def.name + " WHERE " + col.name + " = ?", &rc);
      if (undo) undo->get().execute({Param::integer(serial)});
      return fail(DB_ERR_RANGE, std::string(m_def.name) + "." + col.name + " serial " + std::to_string(serial) +
                                    " does not fit its 32-bit column; the row was not kept");
    }
    return m_lastCode = 0;
  });
}

int DBtable::rowsInsert(size_t count, const std::function<void(size_t)>& fill, bool counted) {
  m_counted = counted;
  const DefInfo& info = infoOf(m_def, hasRowId());
  // One text per row count, kept as long as the thread: an event writes the
  // same few counts again and again, and each is prepared once.
  thread_local std::unordered_map<const Db::TableDef*, std::vector<std::string>> texts;
  std::vector<std::string>& byCount = texts[&m_def];
  std::vector<Param> params;
  for (size_t done = 0; done < count;) {
    const size_t n = std::min(count - done, kMaxRowsPerInsert);
    if (byCount.size() < n + 1) byCount.resize(n + 1);
    std::string& sql = byCount[n];
    if (sql.empty()) {
      // The single-row text up to its VALUES group, then N groups.
      const std::string& one = info.insertSql;
      const size_t open = one.find(" VALUES (");
      const std::string group = one.substr(open + 8, one.find(')', open) - open - 7);
      sql = one.substr(0, open + 8);
      for (size_t i = 0; i < n; ++i) sql += (i ? ", " : "") + group;
    }
    params.clear();
    for (size_t r = done; r < done + n; ++r) {
      fill(r);
      for (int i = 0; i < m_def.columnCount; ++i)
        if (i != info.serialIndex) params.push_back(columnParam(m_def.columns[i], m_row));
    }
    const int rc = runModify(sql, params, false);
    if (rc != 0) {
      m_counted = true;
      return rc;
    }
    done += n;
  }
  m_counted = true;
  return m_lastCode = 0;
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
  std::string sql = std::string("UPDATE ") + m_def.name + " SET " + set;
  if (!m_where.empty()) { sql += " WHERE "; sql += m_where; }
  for (const Param& p : m_whereParams) params.push_back(p);
  return runModify(sql, params, true);
}

int DBtable::rowUpdate(std::nullptr_t) {
  if (!m_hasRead) return fail(DB_ERR_USAGE, std::string("rowUpdate of ") + m_def.name + " without a row read first");
  std::string sql = std::string("UPDATE ") + m_def.name + " SET ";
  std::vector<Param> params;
  auto keys = splitKeys(m_def.keyColumns);
  bool first = true;
  // Every column but the serial one is written, keys included: the row is
  // found again by the key values it had when it was read.
  for (int i = 0; i < m_def.columnCount; ++i) {
    if (isSerial(m_def, i)) continue;
    if (!first) sql += ", ";
    first = false;
    sql += m_def.columns[i].name;
    sql += " = ?";
    params.push_back(columnParam(m_def.columns[i], m_row));
  }
  if (hasRowId()) {
    sql += std::string(" WHERE ") + Db::detail::kRowIdColumn + " = ?";
    params.push_back(m_readKey.at(0));
  } else if (!keys.empty() && m_readKey.size() == keys.size()) {
    sql += " WHERE ";
    for (size_t k = 0; k < keys.size(); ++k) {
      if (k) sql += " AND ";
      sql += keys[k] + " = ?";
      params.push_back(m_readKey[k]);
    }
  } else if (!m_where.empty()) {
    EVD_REFUSE_BAD_FORMAT(false);
    sql += " WHERE " + m_where;
    for (const Param& p : m_whereParams) params.push_back(p);
  }
  return runModify(sql, params, true);
}

int DBtable::rowDelete() {
  EVD_REFUSE_BAD_FORMAT(false);
  std::string sql = std::string("DELETE FROM ") + m_def.name;
  if (!m_where.empty()) { sql += " WHERE "; sql += m_where; }
  return runModify(sql, m_whereParams, true);
}

// ---- transactions ----

DBtran::DBtran(bool) {}

DBtran::~DBtran() {
  if (m_active) rollbackTran();
}

void DBtran::addObject(DBtable*) { ++m_objects; }

int DBtran::fail(int code, std::string message) {
  tallyError(code, "transaction: " + message);
  m_lastError = std::move(message);
  return m_lastCode = code;
}

int DBtran::checkUsable(const Session* session, std::string* why) const {
  if (m_lost) {
    *why = "the connection of this transaction was closed; its statements were rolled back";
    return DB_ERR_TRANSACTION;
  }
  if (!m_active) return 0;  // not started or ended: the statement stands alone
  if (session != m_session) {
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
  if (m_active) return fail(DB_ERR_TRANSACTION, "this transaction is already open");
  m_lost = false;
  for (int attempt = 0;; ++attempt) {
    int rc = 0;
    std::string err;
    Session* s = Session::current(&rc, &err);
    if (!s) return fail(rc, err);
    rc = s->begin(this);
    if (rc == 0) {
      m_active = true;
      m_session = s;
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
  if (!m_active) {
    return fail(DB_ERR_TRANSACTION, m_lost ? "the connection of this transaction was closed; nothing was committed"
                                          : "no transaction to commit");
  }
  Session* s = m_session;
  if (!s->isInnermost(this))
    return fail(DB_ERR_TRANSACTION, "a transaction begun inside this one is still open");
  const int rc = s->commit(this);
  if (!s->isOpen(this)) { m_active = false; m_session = nullptr; }
  if (rc) {
    fail(rc, s->backend().lastError());
    Session::dropIfLost(s);
  }
  return rc;
}

int DBtran::rollbackTran() {
  if (!m_active) {
    return fail(DB_ERR_TRANSACTION, m_lost ? "the connection of this transaction was closed; it was rolled back"
                                          : "no transaction to roll back");
  }
  Session* s = m_session;
  m_active = false;
  m_session = nullptr;
  const int rc = s->rollback(this);
  if (rc) fail(rc, s->backend().lastError());
  Session::dropIfLost(s);
  return rc;
}

const char* DBtran::getErrorStr(int code) const {
  if (code == m_lastCode && !m_lastError.empty()) return m_lastError.c_str();
  return describeCode(code);
}
