// The cost of reading event lines (parseEventLine) against the JSON library's
// own document parse of the same lines, measured in the same run:
//
//   Examples       every line of examples/events.jsonl, one after the other
//   BackupFailure  the failed-backup line of bench_events.h, the one a busy
//                  server sends most (lists, messages, a long description)
//
// ReadEvent is the reader, filling a record with every check made;
// JsonDocument only builds the library's document of the line, with no
// check and no record: what reading through that document would cost at
// least. Bytes per second and items (lines) per second are reported; the
// ratio JsonDocument time / ReadEvent time is printed at the end (above 1:
// the reader costs less than that document alone).
//
//   build/bench/event_json_bench --benchmark_min_time=0.5
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/bench_events.h"
#include "host/EvAlertEx.h"
#include "host/event_json.h"

namespace {

std::vector<std::string> exampleLines() {
  std::vector<std::string> lines;
  std::ifstream in(EVD_SOURCE_DIR "/examples/events.jsonl");
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

const std::map<std::string, std::vector<std::string>>& inputs() {
  static const std::map<std::string, std::vector<std::string>> all = {
      {"Examples", exampleLines()},
      {"BackupFailure", {evd::bench::kBackupFailure}},
  };
  return all;
}

void setCounters(benchmark::State& state, const std::vector<std::string>& lines) {
  size_t bytes = 0;
  for (const std::string& l : lines) bytes += l.size();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * lines.size()));
}

void ReadEvent(benchmark::State& state, const std::string& name) {
  const std::vector<std::string>& lines = inputs().at(name);
  if (lines.empty()) return state.SkipWithError("no lines to read");
  EvAlertEx ev;
  EventReadError err;
  for (auto _ : state) {
    for (const std::string& l : lines)
      if (!parseEventLine(l, ev, err)) return state.SkipWithError(err.message.c_str());
    benchmark::DoNotOptimize(ev);
  }
  setCounters(state, lines);
}

void JsonDocument(benchmark::State& state, const std::string& name) {
  const std::vector<std::string>& lines = inputs().at(name);
  if (lines.empty()) return state.SkipWithError("no lines to read");
  for (auto _ : state)
    for (const std::string& l : lines) {
      nlohmann::ordered_json doc = nlohmann::ordered_json::parse(l);
      benchmark::DoNotOptimize(doc);
    }
  setCounters(state, lines);
}

// Prints the runs as usual and keeps each one's CPU time per iteration (the
// machine may be shared: wall time counts the other programs' turns too).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (!r.error_occurred) m_time[r.benchmark_name()] = r.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const auto& [name, lines] : inputs()) {
      const auto reader = m_time.find("ReadEvent/" + name), document = m_time.find("JsonDocument/" + name);
      if (reader == m_time.end() || document == m_time.end() || reader->second <= 0) continue;
      std::printf("%-14s library document / reader: %.2f\n", name.c_str(), document->second / reader->second);
    }
  }

 private:
  std::map<std::string, double> m_time;
};

}  // namespace

int main(int argc, char** argv) {
  for (const auto& [name, lines] : inputs()) {
    benchmark::RegisterBenchmark(("ReadEvent/" + name).c_str(), ReadEvent, name);
    benchmark::RegisterBenchmark(("JsonDocument/" + name).c_str(), JsonDocument, name);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
