// The alert log of one test in a file of its own, at level 10, with the
// periodic configuration check held off so nothing changes the level behind
// the test's back; log_error lines go to the same file. Everything is put back
// when the capture goes out of scope.
//
//   evd::test::AlertLogCapture log;
//   ... run the code ...
//   EXPECT_TRUE(log.contains("ERROR EvNDetector::SetStatus"));
#pragma once

#include <string>
#include <vector>

namespace evd::test {

class AlertLogCapture {
 public:
  explicit AlertLogCapture(int level = 10);
  ~AlertLogCapture();
  AlertLogCapture(const AlertLogCapture&) = delete;
  AlertLogCapture& operator=(const AlertLogCapture&) = delete;

  void setLevel(int level);
  const std::string& path() const { return path_; }

  std::string text() const;
  std::vector<std::string> lines() const;
  // Lines holding SUBSTR.
  std::vector<std::string> lines(const std::string& substr) const;
  bool contains(const std::string& substr) const { return count(substr) > 0; }
  int count(const std::string& substr) const { return static_cast<int>(lines(substr).size()); }

 private:
  std::string path_;
  bool savedInit_;
  long long savedCheck_;
  bool savedCreate_;
  int savedLevel_;
};

}  // namespace evd::test
