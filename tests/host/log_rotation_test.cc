// Several processes, each with several threads, writing and rotating one alert
// log: the size bound holds and no line is lost or cut.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "host/EvDebug.h"
#include "support/db_fixture.h"

namespace {

TEST(SharedLogRotationTest, ProcessesSharingTheLogKeepTheBoundAndEveryLine) {
  constexpr int kProcesses = 4, kThreads = 2, kLines = 200;
  constexpr size_t kBound = 8192, kKept = 200;  // enough older files to keep every line
  const std::string dir = evd::test::tempPath("shared-log");
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/evdetector.log";
  const std::string pad(70, 'x');

  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      EvDebugFileInstance file;
      file.setPath(path);
      file.setRotation(kBound, kKept);
      std::vector<std::thread> threads;
      for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
          EvDebug log(&file);
          for (int i = 0; i < kLines; ++i) log.Error("W", "writer %d.%d line %d %s", p, t, i, pad.c_str());
        });
      for (auto& th : threads) th.join();
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  std::map<std::string, int> seen;  // "writer P.T line I" -> times
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    ++files;
    EXPECT_LE(entry.file_size(), kBound) << entry.path();
    std::ifstream in(entry.path());
    for (std::string line; std::getline(in, line);) {
      const size_t at = line.find("ERROR W: writer ");
      ASSERT_NE(std::string::npos, at) << line;
      ASSERT_TRUE(line.ends_with(" " + pad)) << "a line cut or run into another: " << line;
      ++seen[line.substr(at + 9, line.size() - at - 9 - pad.size() - 1)];
    }
  }
  EXPECT_GT(files, 10) << "the test must rotate many times to mean anything";
  EXPECT_LT(static_cast<size_t>(files), kKept);
  EXPECT_EQ(static_cast<size_t>(kProcesses * kThreads * kLines), seen.size());
  for (const auto& [line, times] : seen) EXPECT_EQ(1, times) << line;
  std::filesystem::remove_all(dir);
}

}  // namespace
