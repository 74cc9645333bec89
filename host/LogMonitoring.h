// The log-monitoring subsystem of the host. The detector registers it before
// it records a log-monitoring match; the host stands in for the subsystem,
// so registering only notes, once per process, that it happened.
#pragma once

class LogMonitoring {
 public:
  // Safe to call from any thread and any number of times; only the first
  // call of a process registers (and writes a debug line).
  static void RegisterSubsystem();

  // How often RegisterSubsystem was called in this process.
  static long long registerCalls();
  static bool isRegistered();
};
