#include "tools/history/history.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Db/DbTypes.h"
#include "db/backend.h"

namespace evd::history {
namespace {

using Db::detail::Dialect;
using Db::detail::SessionBackend;

// Where the detail of an occurrence lives, as the handlers of its family write it.
enum Family { kJob = 1, kConfig = 2, kLibrary = 3 };
// The suppression object an occurrence carries, as GetSupressionObjTypeId
// names it for the kind's criteria.
enum Form { kNone = 0, kClientNSubClient, kCriteriaClient, kClient, kLibraryObj, kCopy, kUser };

struct Kind {
  int alertType, criteria;
  Family family;
  Form form;
  int weight;  // share of the history, out of the sum of the chosen kinds
};

// A server's mix: job failures dominate, then configuration and media alerts.
constexpr Kind kKinds[] = {
    {3, 1, kJob, kNone, 6},  {3, 65, kJob, kClientNSubClient, 2}, {1, 3, kJob, kNone, 1},
    {2, 3, kJob, kNone, 1},  {4, 3, kJob, kNone, 1},              {6, 3, kJob, kNone, 1},
    {23, 3, kJob, kNone, 1}, {10, 77, kConfig, kCriteriaClient, 2}, {10, 43, kConfig, kClient, 1},
    {12, 43, kConfig, kClient, 1}, {13, 2, kConfig, kNone, 1},    {59, 43, kConfig, kClient, 1},
    {60, 43, kConfig, kClient, 1}, {7, 20, kLibrary, kLibraryObj, 1}, {8, 20, kLibrary, kLibraryObj, 1},
    {14, 56, kLibrary, kCopy, 1},  {70, 80, kConfig, kUser, 1},
};

// Spread of occurrence times: the history ends now and reaches this far back.
constexpr long long kSpanSeconds = 90LL * 86400;

struct Chosen {
  Kind kind;
  int lo, hi;  // the residues of k modulo the total weight that fall to this kind
  int category, rule;
};

class Generator {
 public:
  Generator(SessionBackend& db, std::vector<Chosen> kinds, long long ppm)
      : m_db(db), m_kinds(std::move(kinds)), m_ppm(ppm), m_pg(db.dialect() == Dialect::PostgreSQL) {
    for (const Chosen& c : m_kinds) m_total = std::max(m_total, c.hi);
  }

  // One chunk: occurrences K0 .. K1-1 of a numbering that ends at END; NOW
  // is the time of the newest.
  int chunk(long long k0, long long k1, long long end, long long now, Result& r, std::string& error) {
    int rc = m_db.exec(m_pg ? "BEGIN; LOCK TABLE NTDetectedAlerts IN SHARE ROW EXCLUSIVE MODE" : "BEGIN IMMEDIATE");
    if (rc != 0) return fail(rc, "begin", error);
    const long long n = k1 - k0;
    rc = m_db.exec(with(series(k0, k1)) +
                  "INSERT INTO NTDetectedAlerts (criteria, alertType, category, status, processStat, occurTime, "
                  "processTime, ntNotificationId, entityId) SELECT criteria, alertType, category, 0, " +
                  processStat() + ", " + at(end, now, 0) + ", " + at(end, now, 60) +
                  ", rule, " + entity() + " FROM rows ORDER BY k");
    if (rc != 0) return rollback(rc, "NTDetectedAlerts", error);
    long long last = 0, count = 0;
    if ((rc = scalar("SELECT COALESCE(MAX(eventId), 0) FROM NTDetectedAlerts", last)) != 0)
      return rollback(rc, "NTDetectedAlerts", error);
    const long long before = last - n;
    if ((rc = scalar("SELECT COUNT(*) FROM NTDetectedAlerts WHERE eventId > " + std::to_string(before), count)) != 0)
      return rollback(rc, "NTDetectedAlerts", error);
    // The detail rows find their occurrence by position in the id range:
    // that needs the ids of this chunk to be one unbroken run.
    if (count != n) {
      error = "the new event ids are not consecutive (" + std::to_string(count) + " rows after " +
              std::to_string(before) + " for " + std::to_string(n) + " inserted)";
      m_db.exec("ROLLBACK");
      return DB_ERR_USAGE;
    }
    const std::string ours = with("SELECT eventId, CAST(eventId AS BIGINT) - " + std::to_string(before + 1 - k0) +
                                  " AS k FROM NTDetectedAlerts WHERE eventId > " + std::to_string(before));
    const std::string t0 = at(end, now, -3600), t1 = at(end, now, 0);
    const std::string detail[] = {
        ours + "INSERT INTO NTDdpDr (eventId, jobId_h, jobId_l, startTime, endTime, schedTime, clientId, appTypeId, "
               "instanceId, backupSetId, subClientId, protectedCount, failedCount, backupLevel, taskId, "
               "schedPolicyId) SELECT eventId, 0, 5000000 + k, " + t0 + ", " + t1 + ", " + t0 + ", " + client() +
               ", 33, 1, 40, " + subClient() + ", 10000 + k % 9000, k % 50, 1 + k % 2, 55, 9 FROM rows WHERE family = 1",
        ours + "INSERT INTO NTDclntAgentMAConfig (eventId, clientId, appTypeId, instanceId, subClientId, mediaAgentId, "
               "comment, freeSpace, threshold) SELECT eventId, " + client() + ", 33, 1, " + subClient() +
               ", 7, 'Configuration changed', 100 + k % 900, 1024 FROM rows WHERE family = 2",
        ours + "INSERT INTO NTDlibraryMang (eventId, startTime, endTime, libraryId, copyId, mediaAgentId, driveId, "
               "threshold) SELECT eventId, " + t0 + ", " + t1 + ", " + object() + ", " + object() +
               ", 7, 11, 10 FROM rows WHERE family = 3",
    };
    for (const std::string& sql : detail)
      if ((rc = m_db.exec(sql)) != 0) return rollback(rc, "detail rows", error);
    const std::string created = std::to_string(now);
    const std::string params[] = {
        ours + "INSERT INTO NTDparams (eventId, type, value, created) SELECT eventId, 1, "
               "'Generated occurrence ' || k || ' of alert type ' || alertType, " + created + " FROM rows",
        ours + "INSERT INTO NTDparams (eventId, type, value, created) SELECT eventId, 37, 'client' || " + client() +
               ", " + created + " FROM rows",
        // What EnableSupression stores beside the entity id.
        ours + "INSERT INTO NTDparams (eventId, type, value, created) SELECT eventId, 26, " + objectType() + ", " +
               created + " FROM rows WHERE form <> 0",
        ours + "INSERT INTO NTDparams (eventId, type, value, created) SELECT eventId, 27, " + objectId() + ", " +
               created + " FROM rows WHERE form <> 0",
    };
    for (const std::string& sql : params)
      if ((rc = m_db.exec(sql)) != 0) return rollback(rc, "NTDparams", error);
    long long pending = 0, details = 0, paramRows = 0;
    const std::string range = " WHERE eventId > " + std::to_string(before);
    if ((rc = scalar("SELECT COUNT(*) FROM NTDetectedAlerts" + range + " AND (processStat & 67) <> 0", pending)) ||
        (rc = scalar("SELECT (SELECT COUNT(*) FROM NTDdpDr" + range + ") + (SELECT COUNT(*) FROM NTDclntAgentMAConfig" +
                         range + ") + (SELECT COUNT(*) FROM NTDlibraryMang" + range + ")",
                     details)) ||
        (rc = scalar("SELECT COUNT(*) FROM NTDparams" + range, paramRows)))
      return rollback(rc, "counting", error);
    if ((rc = m_db.commit()) != 0) return fail(rc, "commit", error);
    if (r.firstEventId == 0) r.firstEventId = before + 1;
    r.lastEventId = last;
    r.occurrences += n;
    r.pending += pending;
    r.details += details;
    r.params += paramRows;
    return 0;
  }

 private:
  // The chosen kinds, the numbering, and each number's kind and object index:
  // OBJ counts the occurrences of one kind, so every occurrence of a kind has
  // an object of its own and no two pending ones share an entity id.
  std::string with(const std::string& numbered) const {
    std::string values;
    for (const Chosen& c : m_kinds) {
      if (!values.empty()) values += ", ";
      values += "(" + std::to_string(c.kind.alertType) + ", " + std::to_string(c.kind.criteria) + ", " +
                std::to_string(c.kind.family) + ", " + std::to_string(c.kind.form) + ", " + std::to_string(c.lo) +
                ", " + std::to_string(c.hi) + ", " + std::to_string(c.category) + ", " + std::to_string(c.rule) + ")";
    }
    const std::string w = std::to_string(m_total);
    return std::string(m_pg ? "WITH " : "WITH RECURSIVE ") + "kinds(alertType, criteria, family, form, lo, hi, category, " +
           "rule) AS (VALUES " + values + "), numbered AS (" + numbered + "), rows AS (SELECT numbered.*, kinds.*, " +
           "(k / " + w + ") * (hi - lo) + (k % " + w + " - lo) AS obj FROM numbered JOIN kinds ON k % " + w +
           " >= lo AND k % " + w + " < hi) ";
  }
  std::string series(long long k0, long long k1) const {
    const std::string a = std::to_string(k0), b = std::to_string(k1 - 1);
    if (m_pg) return "SELECT k FROM generate_series(" + a + "::bigint, " + b + "::bigint) AS k";
    return "SELECT " + a + " AS k UNION ALL SELECT k + 1 FROM numbered WHERE k < " + b;
  }
  // Pending iff the running count of pending occurrences of the kind (its
  // object index times the share, rounded down) steps there: the share holds
  // for every kind over any run of its occurrences, to one.
  std::string processStat() const {
    const std::string p = std::to_string(m_ppm);
    return "CASE WHEN (obj + 1) * " + p + " / 1000000 > obj * " + p +
           " / 1000000 THEN (CASE WHEN k % 20 = 0 THEN 64 ELSE 1 END) ELSE (CASE WHEN k % 10 = 0 THEN 128 ELSE 4 END) "
           "END";
  }
  std::string at(long long end, long long now, int offset) const {
    const std::string secs = "(" + std::to_string(now + offset) + " - (" + std::to_string(end) + " - k) * " +
                             std::to_string(kSpanSeconds) + " / " + std::to_string(std::max(end, 1LL)) + ")";
    if (m_pg) return "to_timestamp(" + secs + ")::timestamp(3)";
    return "strftime('%Y-%m-%d %H:%M:%S.000', " + secs + ", 'unixepoch', 'localtime')";
  }
  std::string object() const { return "(" + std::to_string(kObjectBase) + " + obj)"; }
  std::string client() const {
    return "(CASE WHEN form = " + std::to_string(kClientNSubClient) + " THEN " + std::to_string(kObjectBase) +
           " + obj / 8 ELSE " + object() + " END)";
  }
  std::string subClient() const { return "(" + std::to_string(kObjectBase) + " * 10 + obj)"; }
  std::string objectType() const {
    return "(CASE form WHEN " + std::to_string(kClientNSubClient) + " THEN 'ClientNSubClient' WHEN " +
           std::to_string(kCriteriaClient) + " THEN 'Criteria|' || " + object() + " WHEN " + std::to_string(kClient) +
           " THEN 'Client' WHEN " + std::to_string(kLibraryObj) + " THEN 'Library' WHEN " + std::to_string(kCopy) +
           " THEN 'Copy' WHEN " + std::to_string(kUser) + " THEN 'User' ELSE '' END)";
  }
  std::string objectId() const {
    return "(CASE form WHEN " + std::to_string(kClientNSubClient) + " THEN " + client() + " * 4294967296 + " +
           subClient() + " WHEN " + std::to_string(kCriteriaClient) + " THEN criteria ELSE " + object() + " END)";
  }
  std::string entity() const {
    return "(CASE WHEN form = 0 THEN '' ELSE " + objectType() + " || '|' || " + objectId() + " END)";
  }

  int scalar(const std::string& sql, long long& out) {
    int rc = 0;
    std::unique_ptr<Db::detail::StatementBackend> st = m_db.prepare(sql, &rc);
    if (!st) return rc ? rc : DB_ERR_USAGE;
    if ((rc = st->execute({})) != 0) return rc;
    if ((rc = st->fetch()) != 0) return rc;
    out = st->getInt(0);
    st->reset();
    return 0;
  }
  int fail(int rc, const std::string& what, std::string& error) {
    error = what + ": " + m_db.lastError();
    return rc;
  }
  int rollback(int rc, const std::string& what, std::string& error) {
    fail(rc, what, error);
    m_db.exec("ROLLBACK");
    return rc;
  }

  SessionBackend& m_db;
  std::vector<Chosen> m_kinds;
  long long m_ppm;
  bool m_pg;
  int m_total = 0;
};

}  // namespace

std::vector<int> knownTypes() {
  std::set<int> s;
  for (const Kind& k : kKinds) s.insert(k.alertType);
  return {s.begin(), s.end()};
}

int generate(const std::string& uri, const Options& options, Result* result, std::string* error) {
  Result r;
  std::string err;
  if (options.occurrences < 0 || !(options.pendingShare >= 0 && options.pendingShare <= 1) || options.chunk < 1) {
    if (error) *error = "occurrences must not be negative, the pending share must lie in 0..1";
    return DB_ERR_USAGE;
  }
  const std::vector<int> known = knownTypes();
  for (int t : options.types)
    if (std::find(known.begin(), known.end(), t) == known.end()) {
      if (error) *error = "alert type " + std::to_string(t) + " cannot be generated";
      return DB_ERR_USAGE;
    }
  std::unique_ptr<SessionBackend> db = Db::detail::openBackend(uri, &err, false);
  if (!db) {
    if (error) *error = err;
    return DB_ERR_CONNECT;
  }
  if (!db->hasTable("NTDetectedAlerts")) {
    if (error) *error = "the database has no schema: run evdetect init";
    return DB_ERR_NO_SCHEMA;
  }

  // The category and first enabled rule of each type, as the detector would
  // find them for a real event of that type.
  std::vector<Chosen> chosen;
  int lo = 0;
  for (const Kind& k : kKinds) {
    if (!options.types.empty() &&
        std::find(options.types.begin(), options.types.end(), k.alertType) == options.types.end())
      continue;
    Chosen c{k, lo, lo + k.weight, 0, 0};
    lo += k.weight;
    for (auto [sql, out] : {std::pair<std::string, int*>{"SELECT COALESCE(MAX(categoryID), 0) FROM NTAlertType "
                                                         "WHERE id = " + std::to_string(k.alertType), &c.category},
                            {"SELECT COALESCE(MIN(id), 0) FROM NTnotificationRule WHERE alertTypeId = " +
                                 std::to_string(k.alertType) + " AND (status & 3) = 0", &c.rule}}) {
      int rc = 0;
      auto st = db->prepare(sql, &rc);
      if (!st || st->execute({}) != 0 || st->fetch() != 0) {
        if (error) *error = db->lastError();
        return rc ? rc : DB_ERR_USAGE;
      }
      *out = static_cast<int>(st->getInt(0));
    }
    chosen.push_back(c);
  }

  // The numbering continues after the rows already there, so a second
  // history on the same database gets objects of its own.
  long long k0 = 0;
  {
    int rc = 0;
    auto st = db->prepare("SELECT COALESCE(MAX(eventId), 0) FROM NTDetectedAlerts", &rc);
    if (!st || st->execute({}) != 0 || st->fetch() != 0) {
      if (error) *error = db->lastError();
      return rc ? rc : DB_ERR_USAGE;
    }
    k0 = st->getInt(0);
  }
  const long long end = k0 + options.occurrences;
  const long long ppm = std::llround(options.pendingShare * 1000000);
  const long long now = static_cast<long long>(std::time(nullptr));
  Generator g(*db, chosen, ppm);
  for (long long k = k0; k < end; k += options.chunk) {
    const int rc = g.chunk(k, std::min(end, k + options.chunk), end, now, r, err);
    if (rc != 0) {
      if (error) *error = err;
      if (result) *result = r;
      return rc;
    }
  }
  if (result) *result = r;
  return 0;
}

}  // namespace evd::history
