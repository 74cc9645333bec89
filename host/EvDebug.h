// The host's alert log: a file of lines, each with time, process id, thread
// id and the function label. Error lines are always written; a debug line
// only when the configured level is at least its own level (1..10).
#pragma once

#include <string>

// The log file a writer appends to. Constructed once per process (the
// detector's `alertInstance`); EvDebug objects point at it.
class EvDebugFileInstance {
 public:
  EvDebugFileInstance();
  ~EvDebugFileInstance();
  EvDebugFileInstance(const EvDebugFileInstance&) = delete;
  EvDebugFileInstance& operator=(const EvDebugFileInstance&) = delete;

  // Where lines go; empty means the default file beside the database.
  void setPath(const std::string& path);
  const std::string& path() const;
  int level() const;
  void setLevel(int level);
  void write(const std::string& line);

 private:
  struct Impl;
  Impl* impl_;
};

class EvDebug {
 public:
  explicit EvDebug(EvDebugFileInstance* instance = nullptr);
  virtual ~EvDebug();

  void attach(EvDebugFileInstance* instance) { instance_ = instance; }
  EvDebugFileInstance* instance() const { return instance_; }

  void Error(const char* function, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void DebugLvl(const char* function, int level, const char* format, ...) __attribute__((format(printf, 4, 5)));
  // Forms whose format starts with a location prefix ("../file(line): -Debug-: ").
  void Debug(const char* function, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void debugLvl(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void debug(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void error(const char* format, ...) __attribute__((format(printf, 2, 3)));

  int getDebugLevel() const;
  void setDebugLevel(int level);
  // The configured level of an application's log ("Alerts"), from the settings.
  int getAppDebugLevel(const char* app) const;
  int initialize(int id, int flags, bool console, const char* name);
  // True when a line of LEVEL would be written.
  bool enabled(int level) const;

 private:
  EvDebugFileInstance* instance_;
};
