// Links from a notification to the object it concerns in the admin console.
//
// A notification is HTML and the names in it come from clients, policies
// and events that anyone with a console login can name, so nothing taken
// from a name reaches the markup as markup: display texts are escaped for
// HTML, and names or ids written into a route are percent-encoded. The
// routes themselves, and the console address an administrator configured,
// stay as they are (docs/links.md).
#include <algorithm>
#include <initializer_list>
#include <string>

#include "detector/EvNDetector.h"
#include "host/NxPlatform.h"

namespace {

// Agent types whose clients and subclients have the file-system pages.
constexpr std::initializer_list<int> kFileSystemAgents = {1,  11, 12, 13, 17, 18, 19, 20, 21, 29,
                                                          33, 34, 36, 38, 42, 43, 63, 64, 74, 91};
// Agent types whose subclients are database collections.
constexpr std::initializer_list<int> kDatabaseAgents = {3, 5, 22, 37, 61, 62, 79, 80, 81, 103, 104, 125, 128, 135};
// The virtualization agent.
constexpr int kVirtualizationAgent = 106;

bool inList(int value, std::initializer_list<int> list) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

std::string escapeHtml(const std::string& text, bool keepAmpersand) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += keepAmpersand ? "&" : "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

// Percent-encodes everything but the unreserved characters, so a name
// cannot end the route, add query fields or leave the attribute.
std::string encodeRoutePart(const std::string& text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                            c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0x0F];
    }
  }
  return out;
}

// The admin console address, or empty when none can be found.
std::string adminConsole(bool& found) {
  std::string url;
  found = EvNDetector::getDefaultAdminConsoleURL(url) == 0;
  if (!found) url.clear();
  return url;
}

}  // namespace

std::string EvNDetector::FrameHTMLLink(std::string url, std::string text) {
  // The address keeps its '&' query separators; quotes and angle brackets
  // could end the attribute, so they are escaped there too.
  return "<a href=\"" + escapeHtml(url, true) + "\">" + escapeHtml(text, false) + "</a>";
}

std::string EvNDetector::GetClientLink(int clientId, std::string name, int appTypeId) {
  bool found = false;
  std::string url = adminConsole(found);
  const ClientProperties props(static_cast<unsigned int>(clientId));
  int workstation = 0;
  props.getPersonalWorkstation(workstation, nullptr);
  if (found) {
    std::string uuid;
    if (workstation != 0) {
      url += "#/devices/" + std::to_string(clientId);
    } else if (inList(appTypeId, kFileSystemAgents)) {
      url += "#/fsAgentDetails/" + std::to_string(clientId) + "/" + std::to_string(appTypeId);
    } else if (appTypeId == kVirtualizationAgent && props.getVMInstanceUUID(uuid, nullptr) == 0) {
      url += "/#/vm/" + encodeRoutePart(uuid);
    } else {
      url += "/#/clientDetails/" + std::to_string(clientId);
    }
  }
  return FrameHTMLLink(url, name);
}

std::string EvNDetector::GetSubClientLink(int subclientId, std::string name, int appTypeId, int collectionRouteId) {
  bool found = false;
  std::string url = adminConsole(found);
  if (found) {
    const std::string id = std::to_string(subclientId);
    if (inList(appTypeId, kFileSystemAgents))
      url += "/#/fsSubclientDetails/" + id;
    else if (inList(appTypeId, kDatabaseAgents))
      url += "/#/dbCollectionDetails/" + id;
    else if (appTypeId == kVirtualizationAgent)
      url += "/#/collectionDetails/" + std::to_string(collectionRouteId) + "/" + id;
    else
      url += "/#/subclientDetails/" + id;
  }
  return FrameHTMLLink(url, name);
}

std::string EvNDetector::GetJobLink(int jobId) {
  bool found = false;
  std::string url = adminConsole(found);
  if (found) url += "/#/jobs/" + std::to_string(jobId);
  return FrameHTMLLink(url, std::to_string(jobId));
}

std::string EvNDetector::GetArchGroupLink(int storagePolicyId, std::string name) {
  bool found = false;
  std::string url = adminConsole(found);
  if (found) url += "/#/storagePolicyInfo?storagePolicyId=" + std::to_string(storagePolicyId);
  return FrameHTMLLink(url, name);
}

std::string EvNDetector::GetArchGroupCopyLink(int storagePolicyId, int copyId, std::string storagePolicyName,
                                              std::string copyName) {
  // No copy to point at: the name alone, still as HTML text.
  if (copyId == 0) return escapeHtml(copyName, false);
  bool found = false;
  std::string url = adminConsole(found);
  if (found)
    url += "/#/storagePolicyCopyInfo?storagePolicyId=" + std::to_string(storagePolicyId) +
           "&storagePolicyName=" + encodeRoutePart(storagePolicyName) +
           "&storagePolicyCopyId=" + std::to_string(copyId);
  return FrameHTMLLink(url, copyName);
}

std::string EvNDetector::GetIDALink(int clientId, int appTypeId, std::string name) {
  bool found = false;
  std::string url = adminConsole(found);
  if (found) url += "/#/agentDetails/" + std::to_string(clientId) + "/" + std::to_string(appTypeId);
  return FrameHTMLLink(url, name);
}
