// evdetect history: fills the database with a generated history of
// occurrences, for measuring what an event costs on a server that has run
// for months (tools/history/history.h tells what is generated).
#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Db/DbTypes.h"
#include "db/uri.h"
#include "tools/evdetect/commands.h"
#include "tools/history/history.h"

namespace evdetect {
namespace {

int history(const std::string& db, const evd::history::Options& o) {
  // Refuses a missing database or one without the schema, as every command but init does.
  if (int rc = openDatabase(db)) return rc;
  const auto start = std::chrono::steady_clock::now();
  evd::history::Result r;
  std::string err;
  const int rc = evd::history::generate(db, o, &r, &err);
  if (rc != 0) {
    error("history: " + err);
    return rc == DB_ERR_USAGE ? kExitUsage : kExitDatabase;
  }
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s: %lld occurrences (%lld pending), %lld detail rows, %lld parameters, event ids %lld..%lld, "
              "%.1f s\n",
              shown(Db::detail::redactUri(db)).c_str(), r.occurrences, r.pending, r.details, r.params, r.firstEventId,
              r.lastEventId, secs);
  return 0;
}

}  // namespace

void addHistory(CLI::App& app, std::vector<Command>& out) {
  CLI::App* sub = app.add_subcommand("history", "add a generated history of occurrences (for benchmarks)");
  auto o = std::make_shared<evd::history::Options>();
  sub->add_option("--occurrences", o->occurrences, "occurrences to add")->required()->check(CLI::NonNegativeNumber);
  sub->add_option("--pending-share", o->pendingShare, "share of them left pending")
      ->check(CLI::Range(0.0, 1.0))
      ->capture_default_str();
  std::string known;
  for (int t : evd::history::knownTypes()) known += (known.empty() ? "" : ",") + std::to_string(t);
  sub->add_option("--types", o->types, "alert types to draw from (default: " + known + ")")->delimiter(',');
  sub->add_option("--chunk", o->chunk, "occurrences per transaction")->check(CLI::PositiveNumber)->capture_default_str();
  sub->footer("Adds rows only; objects have ids from 1000000 up. Exit status: 0 done; 2 bad options or an alert "
              "type it cannot generate; 3 the database cannot be used (a failed chunk adds nothing; the chunks before it stay).");
  out.push_back({sub, [o](const std::string& db) { return history(db, *o); }});
}

}  // namespace evdetect
