// The figures of an `evdetect run` as a file in the text exposition format
// that a node exporter's textfile collector reads (docs/metrics.md).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>

namespace evdetect {

struct RunFigures {
  long long read = 0;
  std::map<std::string, long long> kinds;  // events by kind name ("new", "unreadable", ...)
  long long failed = 0;                     // events the detector did not take: failed or invalid
  long long databaseErrors = 0;             // database operations that ended in an error
  long long line = 0;                       // the input's last line read
  long long offset = 0;                     // bytes of the input read
  double lastCommit = 0;                    // Unix time of the last committed event, 0 for none
};

// Seconds that calls ending in a commit took, in cumulative buckets.
class LatencyHistogram {
 public:
  static constexpr std::array<double, 12> kBounds = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                     0.1,   0.25,   0.5,   1,    2.5,   5};
  void observe(double seconds);
  // The histogram's lines under NAME.
  std::string render(const std::string& name) const;

 private:
  std::array<long long, kBounds.size()> m_buckets{};
  long long m_count = 0;
  double m_sum = 0;
};

// Rewrites one file whole: a temporary file in the same directory is
// written and renamed over it, so a reader never sees half a file.
class MetricsFile {
 public:
  explicit MetricsFile(std::string path) : m_path(std::move(path)) {}
  // Writes FIGURES now; "" on success, else what went wrong.
  std::string write(const RunFigures& figures, const LatencyHistogram& commits);
  // Writes when the last write is INTERVAL old; what write() answers, or "".
  std::string writeEvery(std::chrono::milliseconds interval, const RunFigures& figures,
                         const LatencyHistogram& commits);
  static std::string render(const RunFigures& figures, const LatencyHistogram& commits);

 private:
  std::string m_path;
  std::chrono::steady_clock::time_point m_written{};
};

}  // namespace evdetect
