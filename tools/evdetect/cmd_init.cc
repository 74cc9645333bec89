#include <CLI/CLI.hpp>
#include <cstdio>

#include "Db/Database.h"
#include "db/backend.h"
#include "db/session.h"
#include "db/uri.h"
#include "detector/alert_types.h"
#include "host/EvDebug.h"
#include "tools/evdetect/commands.h"

namespace evdetect {

int openDatabase(const std::string& db) {
  // The alert log goes beside an SQLite file; for a server database into the
  // working directory.
  EvDebugFileInstance::setDefaultDirectory(
      Db::uriKind(db) == Db::UriKind::PostgreSQL ? "" : EvDebugFileInstance::directoryForDatabase(db));
  Db::configure(db);
  std::string err;
  if (Db::openThreadConnection(&err) != 0) {
    error(err);
    return kExitDatabase;
  }
  return 0;
}

int eachRow(const std::string& sql, const std::function<void(const Db::detail::StatementBackend&)>& row,
            std::string* error) {
  int rc = 0;
  Db::detail::Session* s = Db::detail::Session::current(&rc, error);
  if (!s) return rc;
  std::unique_ptr<Db::detail::StatementBackend> st = s->backend().prepare(sql, &rc);
  if (st && (rc = st->execute({})) == 0) {
    while ((rc = st->fetch()) == 0) row(*st);
    if (rc == DB_NO_DATA) return 0;
  }
  *error = s->backend().lastError();
  return rc;
}

void addInit(CLI::App& app, std::vector<Command>& out) {
  CLI::App* sub = app.add_subcommand("init", "create the schema and seed the alert types (safe to run again)");
  out.push_back({sub, [](const std::string& db) {
                   std::string report, err;
                   if (Db::initSchema(db, &report, &err) != 0) {
                     error(err);
                     return kExitDatabase;
                   }
                   if (int rc = openDatabase(db)) return rc;
                   if (seedAlertTypes(&err) != 0) {
                     error("cannot seed alert types: " + err);
                     return kExitDatabase;
                   }
                   const std::string where = shown(Db::detail::redactUri(db));
                   if (report.empty()) {
                     std::printf("%s: schema is up to date, nothing created\n", where.c_str());
                   } else {
                     std::printf("%s: created tables\n%s", where.c_str(), report.c_str());
                   }
                   std::printf("%zu alert types known\n", knownAlertTypes().size());
                   return 0;
                 }});
}

}  // namespace evdetect
