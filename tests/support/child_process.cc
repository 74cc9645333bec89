#include "support/child_process.h"

#include <sys/wait.h>

#include <cstdio>

namespace evd::test {

std::string shell(const std::string& args, int* status) {
  std::string out;
  FILE* f = popen(args.c_str(), "r");
  if (f == nullptr) return out;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
  const int rc = pclose(f);
  *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

std::string shellQuoted(const std::string& s) { return "'" + s + "'"; }

std::string freeSpaceEvent(int client, int n, bool cleared) {
  const std::string c = std::to_string(client), free = std::to_string(n);
  return R"({"alertType":10,"alertCriteria":77,"clientId":)" + c + R"(,"clientName":"c)" + c +
         R"(","mediaAgentId":7,"freeSpace":)" + free + R"(,"threshold":1024,"foldersList":["/data"],)" +
         R"("freeSpaceList":[)" + free + R"(],"thresholdsList":[1024])" +
         (cleared ? R"(,"conditionCleared":true)" : "") + "}\n";
}

}  // namespace evd::test
