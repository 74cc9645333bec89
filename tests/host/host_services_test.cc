#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <map>
#include <new>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "host/EvDebug.h"
#include "host/EvEvent.h"
#include "host/NxLog.h"
#include "host/NxPlatform.h"
#include "host/NxSettings.h"
#include "host/NxTime.h"
#include "support/db_fixture.h"

namespace {

std::vector<std::string> readLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

class AlertLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = evd::test::tempPath("alert") + ".log";
    file_.setPath(path_);
    file_.setLevel(3);
  }
  std::vector<std::string> lines() const { return readLines(path_); }
  std::string path_;
  EvDebugFileInstance file_;
};

// Debug lines follow the level, errors are always written; every line carries
// time, process, thread, severity and label, and messages stay whole.
TEST_F(AlertLogTest, LinesFollowTheLevelCarryTheirHeaderAndStayWhole) {
  EvDebug log(&file_);
  log.DebugLvl("EvNDetector::StoreNotiData", 3, "value [%d] of [%s]", 42, "x");
  log.DebugLvl("F", 4, "at four");
  // Each line of a message gets a header of its own; a long one stays whole.
  log.Error("F", "first\r\nsecond\n\nfourth\n");
  const std::string big(5000, 'q');
  log.Error("F", "%s|end", big.c_str());
  file_.setLevel(0);
  log.DebugLvl("F", 1, "at one");
  log.Error("F", "an error at level zero");

  const auto l = lines();
  ASSERT_EQ(7u, l.size());
  const std::string ids = " " + std::to_string(getpid()) + " " + std::to_string(gettid()) + " ";
  const std::regex head(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})" + ids +
                        R"(DEBUG3 EvNDetector::StoreNotiData: value \[42\] of \[x\])");
  EXPECT_TRUE(std::regex_match(l[0], head)) << l[0];
  EXPECT_TRUE(l[1].ends_with("ERROR F: first")) << l[1];
  EXPECT_TRUE(l[2].ends_with("ERROR F: second"));
  EXPECT_TRUE(l[3].ends_with("ERROR F:"));
  EXPECT_TRUE(l[5].ends_with(big + "|end"));
  EXPECT_TRUE(l[6].ends_with("ERROR F: an error at level zero")) << l[6];
  log.setDebugLevel(25);
  EXPECT_EQ(10, log.getDebugLevel());
}

// The log rotates at the size limit, keeps two older files, and lines stay whole.
TEST_F(AlertLogTest, RotatesAtTheSizeLimitKeepingWholeLines) {
  const std::string dir = evd::test::tempPath("rotate");
  std::filesystem::create_directories(dir);
  file_.setPath(dir + "/evdetector.log");
  file_.setRotation(4096, 2);
  EvDebug log(&file_);
  for (int i = 0; i < 200; ++i) log.Error("F", "line %03d %s", i, std::string(60, 'x').c_str());
  std::vector<std::string> all;
  for (const char* name : {"evdetector.2.log", "evdetector.1.log", "evdetector.log"}) {
    const std::string path = dir + "/" + name;
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    EXPECT_LE(std::filesystem::file_size(path), 4096u) << path;
    for (const std::string& l : readLines(path)) all.push_back(l);
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/evdetector.3.log"));
  ASSERT_FALSE(all.empty());
  EXPECT_TRUE(all.back().ends_with("line 199 " + std::string(60, 'x'))) << all.back();
  for (const std::string& l : all) EXPECT_TRUE(l.ends_with(std::string(60, 'x'))) << l;
}

TEST(AlertLogFileTest, DefaultPathFollowsTheDefaultDirectoryAndADatabasesFolder) {
  const std::string saved = EvDebugFileInstance::defaultDirectory();
  EvDebugFileInstance f;
  EvDebugFileInstance::setDefaultDirectory("");
  EXPECT_EQ("evdetector.log", f.resolvedPath());
  const std::string dir = evd::test::tempPath("logdir");
  std::filesystem::create_directories(dir);
  EvDebugFileInstance::setDefaultDirectory(dir);
  EXPECT_EQ(dir + "/evdetector.log", f.resolvedPath());
  f.setPath(dir + "/own.log");
  EXPECT_EQ(dir + "/own.log", f.resolvedPath());
  EvDebugFileInstance::setDefaultDirectory(saved);
  EXPECT_EQ("/var/lib/evd", EvDebugFileInstance::directoryForDatabase("sqlite:/var/lib/evd/main.db"));
  EXPECT_EQ("", EvDebugFileInstance::directoryForDatabase("postgresql://u@h/db"));
}

TEST(AlertLogFileTest, ErrorsReachStandardErrorWhenTheLogCannotTakeThemOrIsGone) {
  EvDebugFileInstance f;
  f.setPath(evd::test::tempPath("missing-dir") + "/sub/x.log");
  testing::internal::CaptureStderr();
  EvDebug(&f).Error("F", "kept somewhere");
  EvDebug(&f).DebugLvl("F", 1, "debug is dropped");
  EvDebug().Error("G", "no instance");
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("ERROR F: kept somewhere"));
  EXPECT_NE(std::string::npos, err.find("ERROR G: no instance"));
  EXPECT_EQ(std::string::npos, err.find("debug"));
  {  // log_error falls back to standard error once the instance goes.
    EvDebugFileInstance routed;
    routed.setPath(evd::test::tempPath("routed") + ".log");
    EXPECT_EQ(0, EvDebug(&routed).initialize(125962221, 0, false, ""));
  }
  testing::internal::CaptureStderr();
  log_error("x.cc", 1, "after the instance is gone");
  EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("x.cc(1): after the instance is gone"));
  EXPECT_EQ(-1, EvDebug().initialize(1, 0, false, ""));
}

// The second argument of addArgument is the value's type code (11 text, 9 a
// number), never a length: values longer than the code render whole. Slots
// fill in order, a missing one renders empty, and nine is the most.
TEST(EvEventTest, TheSecondArgumentIsATypeCodeNotALength) {
  EvEvent ev;
  const std::string folder = "/srv/backup/volumes/archive-01";
  ASSERT_EQ(1, ev.addArgument(folder.c_str(), EvEvent::kTextArgument));
  ev << 12345678901234LL;
  std::string text;
  ASSERT_TRUE(ev.render(EvMsg::kFreeSpaceMessage, text));
  EXPECT_EQ("Folder " + folder + ": free space threshold 12345678901234, free space ", text);
  ev.clearArguments();
  for (int i = 1; i <= 9; ++i) ev.addArgument("a", 11);
  EXPECT_EQ(0, ev.addArgument("too many", 11));
  EXPECT_EQ(9u, ev.argumentCount());
}

TEST(EvEventTest, NeverWritesPastTheBuffer) {
  EvEvent ev;
  ev << "1.00";  // renders "1.00 KB": 7 bytes and a terminator
  char buf[16];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(EvEvent::kNoBuffer, ev.evPrintf(EvMsg::kSizeKB, buf, 0, 0));
  EXPECT_EQ('#', buf[0]);
  EXPECT_EQ(EvEvent::kUnknownToken, ev.evPrintf(0x4A0009FF, buf, sizeof buf, 0));
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(EvEvent::kTruncated, ev.evPrintf(EvMsg::kSizeKB, buf, 7, 0));
  EXPECT_STREQ("1.00 K", buf);
  EXPECT_EQ('#', buf[7]);
  // A cut never splits a UTF-8 sequence.
  EvEvent wide;
  wide << "\xC3\xA9\xC3\xA9";
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(EvEvent::kTruncated, wide.evPrintf(EvMsg::kSizeKB, buf, 4, 0));
  EXPECT_STREQ("\xC3\xA9", buf);
  EXPECT_EQ('#', buf[4]);
}

TEST(EvEventTest, CatalogueSlotsMatchTheirTexts) {
  EXPECT_EQ(nullptr, EvEvent::find(0));
  for (const EvEvent::Entry& e : EvEvent::catalogue()) {
    int highest = 0;
    for (const char* p = e.text; *p; ++p)
      if (p[0] == '%' && p[1] >= '1' && p[1] <= '9') highest = std::max(highest, p[1] - '0');
    EXPECT_EQ(e.slots, highest) << e.name;
  }
}

TEST(NxTimeTest, RendersIntoTheCallersBufferAndRefusesImpossibleInputs) {
  const time_t leapDay = 951782400 + 13 * 3600 + 5 * 60 + 9;  // 2000-02-29 13:05:09 UTC, a Tuesday
  struct Case {
    time_t t;
    size_t size;
    const char* text;  // none: refused, nothing written
  };
  // 25 leaves room for the 24 characters, not the newline.
  for (const Case& c : {Case{leapDay, 32, "Tue Feb 29 13:05:09 2000\n"}, Case{0, 25, "Thu Jan  1 00:00:00 1970"},
                        Case{0, 0, nullptr}}) {
    struct tm parts {};
    ASSERT_EQ(&parts, NX_gmtime(&c.t, &parts));
    char buf[32];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(c.text ? buf : nullptr, NX_asctime(&parts, buf, c.size)) << c.size;
    if (c.text) {
      EXPECT_STREQ(c.text, buf);
    }
    EXPECT_EQ('#', buf[c.text ? std::strlen(c.text) + 1 : 0]) << c.size;
  }
  char buf[32], libc[32];
  ASSERT_NE(nullptr, NX_ctime(&leapDay, buf, sizeof buf));
  EXPECT_STREQ(ctime_r(&leapDay, libc), buf);
  EXPECT_EQ(nullptr, NX_ctime(&leapDay, nullptr, sizeof buf));
  struct tm parts {};
  const time_t huge = LLONG_MAX;
  EXPECT_EQ(nullptr, NX_gmtime(&huge, &parts));
  ASSERT_NE(nullptr, NX_gmtime(&leapDay, &parts));
  parts.tm_mon = 12;
  EXPECT_EQ(nullptr, NX_asctime(&parts, buf, sizeof buf));
}

// A store the host's settings objects are run over instead of the database:
// a map, or one that fails every call by throwing.
class MapStore final : public SettingsStore {
 public:
  std::map<std::pair<std::string, std::string>, std::string> values;
  bool throws = false;
  int calls = 0;

  int get(const std::string& section, const std::string& name, std::string& value, std::string*) override {
    touch();
    auto it = values.find({section, name});
    if (it == values.end()) return EvdSetting::kNoData;
    value = it->second;
    return 0;
  }
  int set(const std::string& section, const std::string& name, const std::string& value, std::string*) override {
    touch();
    values[{section, name}] = value;
    return 0;
  }
  int remove(const std::string& section, const std::string& name, std::string*) override {
    touch();
    return values.erase({section, name}) ? 0 : EvdSetting::kNoData;
  }
  int list(const std::string* section, std::vector<SettingEntry>& out, std::string*) override {
    touch();
    out.clear();
    for (const auto& [key, value] : values)
      if (!section || key.first == *section) out.push_back({key.first, key.second, value});
    return 0;
  }

 private:
  void touch() {
    ++calls;
    if (throws) throw std::bad_alloc();
  }
};

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = Settings::setStore(&store_); }
  void TearDown() override { Settings::setStore(previous_); }
  MapStore store_;
  SettingsStore* previous_ = nullptr;
};

TEST_F(SettingsStoreTest, PlatformObjectsReadTheInstalledStoreAndRefuseWhatIsNotANumber) {
  store_.values = {{{"Server", "BlockAlerts"}, " 1 "},     {{"Server", "TraceAlerts"}, "yes"},
                   {{"EventManager", "hex"}, "0x1F"},       {{"EventManager", "negative"}, "-3"},
                   {{"GlobalParam", "NTAlertLastEventId"}, "99999999999"},
                   {{"Client/7", "VMInstanceUUID"}, "  uuid-7 "}, {{"Client/7", "PersonalWorkstation"}, "2"},
                   {{"Client/8", "PersonalWorkstation"}, "n/a"}};
  EXPECT_EQ(1, NXPI_CentrixServer().getBlockAlerts());
  EXPECT_EQ(0, NXPI_CentrixServer().getTraceAlerts());

  struct Case {
    const char* name;
    int rc;
    unsigned long value;
  };
  for (const Case& c : {Case{"hex", 0, 31}, Case{"negative", EvdSetting::kBadValue, 5},
                        Case{"absent", EvdSetting::kNoData, 5}}) {
    unsigned long v = 5;
    EXPECT_EQ(c.rc, NXPlatformInfo::getNumber("EventManager", c.name, &v)) << c.name;
    EXPECT_EQ(c.value, v) << c.name;
  }

  int id = 4;
  EXPECT_EQ(EvdSetting::kBadValue, NXGlobalParam::getNTAlertLastEventId(id, nullptr));  // past an int
  EXPECT_EQ(4, id);
  ASSERT_EQ(0, NXGlobalParam::setNTAlertLastEventId(12, nullptr));
  ASSERT_EQ(0, NXGlobalParam::getNTAlertLastEventId(id, nullptr));
  EXPECT_EQ(12, id);

  std::string uuid;
  int workstation = 0;
  ClientProperties seven(7), eight(8), nine(9);
  EXPECT_EQ(0, seven.getVMInstanceUUID(uuid, nullptr));
  EXPECT_EQ("uuid-7", uuid);
  EXPECT_EQ(0, seven.getPersonalWorkstation(workstation, nullptr));
  EXPECT_EQ(2, workstation);
  EXPECT_EQ(EvdSetting::kBadValue, eight.getPersonalWorkstation(workstation, nullptr));
  EXPECT_EQ(EvdSetting::kNoData, nine.getVMInstanceUUID(uuid, nullptr));
}

TEST_F(SettingsStoreTest, NoCallThrowsAndNoneReachesAStoreWithABadKeyOrWithoutOne) {
  std::string value, error;
  EXPECT_EQ(EvdSetting::kUsage, Settings::set("", "n", "v", &error));
  EXPECT_EQ(EvdSetting::kUsage, Settings::get("s", std::string(256, 'x'), value));
  EXPECT_EQ(0, store_.calls);

  store_.throws = true;
  std::vector<Settings::Entry> all{{"stale", "entry", "x"}};
  EXPECT_EQ(EvdSetting::kUsage, Settings::get("s", "n", value, &error));
  EXPECT_EQ("out of memory", error);
  EXPECT_EQ(EvdSetting::kUsage, Settings::list(all));
  EXPECT_TRUE(all.empty());
  unsigned long number = 0;
  EXPECT_EQ(EvdSetting::kUsage, NXPlatformInfo::getNumber("s", "n", &number));
  EXPECT_EQ(EvdSetting::kUsage, ClientProperties(1).readResult());
  EXPECT_EQ(0, NXPI_CentrixServer().getBlockAlerts());

  Settings::setStore(nullptr);
  EXPECT_EQ(EvdSetting::kNoStore, Settings::set("s", "n", "v", &error));
  EXPECT_NE(std::string::npos, error.find("no database")) << error;
  int id = 3;
  EXPECT_EQ(EvdSetting::kNoStore, NXGlobalParam::getNTAlertLastEventId(id, nullptr));
  EXPECT_EQ(3, id);
}

}  // namespace
