#include "db/postgres/pg_pipeline.h"

#include <strings.h>

#include <cctype>
#include <cstring>

#include "db/postgres/pg_result.h"

namespace Db::detail {
namespace {

bool isWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// True when SQL, past leading blanks, starts with the word KW (any case).
bool startsWithWord(const std::string& sql, size_t* pos, const char* kw) {
  size_t i = *pos;
  while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
  const size_t n = std::strlen(kw);
  if (sql.size() - i < n || strncasecmp(sql.c_str() + i, kw, n) != 0) return false;
  if (i + n < sql.size() && isWordChar(sql[i + n])) return false;
  *pos = i + n;
  return true;
}

// Moves past one parenthesised group at *POS (quoted text skipped). False on
// anything the reading cannot vouch for: dollar quotes, comments, a ';'.
bool skipGroup(const std::string& sql, size_t* pos) {
  size_t i = *pos;
  while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
  if (i == sql.size() || sql[i] != '(') return false;
  int depth = 0;
  for (; i < sql.size(); ++i) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {
      const size_t close = sql.find(c, i + 1);
      if (close == std::string::npos) return false;
      i = close;  // a doubled quote is read as two adjacent literals: same extent
    } else if (c == ';' || (c == '$' && (i + 1 == sql.size() || !std::isdigit(static_cast<unsigned char>(sql[i + 1])))) ||
               (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') ||
               (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*')) {
      return false;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')' && --depth == 0) {
      *pos = i + 1;
      return true;
    }
  }
  return false;
}

}  // namespace

bool isDeferrableInsert(const std::string& sql) {
  size_t i = 0;
  if (!startsWithWord(sql, &i, "INSERT") || !startsWithWord(sql, &i, "INTO")) return false;
  while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
  const size_t name = i;
  while (i < sql.size() && (isWordChar(sql[i]) || sql[i] == '.')) ++i;
  if (i == name) return false;
  size_t afterName = i;
  if (!startsWithWord(sql, &afterName, "VALUES")) {
    if (!skipGroup(sql, &i) || !startsWithWord(sql, &i, "VALUES")) return false;
  } else {
    i = afterName;
  }
  // One group of values or several, comma-separated.
  for (;;) {
    if (!skipGroup(sql, &i)) return false;
    while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
    if (i == sql.size() || sql[i] != ',') break;
    ++i;
  }
  return i == sql.size();
}

namespace {

bool isRollback(const std::string& sql) {
  size_t i = 0;
  if (startsWithWord(sql, &i, "ROLLBACK")) return true;
  i = 0;
  return startsWithWord(sql, &i, "ABORT");
}

// The extended protocol, the only one a pipeline speaks, takes one statement
// per request; a ';' anywhere is taken as more than one (a false alarm only
// costs the slower path).
bool mayHoldSeveralStatements(const std::string& sql) { return sql.find(';') != std::string::npos; }

}  // namespace

bool PgPipeline::begin() {
  if (m_on) return true;
  if (PQstatus(m_conn) != CONNECTION_OK || PQenterPipelineMode(m_conn) != 1) return false;
  m_on = true;
  m_failed = m_blocked = false;
  m_queued = 0;
  return true;
}

void PgPipeline::end() {
  if (!m_on) return;
  drain();
  PQexitPipelineMode(m_conn);
  m_on = m_failed = m_blocked = false;
}

int PgPipeline::sync() {
  if (!m_on) return 0;
  drain();
  if (!m_failed) return 0;
  m_lastError = m_failText;
  return m_failCode;
}

int PgPipeline::queue(Send send) {
  if (m_blocked) return refuse();
  queueDeallocations();
  if (send() != 1) {
    // libpq could not even take the request: the connection is in trouble,
    // and what was queued before it is read before anything else.
    std::string text;
    const int code = describeFailure(m_conn, nullptr, &text);
    drain();
    m_roundFailed = false;
    noteFailure(code, text);
    m_blockCode = code;
    m_blockText = text;
    m_blocked = true;
    return refuse();
  }
  if (++m_queued >= kMaxQueued) drain();
  return 0;
}

PGresult* PgPipeline::roundTrip(Send send, bool isolate, int* code) {
  *code = 0;
  if (m_blocked && !isolate) {
    *code = refuse();
    return nullptr;
  }
  if (!m_blocked) queueDeallocations();
  const int queued = m_queued;
  m_queued = 0;
  m_roundFailed = false;
  bool ok = !(isolate && queued > 0) || PQpipelineSync(m_conn) == 1;
  const bool requestSent = ok && send() == 1;
  ok = PQpipelineSync(m_conn) == 1 && ok;
  for (int i = 0; i < queued && ok; ++i) ok = takeAnswer();
  if (isolate && queued > 0 && ok) ok = takeSync();
  PGresult* result = nullptr;
  std::string text;
  if (requestSent && ok) {
    result = nextQueryResult(m_conn);
    if (succeeded(result)) {
      *code = 0;
    } else if (PQresultStatus(result) == PGRES_PIPELINE_ABORTED && m_roundFailed) {
      *code = m_roundCode;  // skipped after a queued statement failed
      text = m_roundText;
    } else {
      *code = describeFailure(m_conn, result, &text);
      noteFailure(*code, text);
    }
  }
  if (ok) takeSync();
  if (!requestSent || result == nullptr) {
    // Never sent, or no answer: the connection went.
    *code = describeFailure(m_conn, nullptr, &text);
    noteFailure(*code, text);
  }
  settle();
  if (*code != 0) {
    PQclear(result);
    m_lastError = text;
    return nullptr;
  }
  return result;
}

int PgPipeline::exec(const std::string& sql) {
  const bool rollback = isRollback(sql);
  if (mayHoldSeveralStatements(sql)) {
    // Only the simple protocol runs several statements in one request, and
    // it is not spoken in a pipeline: step out of it for this one.
    drain();
    if (m_blocked && !rollback) return refuse();
    PQexitPipelineMode(m_conn);
    PGresult* r = PQexec(m_conn, sql.c_str());
    std::string text;
    const int code = succeeded(r) ? 0 : describeFailure(m_conn, r, &text);
    PQclear(r);
    PQenterPipelineMode(m_conn);
    m_roundFailed = false;
    if (code != 0) {
      noteFailure(code, text);
      m_lastError = text;
    }
    settle();
    return code;
  }
  if (!rollback) return queue([&] { return sendPlain(sql.c_str()); });
  int code = 0;
  PQclear(roundTrip([&] { return sendPlain(sql.c_str()); }, true, &code));
  return code;
}

PGresult* PgPipeline::commit(int* code) {
  PGresult* r = roundTrip([&] { return sendPlain("COMMIT"); }, false, code);
  if (*code != 0 && PQtransactionStatus(m_conn) == PQTRANS_INERROR) {
    // COMMIT was skipped after a failure and the transaction is still open,
    // aborted: end it as the server ends a refused COMMIT.
    const std::string why = m_lastError;
    int ignored = 0;
    PQclear(roundTrip([&] { return sendPlain("ROLLBACK"); }, true, &ignored));
    m_lastError = why;
  }
  return r;
}

void PgPipeline::deallocate(const std::string& name) {
  m_toDeallocate.push_back(name);
  if (!m_blocked) queueDeallocations();
}

int PgPipeline::sendPlain(const char* sql) {
  return PQsendQueryParams(m_conn, sql, 0, nullptr, nullptr, nullptr, nullptr, 0);
}

// Reads the answer to one queued request; false when the connection went.
bool PgPipeline::takeAnswer() {
  PGresult* r = nextQueryResult(m_conn);
  if (PQresultStatus(r) == PGRES_PIPELINE_ABORTED) {
    noteFailure(postgresErrorCode("25P02"),
                "statement skipped: an earlier statement of the pipeline had failed (SQLSTATE 25P02)");
  } else if (!succeeded(r)) {
    std::string text;
    noteFailure(describeFailure(m_conn, r, &text), text);
  }
  PQclear(r);
  return PQstatus(m_conn) == CONNECTION_OK;
}

// Reads a sync's end marker; false when the connection went instead.
bool PgPipeline::takeSync() {
  if (PQstatus(m_conn) != CONNECTION_OK) return false;
  PGresult* r = PQgetResult(m_conn);
  const bool ok = PQresultStatus(r) == PGRES_PIPELINE_SYNC;
  PQclear(r);
  return ok;
}

// Sends what is queued and reads the answers.
void PgPipeline::drain() {
  if (!m_blocked) queueDeallocations();
  if (m_queued == 0) return;
  const int queued = m_queued;
  m_queued = 0;
  m_roundFailed = false;
  bool ok = PQpipelineSync(m_conn) == 1;
  for (int i = 0; i < queued && ok; ++i) ok = takeAnswer();
  if (ok) ok = takeSync();
  if (!ok && !m_roundFailed) {
    std::string text;
    noteFailure(describeFailure(m_conn, nullptr, &text), text);
  }
  settle();
}

void PgPipeline::queueDeallocations() {
  if (m_toDeallocate.empty()) return;  // the usual case, on every queued statement
  std::vector<std::string> names;
  names.swap(m_toDeallocate);
  for (const std::string& n : names) {
    const std::string sql = "DEALLOCATE " + n;
    if (sendPlain(sql.c_str()) == 1) ++m_queued;
  }
}

void PgPipeline::noteFailure(int code, const std::string& text) {
  if (!m_roundFailed) {
    m_roundFailed = true;
    m_roundCode = code;
    m_roundText = text;
  }
  if (!m_failed) {
    m_failed = true;
    m_failCode = code;
    m_failText = text;
  }
}

// After a sync the server's own state decides: an aborted transaction
// refuses everything but a rollback, a lost connection refuses all. The
// refusal names the failure that aborted it.
void PgPipeline::settle() {
  const bool refusing =
      PQstatus(m_conn) == CONNECTION_BAD || PQtransactionStatus(m_conn) == PQTRANS_INERROR;
  if (refusing && m_roundFailed) {
    m_blockCode = m_roundCode;
    m_blockText = m_roundText;
  }
  m_blocked = refusing && m_failed;
}

int PgPipeline::refuse() {
  m_lastError = m_blockText;
  return m_blockCode;
}

}  // namespace Db::detail
