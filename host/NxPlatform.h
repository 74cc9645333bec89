// Platform objects of the host framework: the instance focus, the server's
// alert flags, configuration numbers, global parameters and client
// properties. All but NXPI_Focus read and write the settings of
// host/NxSettings.h. None throws.
#pragma once

#include <string>

// The instance name every platform object is focused on. One database
// serves one instance, so the focus names the instance in log lines and
// reports; it does not select other settings.
class NXPI_Focus {
 public:
  static constexpr const char* kDefaultFocus = "default";
  static std::string getFocus();
  static void setFocus(const std::string& name);
};

// The server's alert flags.
class NXPI_CentrixServer {
 public:
  void setFocus(const std::string& name) { m_focus = name; }
  const std::string& focus() const { return m_focus; }
  // 1 when the server blocks alerts, else 0 (also when the flag cannot be read).
  int getBlockAlerts() const;
  // 1 when alert tracing is on, else 0 (also when the flag cannot be read).
  int getTraceAlerts() const;

 private:
  std::string m_focus = NXPI_Focus::kDefaultFocus;
};

// Numeric configuration values.
class NXPlatformInfo {
 public:
  // Reads (SECTION, NAME) as an unsigned decimal or 0x-hexadecimal number
  // into *VALUE. 0 on success; otherwise *VALUE stays untouched: 100 when
  // the value is absent, EvdSetting::kBadValue when it is not such a number,
  // or the database error.
  static int getNumber(const char* section, const char* name, unsigned long* value);
};

// Global parameters of the server. The trailing pointer of each call is
// the host's context argument, passed as null.
class NXGlobalParam {
 public:
  // The last processed event-log message id; a marker never written reads
  // as 0 with result 0. On an error ID stays untouched.
  static int getNTAlertLastEventId(int& id, void* context);
  static int setNTAlertLastEventId(int id, void* context);
  // The web console address; 100 when none is configured (URL untouched).
  static int getWebConsoleURL(std::string& url, void* context);
};

// The properties of one client, read once when the object is made.
class ClientProperties {
 public:
  explicit ClientProperties(unsigned int clientId);
  // The settings section holding a client's properties ("Client/<id>").
  static std::string section(unsigned int clientId);

  // 0 and the UUID; 100 when the client has none (UUID untouched); the read
  // error otherwise.
  int getVMInstanceUUID(std::string& uuid, void* context) const;
  // 0 and the flag (non-zero for a personal workstation); 100 when not
  // recorded or kBadValue when not a number (FLAG untouched); the read error.
  int getPersonalWorkstation(int& flag, void* context) const;
  // Result of the read made by the constructor.
  int readResult() const { return m_readResult; }
  unsigned int clientId() const { return m_clientId; }

 private:
  unsigned int m_clientId;
  int m_readResult = 0;
  std::string m_uuid;
  std::string m_workstation;
  bool m_hasUuid = false;
  bool m_hasWorkstation = false;
};
