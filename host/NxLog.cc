#include "host/NxLog.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {
std::mutex g_sinkMutex;
std::function<void(const std::string&)> g_sink;
}  // namespace

void setLogErrorSink(std::function<void(const std::string&)> sink) {
  std::lock_guard<std::mutex> lk(g_sinkMutex);
  g_sink = std::move(sink);
}

void log_error(const char* file, int line, const char* format, ...) {
  char body[2048];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(body, sizeof body, format, ap);
  va_end(ap);
  char lineText[2400];
  std::snprintf(lineText, sizeof lineText, "%s(%d): %s", file ? file : "?", line, body);
  std::lock_guard<std::mutex> lk(g_sinkMutex);
  if (g_sink) g_sink(lineText);
  else std::fprintf(stderr, "%s\n", lineText);
}
