#include "support/child_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

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

pid_t spawn(const std::string& program, const std::vector<std::string>& args, const std::string& out,
            const std::string& err) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int in = ::open("/dev/null", O_RDONLY);
  const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (in < 0 || o < 0 || e < 0 || dup2(in, 0) < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0) _exit(126);
  execv(program.c_str(), argv.data());
  _exit(127);
}

int waitFor(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string shellQuoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string freeSpaceEvent(int client, int n, bool cleared) {
  const std::string c = std::to_string(client), free = std::to_string(n);
  return R"({"alertType":10,"alertCriteria":77,"clientId":)" + c + R"(,"clientName":"c)" + c +
         R"(","mediaAgentId":7,"freeSpace":)" + free + R"(,"threshold":1024,"foldersList":["/data"],)" +
         R"("freeSpaceList":[)" + free + R"(],"thresholdsList":[1024])" +
         (cleared ? R"(,"conditionCleared":true)" : "") + "}\n";
}

long long jsonField(const std::string& json, const std::string& name) {
  const size_t at = json.find("\"" + name + "\": ");
  return at == std::string::npos ? -1 : std::atoll(json.c_str() + at + name.size() + 4);
}

}  // namespace evd::test
