#include "host/NxLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {
std::mutex g_sinkMutex;
std::function<void(const std::string&)> g_sink;

// Build paths say nothing the file name does not; keep lines short.
const char* baseName(const char* file) {
  if (file == nullptr) return "?";
  const char* slash = std::strrchr(file, '/');
  return slash ? slash + 1 : file;
}
}  // namespace

void setLogErrorSink(std::function<void(const std::string&)> sink) {
  std::lock_guard<std::mutex> lk(g_sinkMutex);
  g_sink = std::move(sink);
}

void log_error(const char* file, int line, const char* format, ...) {
  char body[2048] = {};
  if (format != nullptr) {
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(body, sizeof body, format, ap);
    va_end(ap);
  }
  char lineText[2400];
  std::snprintf(lineText, sizeof lineText, "%s(%d): %s", baseName(file), line, body);
  try {
    // The sink runs under the lock so that an instance being destroyed
    // (which clears the sink) never has a line in flight.
    std::lock_guard<std::mutex> lk(g_sinkMutex);
    if (g_sink) {
      g_sink(lineText);
      return;
    }
  } catch (...) {
    // Fall through to standard error.
  }
  std::fprintf(stderr, "%s\n", lineText);
}
