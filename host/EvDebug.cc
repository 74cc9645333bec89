#include "host/EvDebug.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string_view>

#include "host/NxLog.h"
#include "host/NxSettings.h"

namespace {

std::atomic<EvDebug::AppLevelSource> g_levelSource{&Settings::appDebugLevel};

std::mutex& defaultDirMutex() {
  static std::mutex m;
  return m;
}
std::string& defaultDir() {
  static std::string d;
  return d;
}

// Which instance receives log_error lines; guarded so that an instance
// being destroyed never removes a route another instance has just taken.
std::mutex g_routeMutex;
EvDebugFileInstance* g_routeTarget = nullptr;

int clampLevel(int level) {
  if (level < 0) return 0;
  if (level > EvDebugFileInstance::kMaxLevel) return EvDebugFileInstance::kMaxLevel;
  return level;
}

std::string vformat(const char* format, va_list ap) {
  if (format == nullptr) return std::string();
  char small[1024];
  va_list again;
  va_copy(again, ap);
  const int n = std::vsnprintf(small, sizeof small, format, ap);
  std::string out;
  if (n < 0) {
    out = "(unformattable message)";
  } else if (static_cast<size_t>(n) < sizeof small) {
    out.assign(small, static_cast<size_t>(n));
  } else {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, again);
    out.resize(static_cast<size_t>(n));
  }
  va_end(again);
  return out;
}

// The header of every physical line: time, process, thread, severity, label.
std::string header(bool isError, int level, const char* function) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm parts{};
  localtime_r(&ts.tv_sec, &parts);
  char severity[16];
  if (isError) std::snprintf(severity, sizeof severity, "ERROR");
  else std::snprintf(severity, sizeof severity, "DEBUG%d", level);
  char head[128];
  std::snprintf(head, sizeof head, "%04d-%02d-%02d %02d:%02d:%02d.%03ld %ld %ld %s", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, ts.tv_nsec / 1000000L,
                static_cast<long>(getpid()), static_cast<long>(gettid()), severity);
  std::string h = head;
  if (function != nullptr && *function != '\0') {
    h += ' ';
    h += function;
    h += ':';
  }
  return h;
}

// One physical line per line of BODY, each with the full header; trailing
// line ends of the format are dropped rather than written as empty lines.
std::string formatLines(bool isError, int level, const char* function, const std::string& body) {
  const std::string head = header(isError, level, function);
  std::string_view text(body);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  std::string out;
  size_t start = 0;
  while (true) {
    const size_t nl = text.find('\n', start);
    std::string_view piece = text.substr(start, (nl == std::string_view::npos ? text.size() : nl) - start);
    if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
    out += head;
    if (!piece.empty()) {
      out += ' ';
      out += piece;
    }
    out += '\n';
    if (nl == std::string_view::npos) break;
    start = nl + 1;
  }
  return out;
}


void closeLog(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// evdetector.log -> evdetector.N.log (a name without extension: name.N).
std::string rotatedName(const std::string& path, size_t n) {
  const std::filesystem::path p(path);
  std::filesystem::path name = p.parent_path() / p.stem();
  return name.string() + "." + std::to_string(n) + p.extension().string();
}

// Moves PATH to the first rotated name, the older ones one up, and drops the
// one beyond KEPT (with none kept, the file itself).
void rotate(const std::string& path, size_t kept) {
  if (kept == 0) {
    ::unlink(path.c_str());
    return;
  }
  ::unlink(rotatedName(path, kept).c_str());
  for (size_t i = kept - 1; i >= 1; --i) ::rename(rotatedName(path, i).c_str(), rotatedName(path, i + 1).c_str());
  ::rename(path.c_str(), rotatedName(path, 1).c_str());
}

bool writeAll(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Appends TEXT to the log at PATH, which other processes may be writing and
// rotating at the same time. Checking the size, rotating and appending happen
// under an exclusive lock on the file itself; a writer that waited for the
// lock while another rotated finds the name now belongs to a new file, and
// starts over on that one. FD is the caller's open file, kept between lines.
bool appendShared(const std::string& path, int& fd, const std::string& text, size_t maxBytes, size_t kept,
                  std::string* why) {
  // A file that keeps changing under us (a misbehaving writer) ends the line
  // rather than the process.
  for (int attempt = 0; attempt < 64; ++attempt) {
    if (fd < 0) {
      // Only the file is ours to create, not a folder on a mistyped path.
      const std::filesystem::path parent = std::filesystem::path(path).parent_path();
      std::error_code ec;
      if (!parent.empty() && !std::filesystem::is_directory(parent, ec)) {
        *why = "no folder " + parent.string();
        return false;
      }
      fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
      if (fd < 0) {
        *why = std::strerror(errno);
        return false;
      }
    }
    while (::flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        *why = std::strerror(errno);
        closeLog(fd);
        return false;
      }
    }
    struct stat mine {}, named {};
    const bool current = ::fstat(fd, &mine) == 0 && ::stat(path.c_str(), &named) == 0 &&
                         mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
    if (!current) {  // rotated (or removed) by another writer
      closeLog(fd);
      continue;
    }
    const size_t size = static_cast<size_t>(mine.st_size);
    if (size > 0 && size + text.size() > maxBytes) {
      rotate(path, kept);
      closeLog(fd);
      continue;
    }
    const bool ok = writeAll(fd, text);
    if (!ok) *why = std::strerror(errno);
    ::flock(fd, LOCK_UN);
    return ok;
  }
  *why = "the file kept changing while being written";
  return false;
}

}  // namespace

// ---- EvDebugFileInstance ----

struct EvDebugFileInstance::Impl {
  mutable std::mutex m;
  std::string path;
  std::string fileName = kDefaultFileName;
  std::atomic<int> level{kDefaultLevel};
  std::atomic<bool> echo{false};
  std::atomic<int> moduleId{0};
  size_t maxBytes = kDefaultMaxBytes;
  size_t keptFiles = kDefaultKeptFiles;
  // The open log file (-1: none) and the path it was opened under.
  int fd = -1;
  pid_t fdOwner = 0;  // a forked child opens the file anew: a shared descriptor shares its lock
  std::string openedPath;
  std::string reportedPath;  // a file we could not open, reported once

  std::string resolvedLocked() const {
    if (!path.empty()) return path;
    std::string dir = EvDebugFileInstance::defaultDirectory();
    if (dir.empty()) return fileName;
    if (dir.back() != '/') dir += '/';
    return dir + fileName;
  }
};

EvDebugFileInstance::EvDebugFileInstance() : m_impl(new Impl) {}

EvDebugFileInstance::~EvDebugFileInstance() {
  {
    std::lock_guard<std::mutex> lk(g_routeMutex);
    if (g_routeTarget == this) {
      g_routeTarget = nullptr;
      setLogErrorSink(nullptr);
    }
  }
  closeLog(m_impl->fd);
  delete m_impl;
}

void EvDebugFileInstance::setPath(const std::string& path) {
  std::lock_guard<std::mutex> lk(m_impl->m);
  m_impl->path = path;
}

const std::string& EvDebugFileInstance::path() const { return m_impl->path; }

std::string EvDebugFileInstance::resolvedPath() const {
  std::lock_guard<std::mutex> lk(m_impl->m);
  return m_impl->resolvedLocked();
}

void EvDebugFileInstance::setFileName(const std::string& name) {
  std::lock_guard<std::mutex> lk(m_impl->m);
  m_impl->fileName = name.empty() ? std::string(kDefaultFileName) : name;
}

int EvDebugFileInstance::level() const { return m_impl->level.load(); }
void EvDebugFileInstance::setLevel(int level) { m_impl->level.store(clampLevel(level)); }
void EvDebugFileInstance::setEcho(bool echo) { m_impl->echo.store(echo); }
int EvDebugFileInstance::moduleId() const { return m_impl->moduleId.load(); }
void EvDebugFileInstance::setModuleId(int id) { m_impl->moduleId.store(id); }

void EvDebugFileInstance::setRotation(size_t maxBytes, size_t keptFiles) {
  std::lock_guard<std::mutex> lk(m_impl->m);
  m_impl->maxBytes = maxBytes > 0 ? maxBytes : kDefaultMaxBytes;
  m_impl->keptFiles = keptFiles;
}

bool EvDebugFileInstance::write(const std::string& line) {
  std::string text = line;
  if (text.empty() || text.back() != '\n') text += '\n';
  bool written = false;
  {
    std::lock_guard<std::mutex> lk(m_impl->m);
    const std::string target = m_impl->resolvedLocked();
    if (target == kStandardError) {
      // One write per line, so that lines of several threads never mix.
      return ::write(STDERR_FILENO, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }
    if (target != m_impl->openedPath || m_impl->fdOwner != ::getpid()) {
      closeLog(m_impl->fd);
      m_impl->openedPath = target;
      m_impl->fdOwner = ::getpid();
    }
    std::string why;
    written = appendShared(target, m_impl->fd, text, m_impl->maxBytes, m_impl->keptFiles, &why);
    if (written) {
      m_impl->reportedPath.clear();
    } else if (m_impl->reportedPath != target) {
      m_impl->reportedPath = target;
      std::fprintf(stderr, "evdetector: cannot open the alert log %s: %s\n", target.c_str(), why.c_str());
    }
  }
  if (m_impl->echo.load()) std::fputs(text.c_str(), stderr);
  return written;
}

void EvDebugFileInstance::routeLogErrors() {
  std::lock_guard<std::mutex> lk(g_routeMutex);
  g_routeTarget = this;
  setLogErrorSink([this](const std::string& text) {
    const std::string lines = formatLines(true, 0, "log_error", text);
    if (!write(lines)) std::fputs(lines.c_str(), stderr);
  });
}

void EvDebugFileInstance::setDefaultDirectory(const std::string& dir) {
  std::lock_guard<std::mutex> lk(defaultDirMutex());
  defaultDir() = dir;
}

std::string EvDebugFileInstance::defaultDirectory() {
  std::lock_guard<std::mutex> lk(defaultDirMutex());
  return defaultDir();
}

std::string EvDebugFileInstance::directoryForDatabase(const std::string& uri) {
  if (uri.rfind("postgresql://", 0) == 0 || uri.rfind("postgres://", 0) == 0) return "";
  std::string path = uri.rfind("sqlite:", 0) == 0 ? uri.substr(7) : uri;
  if (path.empty() || path == ":memory:") return "";
  try {
    return std::filesystem::path(path).parent_path().string();
  } catch (...) {
    return "";
  }
}

// ---- EvDebug ----

namespace {
thread_local EvDebug::ErrorTally t_errors;
}  // namespace

EvDebug::ErrorTally EvDebug::errorTally() { return t_errors; }

EvDebug::EvDebug(EvDebugFileInstance* instance) : m_instance(instance) {}
EvDebug::~EvDebug() = default;

void EvDebug::emit(bool isError, int level, const char* function, const char* format, va_list ap) {
  try {
    if (!isError && !enabled(level)) return;
    const std::string body = vformat(format, ap);
    if (isError) {
      t_errors.count++;
      t_errors.last = function ? std::string(function) + ": " + body : body;
    }
    const std::string lines = formatLines(isError, level, function, body);
    const bool written = m_instance != nullptr && m_instance->write(lines);
    // An error must be seen somewhere even when the log cannot take it.
    if (!written && isError) std::fputs(lines.c_str(), stderr);
  } catch (...) {
    // Logging never takes the caller down.
  }
}

void EvDebug::Error(const char* function, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  emit(true, 0, function, format, ap);
  va_end(ap);
}

void EvDebug::DebugLvl(const char* function, int level, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  emit(false, level, function, format, ap);
  va_end(ap);
}

void EvDebug::Debug(const char* function, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  emit(false, 1, function, format, ap);
  va_end(ap);
}

void EvDebug::debugLvl(int level, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  emit(false, level, nullptr, format, ap);
  va_end(ap);
}

void EvDebug::debug(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  emit(false, 1, nullptr, format, ap);
  va_end(ap);
}

void EvDebug::prefixedError(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  emit(true, 0, nullptr, format, ap);
  va_end(ap);
}

int EvDebug::getDebugLevel() const { return m_instance ? m_instance->level() : 0; }

void EvDebug::setDebugLevel(int level) {
  if (m_instance) m_instance->setLevel(level);
}

int EvDebug::getAppDebugLevel(const char* app) const {
  AppLevelSource source = g_levelSource.load();
  if (source == nullptr || app == nullptr) return getDebugLevel();
  int level = 0;
  int rc = -1;
  try {
    rc = source(app, &level);
  } catch (...) {
    rc = -1;
  }
  if (rc == 0) return level;
  if (rc == 100) return EvDebugFileInstance::kDefaultLevel;
  return getDebugLevel();
}

int EvDebug::initialize(int id, int, bool console, const char* name) {
  if (m_instance == nullptr) return -1;
  try {
    m_instance->setModuleId(id);
    m_instance->setEcho(console);
    if (name != nullptr && *name != '\0') m_instance->setFileName(name);
    m_instance->routeLogErrors();
  } catch (...) {
    return -1;
  }
  return 0;
}

bool EvDebug::enabled(int level) const { return m_instance != nullptr && level <= m_instance->level(); }

EvDebug::AppLevelSource EvDebug::setAppDebugLevelSource(AppLevelSource source) {
  return g_levelSource.exchange(source);
}
