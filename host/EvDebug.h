// The host's alert log: a file of lines, each with time, process id, thread
// id and the function label. Error lines are always written; a debug line
// only when the configured level is at least its own level (1..10).
//
// Line layout (one physical line per line of the message):
//   2024-05-01 10:17:03.123 4711 4713 DEBUG3 EvNDetector::StoreNotiData: text
//   2024-05-01 10:17:03.125 4711 4713 ERROR EvNDetector::StoreNotiData: text
// local time with milliseconds, process id, kernel thread id, severity
// (ERROR, or DEBUG followed by the line's level), the label and the text.
// A message of several lines is written as several such lines in one append,
// so every line can be found by its fields and no other writer splits them.
//
// The file is bounded: once a line would take it past the size limit
// (kDefaultMaxBytes unless setRotation says otherwise) it is renamed with a
// number before its extension (evdetector.log -> evdetector.1.log, the
// older ones moving up to .2, .3 ...), the oldest beyond the kept count is
// deleted, and a new file is begun. Several processes may share the file:
// each checks the size, rotates and appends under a lock on the file, so the
// bound holds for all of them together and no line is lost.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

// The log file a writer appends to. Constructed once per process (the
// detector's `alertInstance`); EvDebug objects point at it.
class EvDebugFileInstance {
 public:
  static constexpr const char* kDefaultFileName = "evdetector.log";
  // Level of a new instance and of an application whose level is not configured.
  static constexpr int kDefaultLevel = 1;
  static constexpr int kMaxLevel = 10;
  // Size at which the log is rotated, and how many rotated files are kept.
  static constexpr size_t kDefaultMaxBytes = 10 * 1024 * 1024;
  static constexpr size_t kDefaultKeptFiles = 5;

  EvDebugFileInstance();
  ~EvDebugFileInstance();
  EvDebugFileInstance(const EvDebugFileInstance&) = delete;
  EvDebugFileInstance& operator=(const EvDebugFileInstance&) = delete;

  // Where lines go; empty means the default file beside the database, "-"
  // standard error (for a service whose output goes to a journal).
  static constexpr const char* kStandardError = "-";
  void setPath(const std::string& path);
  const std::string& path() const;
  // The file the next line goes to: path() when set, else the default
  // directory joined with the file name.
  std::string resolvedPath() const;
  // The file name used under the default directory (kDefaultFileName unless
  // initialize() named another).
  void setFileName(const std::string& name);

  int level() const;
  // Clamped to 0..kMaxLevel; 0 leaves only error lines.
  void setLevel(int level);
  // Rotates at MAX_BYTES, keeping KEPT_FILES older files (0: none).
  void setRotation(size_t maxBytes, size_t keptFiles);
  // Appends LINE (a newline is added when missing). Safe from any thread.
  // False when the file could not be opened or written.
  bool write(const std::string& line);
  // Also copy every line to standard error.
  void setEcho(bool echo);
  int moduleId() const;
  void setModuleId(int id);

  // Makes log_error lines of the whole process land in this file as error
  // lines, until another instance takes them or this one is destroyed.
  void routeLogErrors();

  // The directory of every instance without a path of its own. Empty (the
  // initial value) means the current directory. The host sets it from the
  // database location at start-up.
  static void setDefaultDirectory(const std::string& dir);
  static std::string defaultDirectory();
  // The directory holding a database URI's file: the folder of PATH for
  // "sqlite:PATH" or a plain PATH, "" (current directory) for a PostgreSQL
  // URI, an in-memory database or an empty URI.
  static std::string directoryForDatabase(const std::string& uri);

 private:
  struct Impl;
  Impl* m_impl;
};

class EvDebug {
 public:
  // Where getAppDebugLevel() finds an application's configured level: 0 and
  // *level set when configured, 100 when not configured, anything else when
  // it cannot be read.
  using AppLevelSource = int (*)(const char* app, int* level);

  explicit EvDebug(EvDebugFileInstance* instance = nullptr);
  virtual ~EvDebug();
  EvDebug(const EvDebug&) = delete;
  EvDebug& operator=(const EvDebug&) = delete;

  void attach(EvDebugFileInstance* instance) { m_instance = instance; }
  EvDebugFileInstance* instance() const { return m_instance; }

  // Without an attached instance, error lines go to standard error and
  // debug lines are dropped.
  void Error(const char* function, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void DebugLvl(const char* function, int level, const char* format, ...) __attribute__((format(printf, 4, 5)));
  // Forms whose format starts with a location prefix ("../file(line): -Debug-: ").
  // Debug and debug write at level 1.
  void Debug(const char* function, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void debugLvl(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void debug(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // An error line whose format carries its own location prefix
  // ("../file(line): -Error-: "), where Error takes the function's name.
  void prefixedError(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // The attached instance's level; 0 without one.
  int getDebugLevel() const;
  void setDebugLevel(int level);
  // The configured level of an application's log ("Alerts"), from the
  // installed source: kDefaultLevel when it is not configured, the current
  // level when it cannot be read or no source is installed.
  int getAppDebugLevel(const char* app) const;
  // Prepares the attached instance: records the module id, echoes to
  // standard error when CONSOLE is set, takes NAME (when not empty) as the
  // file name under the default directory, and routes log_error into it.
  // 0 on success, -1 without an instance.
  int initialize(int id, int flags, bool console, const char* name);
  // True when a line of LEVEL would be written.
  bool enabled(int level) const;

  // Error lines written on this thread, and the latest one ("label: text"),
  // so that a caller can tell what went wrong within its own call without
  // reading the log back.
  struct ErrorTally {
    unsigned long long count = 0;
    std::string last;
  };
  static ErrorTally errorTally();

  // Installs the source of configured levels (Settings::appDebugLevel until
  // one is installed); returns the previous one.
  static AppLevelSource setAppDebugLevelSource(AppLevelSource source);

 private:
  void emit(bool isError, int level, const char* function, const char* format, va_list ap)
      __attribute__((format(printf, 5, 0)));

  EvDebugFileInstance* m_instance;
};
