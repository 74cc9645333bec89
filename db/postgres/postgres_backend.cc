#include "db/postgres/postgres_backend.h"

#include <libpq-fe.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "db/postgres/pg_pipeline.h"
#include "db/postgres/pg_result.h"
#include "db/uri.h"

namespace Db::detail {
namespace {

// Zero date-times have no calendar value in PostgreSQL; they are stored as
// -infinity, which sorts before every real time, and read back as zero.
std::string dateText(const tagTIMESTAMP_STRUCT& ts) {
  DB_DATETIME dt;
  dt = ts;
  if (dt.isZero()) return "-infinity";
  return dt.toString(true);
}

// Highest $n in a statement, ignoring quoted text.
int countParams(const std::string& sql) {
  int maxN = 0;
  char quote = 0;
  for (size_t i = 0; i < sql.size(); ++i) {
    char c = sql[i];
    if (quote) { if (c == quote) quote = 0; continue; }
    if (c == '\'' || c == '"') { quote = c; continue; }
    if (c == '$' && i + 1 < sql.size() && sql[i + 1] >= '0' && sql[i + 1] <= '9') {
      int n = std::atoi(sql.c_str() + i + 1);
      if (n > maxN) maxN = n;
    }
  }
  return maxN;
}

// Inside a transaction a failed statement would abort the whole of it on
// this server (every later statement refused, COMMIT turned into ROLLBACK),
// where SQLite undoes only the statement. So each request runs under a
// savepoint, sent with it in one pipeline: SAVEPOINT, request, RELEASE cost
// one round trip; only a failure costs a second one, to roll back to the
// savepoint. SEND queues the request; returns its result (null when nothing
// came back) and, on failure, its code with *text.
template <class Send>
PGresult* runUnderSavepoint(PGconn* conn, Send&& send, int* code, std::string* text) {
  *code = 0;
  if (PQenterPipelineMode(conn) != 1) {
    *code = describeFailure(conn, nullptr, text);
    return nullptr;
  }
  const bool sent = PQsendQueryParams(conn, "SAVEPOINT evd_stmt", 0, nullptr, nullptr, nullptr, nullptr, 0) == 1 &&
                    send() == 1 &&
                    PQsendQueryParams(conn, "RELEASE SAVEPOINT evd_stmt", 0, nullptr, nullptr, nullptr, nullptr, 0) == 1 &&
                    PQpipelineSync(conn) == 1;
  PGresult* savepoint = sent ? nextQueryResult(conn) : nullptr;
  PGresult* request = sent ? nextQueryResult(conn) : nullptr;
  PGresult* release = sent ? nextQueryResult(conn) : nullptr;
  // The pipeline's end marker; on a lost connection there is none.
  if (sent && PQstatus(conn) == CONNECTION_OK) PQclear(PQgetResult(conn));
  PQexitPipelineMode(conn);

  if (!succeeded(savepoint)) {
    *code = describeFailure(conn, savepoint, text);
  } else if (!succeeded(request)) {
    *code = describeFailure(conn, request, text);
    // Back to the state before the request; the transaction goes on.
    if (PQstatus(conn) == CONNECTION_OK)
      PQclear(PQexec(conn, "ROLLBACK TO SAVEPOINT evd_stmt; RELEASE SAVEPOINT evd_stmt"));
  } else if (!succeeded(release)) {
    *code = describeFailure(conn, release, text);
  }
  PQclear(savepoint);
  PQclear(release);
  if (*code != 0) {
    PQclear(request);
    return nullptr;
  }
  return request;
}

bool inOpenTransaction(PGconn* conn) { return PQtransactionStatus(conn) == PQTRANS_INTRANS; }

class PgSession;

class PgStatement final : public StatementBackend {
 public:
  PgStatement(PgSession* session, std::string name, int nParams, bool deferrable)
      : m_session(session), m_name(std::move(name)), m_nParams(nParams), m_deferrable(deferrable) {}
  ~PgStatement() override;

  int execute(const std::vector<Param>& params) override;

  int fetch() override {
    if (m_res == nullptr) return DB_NO_DATA;
    if (m_row + 1 >= PQntuples(m_res)) return DB_NO_DATA;
    ++m_row;
    return 0;
  }

  int columnCount() const override { return m_res ? PQnfields(m_res) : 0; }
  bool isNull(int col) const override { return PQgetisnull(m_res, m_row, col) != 0; }
  int64_t getInt(int col) const override {
    const char* v = PQgetvalue(m_res, m_row, col);
    if (v[0] == 't' && v[1] == '\0') return 1;  // booleans from expressions
    return std::strtoll(v, nullptr, 10);
  }
  const char* getText(int col, size_t* len) const override {
    if (len) *len = static_cast<size_t>(PQgetlength(m_res, m_row, col));
    return PQgetvalue(m_res, m_row, col);
  }
  bool getDateTime(int col, DB_DATETIME& out) const override {
    out.clear();
    if (isNull(col)) return true;
    const char* v = PQgetvalue(m_res, m_row, col);
    if (std::strcmp(v, "-infinity") == 0) return true;
    return out.parse(v);
  }
  int64_t changes() const override { return m_changes; }
  void reset() override {
    if (m_res) PQclear(m_res);
    m_res = nullptr;
    m_row = -1;
    m_changes = 0;
  }

 private:
  int done() {
    m_row = -1;
    const char* n = PQcmdTuples(m_res);
    m_changes = (n && *n) ? std::atoll(n) : 0;
    return 0;
  }

  PgSession* m_session;
  std::string m_name;
  int m_nParams;
  bool m_deferrable;
  PGresult* m_res = nullptr;
  int m_row = -1;
  int64_t m_changes = 0;
};

class PgSession final : public SessionBackend {
 public:
  explicit PgSession(PGconn* conn) : m_conn(conn), m_pipeline(conn, m_lastError) {}
  ~PgSession() override { PQfinish(m_conn); }

  PGconn* conn() const { return m_conn; }
  PgPipeline& pipeline() { return m_pipeline; }

  Dialect dialect() const override { return Dialect::PostgreSQL; }

  int exec(const std::string& sql) override {
    if (m_pipeline.on()) return m_pipeline.exec(sql);
    PGresult* r = PQexec(m_conn, sql.c_str());
    int code = succeeded(r) ? 0 : describeFailure(m_conn, r, &m_lastError);
    PQclear(r);
    return code;
  }

  int commit() override {
    int code = 0;
    PGresult* r = nullptr;
    if (m_pipeline.on()) {
      r = m_pipeline.commit(&code);
      if (code != 0) return code;
    } else {
      r = PQexec(m_conn, "COMMIT");
      if (!succeeded(r)) code = describeFailure(m_conn, r, &m_lastError);
    }
    if (code == 0 && std::strcmp(PQcmdStatus(r), "ROLLBACK") == 0) {
      // The server answers COMMIT of an aborted transaction with ROLLBACK.
      m_lastError = "COMMIT was turned into ROLLBACK: a statement of the transaction had failed (SQLSTATE 25P02)";
      code = postgresErrorCode("25P02");
      if (m_pipeline.on()) m_pipeline.noteFailure(code, m_lastError);
    }
    PQclear(r);
    return code;
  }

  bool connectionLost() const override { return PQstatus(m_conn) == CONNECTION_BAD; }

  bool inTransaction() const override {
    PGTransactionStatusType st = PQtransactionStatus(m_conn);
    return st == PQTRANS_INTRANS || st == PQTRANS_INERROR || st == PQTRANS_ACTIVE;
  }

  std::unique_ptr<StatementBackend> prepare(const std::string& sql, int* rc) override {
    std::string name = "evd_s" + std::to_string(++m_counter);
    const int n = countParams(sql);
    PGresult* r;
    if (m_pipeline.on()) {
      r = m_pipeline.roundTrip([&] { return PQsendPrepare(m_conn, name.c_str(), sql.c_str(), n, nullptr); }, false, rc);
      if (r == nullptr) return nullptr;
    } else if (inOpenTransaction(m_conn)) {
      // A statement that does not parse must not abort the transaction either.
      r = runUnderSavepoint(
          m_conn, [&] { return PQsendPrepare(m_conn, name.c_str(), sql.c_str(), n, nullptr); }, rc, &m_lastError);
      if (r == nullptr) return nullptr;
    } else {
      r = PQprepare(m_conn, name.c_str(), sql.c_str(), n, nullptr);
      if (PQresultStatus(r) != PGRES_COMMAND_OK) {
        *rc = describeFailure(m_conn, r, &m_lastError);
        PQclear(r);
        return nullptr;
      }
    }
    PQclear(r);
    *rc = 0;
    return std::make_unique<PgStatement>(this, name, n, isDeferrableInsert(sql));
  }

  const std::string& lastError() const override { return m_lastError; }

  std::string describeError(int code) const override {
    const std::string state = postgresSqlState(code);
    return state.empty() ? "" : "PostgreSQL error (SQLSTATE " + state + ")";
  }

  bool hasTable(const std::string& name) override {
    static const char* const kSql =
        "SELECT 1 FROM pg_catalog.pg_tables WHERE schemaname = current_schema() AND tablename = lower($1)";
    const char* v[1] = {name.c_str()};
    PGresult* r;
    if (m_pipeline.on()) {
      int code = 0;
      r = m_pipeline.roundTrip([&] { return PQsendQueryParams(m_conn, kSql, 1, nullptr, v, nullptr, nullptr, 0); },
                              false, &code);
    } else {
      r = PQexecParams(m_conn, kSql, 1, nullptr, v, nullptr, nullptr, 0);
    }
    bool found = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0;
    PQclear(r);
    return found;
  }

  bool setPipelined(bool on) override {
    if (on == m_pipeline.on()) return on;
    if (on) return m_pipeline.begin();
    m_pipeline.end();
    return true;
  }

  int syncPipeline() override { return m_pipeline.sync(); }

  bool pipelineFailed() const override { return m_pipeline.failed(); }

  // Statements are dropped on the server as they are dropped here, so a
  // long-lived connection does not collect prepared plans.
  void deallocate(const std::string& name) {
    if (PQstatus(m_conn) != CONNECTION_OK) return;
    if (m_pipeline.on()) {
      m_pipeline.deallocate(name);
      return;
    }
    const std::string sql = "DEALLOCATE " + name;
    PQclear(PQexec(m_conn, sql.c_str()));
  }

  std::string& lastErrorRef() { return m_lastError; }

 private:
  PGconn* m_conn;
  std::string m_lastError;
  unsigned m_counter = 0;
  PgPipeline m_pipeline;
};

PgStatement::~PgStatement() {
  reset();
  m_session->deallocate(m_name);
}

int PgStatement::execute(const std::vector<Param>& params) {
  reset();
  std::vector<std::string> texts(m_nParams);
  std::vector<const char*> values(m_nParams, nullptr);
  for (int i = 0; i < m_nParams && i < static_cast<int>(params.size()); ++i) {
    const Param& p = params[i];
    switch (p.kind) {
      case Param::Null: continue;
      case Param::Int: texts[i] = std::to_string(p.i); break;
      case Param::Real: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", p.d);
        texts[i] = buf;
        break;
      }
      case Param::Text: texts[i] = p.s; break;
      case Param::DateTime: texts[i] = dateText(p.dt); break;
    }
    values[i] = texts[i].c_str();
  }
  PGconn* conn = m_session->conn();
  auto send = [&] { return PQsendQueryPrepared(conn, m_name.c_str(), m_nParams, values.data(), nullptr, nullptr, 0); };
  int code = 0;
  if (m_session->pipeline().on()) {
    if (m_deferrable) {
      code = m_session->pipeline().queue(send);
      if (code != 0) return code;
      m_changes = 1;  // the one row it asks for
      return 0;
    }
    m_res = m_session->pipeline().roundTrip(send, false, &code);
  } else if (inOpenTransaction(conn)) {
    m_res = runUnderSavepoint(conn, send, &code, &m_session->lastErrorRef());
  } else {
    m_res = PQexecPrepared(conn, m_name.c_str(), m_nParams, values.data(), nullptr, nullptr, 0);
    if (!succeeded(m_res)) code = describeFailure(conn, m_res, &m_session->lastErrorRef());
  }
  if (code != 0) {
    reset();
    return code;
  }
  return done();
}

void ignoreNotice(void*, const char*) {}

}  // namespace

std::unique_ptr<SessionBackend> openPostgres(const std::string& uri, std::string* error) {
  PGconn* conn = PQconnectdb(uri.c_str());
  if (conn == nullptr || PQstatus(conn) != CONNECTION_OK) {
    *error = "cannot connect to PostgreSQL '" + redactUri(uri) + "': " +
             firstLine(conn ? PQerrorMessage(conn) : "out of memory");
    if (conn) PQfinish(conn);
    return nullptr;
  }
  PQsetNoticeProcessor(conn, ignoreNotice, nullptr);
  auto session = std::make_unique<PgSession>(conn);
  if (session->exec("SET DateStyle = 'ISO, YMD'; SET client_min_messages = warning; "
                    "SET standard_conforming_strings = on") != 0) {
    *error = "cannot set up PostgreSQL session '" + redactUri(uri) + "': " + session->lastError();
    return nullptr;
  }
  return session;
}

}  // namespace Db::detail
