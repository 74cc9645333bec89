#include "tools/evdetect/run_metrics.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace evdetect {
namespace {

// The kinds that are always present, so that a rate over a kind that has
// not happened yet is 0 rather than missing.
constexpr const char* kKinds[] = {"new",     "repeat", "cleared", "unchanged", "no-rule",
                                  "blocked", "invalid", "failed", "unreadable"};

std::string number(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

void metric(std::string& out, const char* name, const char* type, const char* help) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

}  // namespace

void LatencyHistogram::observe(double seconds) {
  for (size_t i = 0; i < kBounds.size(); ++i)
    if (seconds <= kBounds[i]) ++m_buckets[i];
  ++m_count;
  m_sum += seconds;
}

std::string LatencyHistogram::render(const std::string& name) const {
  std::string out;
  for (size_t i = 0; i < kBounds.size(); ++i)
    out += name + "_bucket{le=\"" + number(kBounds[i]) + "\"} " + std::to_string(m_buckets[i]) + "\n";
  out += name + "_bucket{le=\"+Inf\"} " + std::to_string(m_count) + "\n";
  out += name + "_sum " + number(m_sum) + "\n";
  out += name + "_count " + std::to_string(m_count) + "\n";
  return out;
}

std::string MetricsFile::render(const RunFigures& f, const LatencyHistogram& commits) {
  std::string out;
  metric(out, "evdetect_events_read_total", "counter", "Input lines read that hold an event (blank lines are not).");
  out += "evdetect_events_read_total " + std::to_string(f.read) + "\n";
  metric(out, "evdetect_events_total", "counter", "Events by what became of them.");
  std::map<std::string, long long> kinds = f.kinds;
  for (const char* k : kKinds) kinds.emplace(k, 0);
  for (const auto& [kind, n] : kinds)
    out += "evdetect_events_total{kind=\"" + kind + "\"} " + std::to_string(n) + "\n";
  metric(out, "evdetect_events_failed_total", "counter", "Events the detector did not take: failed or invalid.");
  out += "evdetect_events_failed_total " + std::to_string(f.failed) + "\n";
  metric(out, "evdetect_database_errors_total", "counter", "Database operations that ended in an error.");
  out += "evdetect_database_errors_total " + std::to_string(f.databaseErrors) + "\n";
  metric(out, "evdetect_commit_seconds", "histogram", "Seconds an event, or a group of events, took to commit.");
  out += commits.render("evdetect_commit_seconds");
  metric(out, "evdetect_input_line", "gauge", "Number of the last input line read.");
  out += "evdetect_input_line " + std::to_string(f.line) + "\n";
  metric(out, "evdetect_input_offset_bytes", "gauge", "Bytes of the input read.");
  out += "evdetect_input_offset_bytes " + std::to_string(f.offset) + "\n";
  metric(out, "evdetect_last_commit_timestamp_seconds", "gauge",
         "Unix time of the last committed event; 0 before the first.");
  out += "evdetect_last_commit_timestamp_seconds " + number(f.lastCommit) + "\n";
  return out;
}

std::string MetricsFile::write(const RunFigures& figures, const LatencyHistogram& commits) {
  m_written = std::chrono::steady_clock::now();
  const std::filesystem::path target(m_path);
  const std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  // A name the collector skips (it reads *.prom only) while it is written.
  std::string temp = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return "cannot write metrics to '" + m_path + "': " + std::strerror(errno);
  const std::string text = render(figures, commits);
  size_t done = 0;
  int err = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  // mkstemp makes the file private; a collector may run as another user.
  if (err == 0 && ::fchmod(fd, 0644) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(temp.c_str(), m_path.c_str()) != 0) err = errno;
  if (err == 0) return "";
  ::unlink(temp.c_str());
  return "cannot write metrics to '" + m_path + "': " + std::strerror(err);
}

std::string MetricsFile::writeEvery(std::chrono::milliseconds interval, const RunFigures& figures,
                                    const LatencyHistogram& commits) {
  if (std::chrono::steady_clock::now() - m_written < interval) return "";
  return write(figures, commits);
}

}  // namespace evdetect
