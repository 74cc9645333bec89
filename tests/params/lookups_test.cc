// Look-ups that turn ids into texts, on both backends: media locations,
// mount path and drive names, the clients of software-distribution jobs and
// of update requests, and the downloaded-update blocks of a download job.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Db/AllBindings.h"
#include "detector/EvNDetector.h"
#include "host/EvAlertEx.h"
#include "host/messages/message_classes.h"
#include "params/EvNDetectParams.h"
#include "support/alert_log.h"
#include "support/db_fixture.h"

namespace {

using Rows = std::vector<std::pair<int, std::string>>;
using Lines = std::vector<std::string>;

class LookupsTest : public evd::test::DbTest {
 protected:
  // Every parameter of EVENT, in the order written.
  static Rows paramsOf(int eventId) {
    Rows out;
    NTDparams t(nullptr);
    t.setWhere("eventId = %d", eventId);
    int counter = 0;
    int rc = 0;
    while ((rc = t.getNextRow(&counter)) == 0) out.emplace_back(t.getDataPtr()->type, t.getDataPtr()->value);
    EXPECT_EQ(DB_NO_DATA, rc) << t.getErrorStr(rc);
    return out;
  }

  static std::string q(const std::string& text) { return evd::test::sqlText(text); }
  static std::string n(long long v) { return std::to_string(v); }

  void media(int id, const std::string& barCode, int type, int location, int exportId, int containerId) {
    exec("INSERT INTO MMMedia (MediaId, BarCode, MediaTypeId, MediaLocation, ExportLocationId, ContainerId) VALUES (" +
         n(id) + ", " + q(barCode) + ", " + n(type) + ", " + n(location) + ", " + n(exportId) + ", " +
         n(containerId) + ")");
  }
  void mountPath(int mediaSideId, const std::string& name) {
    exec("INSERT INTO MMMountPath (MediaSideId, MountPathName) VALUES (" + n(mediaSideId) + ", " + q(name) + ")");
  }
  void updateStatus(int jobId, const std::string& client, int status, int category) {
    exec("INSERT INTO JMMaltrexUpdateStatus (jobId, clientName, status, category) VALUES (" + n(jobId) + ", " +
         q(client) + ", " + n(status) + ", " + n(category) + ")");
  }
  void download(int jobId, const std::string& version, int os, int srvPack, int update, int status = 1) {
    exec("INSERT INTO JMMaltrexDownloadStatus (jobId, OSType, MVersion, isSrvPack, updateNumber, status) VALUES (" +
         n(jobId) + ", " + n(os) + ", " + q(version) + ", " + n(srvPack) + ", " + n(update) + ", " + n(status) + ")");
  }
  // A client with an installed package, its release and platform bits.
  void client(int id, const std::string& name, const std::string& release, std::vector<int> platformBits) {
    exec("INSERT INTO simAllPelionRel (id, release) VALUES (" + n(100 + id) + ", " + q(release) + ")");
    exec("INSERT INTO APP_Client (id, name, releaseId) VALUES (" + n(id) + ", " + q(name) + ", " + n(100 + id) + ")");
    exec("INSERT INTO SimInstalledPackages (ClientId, simPackageID) VALUES (" + n(id) + ", 1)");
    for (int bit : platformBits)
      exec("INSERT INTO APP_Platform (clientId, platformType) VALUES (" + n(id) + ", " + n(bit) + ")");
  }

  evd::test::AlertLogCapture log_;
};

// An entity filter of an update request: (kind, name) pairs.
std::unique_ptr<NXGui::ZentraTreeNode> entities(const std::vector<std::pair<int, std::string>>& list) {
  auto node = std::make_unique<NXGui::ZentraTreeNode>();
  for (const auto& [kind, name] : list) {
    auto e = std::make_unique<NXGui::ZentraTreeNode>();
    e->setint32(0, kind);
    if (!name.empty()) e->setstring(18, name);
    node->addlistobject(12, std::move(e));
  }
  return node;
}

// ---- media list ---------------------------------------------------------

TEST_P(LookupsTest, MediaLocationIsBarCodeThenExportLocationOrLibraryThenContainerAndDisksAreMountPaths) {
  exec("INSERT INTO MMExportLocation (ExportLocationId, ExportLocation) VALUES (4, 'Vault A')");
  exec("INSERT INTO MMContainer (ContainerId, ContainerName) VALUES (7, 'Box 7')");
  media(1, "BC001", 1, 3, 4, 7);  // exported, in a container
  media(2, "BC002", 1, 1, 4, 0);  // in the library: its export location id is not looked at
  media(3, "BC003", 1, 2, 0, 7);  // in the library, in a container
  media(10, "DISK10", 10001, 1, 0, 0);
  media(11, "DISK11", 10001, 1, 0, 0);  // no mount path row: adds nothing
  mountPath(10, "/mnt/lib1/path 'A'");
  std::vector<int> ids{1, 10, 11, 2, 3};

  EvNDetectParams p(nullptr);
  EXPECT_TRUE(p.AddMediaListParam(50, ids, ParamMediaList, ParamMediaLocation));
  EXPECT_EQ((Rows{{2, "BC001"},
                  {25, "BC001, Vault A, Box 7"},
                  {2, "/mnt/lib1/path 'A'"},
                  {2, "BC002"},
                  {25, "BC002, Inside Library"},
                  {2, "BC003"},
                  {25, "BC003, Inside Library, Box 7"}}),
            paramsOf(50));

  // The media-erase lists have no location type: bar codes only.
  std::vector<int> succeeded{1}, failed{2};
  EXPECT_TRUE(p.AddMediaListParam(53, succeeded, ParamSucceededMediaList, static_cast<NotiParamTypes>(0)));
  EXPECT_TRUE(p.AddMediaListParam(53, failed, ParamFailedMediaList, static_cast<NotiParamTypes>(0)));
  EXPECT_EQ((Rows{{3, "BC001"}, {4, "BC002"}}), paramsOf(53));
}

TEST_P(LookupsTest, MediaThatCannotBeReadIsSkippedAndMissingLocationNamesAreLeftOut) {
  exec("INSERT INTO MMContainer (ContainerId, ContainerName) VALUES (7, 'Box 7')");
  media(1, "BC001", 1, 3, 9, 7);  // export location 9 does not exist
  media(2, "BC'2", 1, 3, 0, 8);   // exported without a location id; container 8 does not exist
  std::vector<int> ids{404, 1, 2};

  EvNDetectParams p(nullptr);
  EXPECT_TRUE(p.AddMediaListParam(51, ids, ParamMediaList, ParamMediaLocation));
  EXPECT_EQ((Rows{{2, "BC001"}, {25, "BC001, Box 7"}, {2, "BC'2"}, {25, "BC'2, Inside Library"}}), paramsOf(51));
}

// ---- mount path and drive names -----------------------------------------

TEST_P(LookupsTest, MountPathAndDriveNamesAreCutToTheBufferOrLeftAsTheCallerHadThem) {
  exec("INSERT INTO MMMountPathInfo (MountPathId, MediaSideId) VALUES (31, 310)");
  mountPath(310, "/mnt/store/path31");
  exec("INSERT INTO MMDrive (DriveId, AliasName) VALUES (5, 'Drive alias 5')");
  EvNDetectParams p(nullptr);
  ASSERT_TRUE(p.AddParam(61, ParamMountPath, 0));
  ASSERT_TRUE(p.AddParam(62, ParamMountPath, 99));
  ASSERT_TRUE(p.AddParam(63, ParamMountPath, 31));

  struct Case {
    const char* what;
    bool drive;
    int id;  // event id for the mount path, drive id for the drive
    size_t size;
    const char* expected;
  };
  const Case cases[] = {
      {"event without a mount path parameter", false, 60, 64, "unchanged"},
      {"mount path id 0", false, 61, 64, "unchanged"},
      {"unknown mount path", false, 62, 64, "unchanged"},
      {"mount path", false, 63, 64, "/mnt/store/path31"},
      {"mount path cut", false, 63, 8, "/mnt/st"},
      {"drive id 0", true, 0, 32, "unchanged"},
      {"unknown drive", true, 6, 32, "unchanged"},
      {"drive", true, 5, 32, "Drive alias 5"},
      {"drive cut", true, 5, 6, "Drive"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    char out[65];
    std::memset(out, 'x', 64);
    out[64] = '\0';
    if (c.size > 10) std::strcpy(out, "unchanged");
    EXPECT_TRUE(c.drive ? p.GetDriveName(0, c.id, out, c.size) : p.GetMountPathName(c.id, out, c.size));
    EXPECT_STREQ(c.expected, out);
  }
}

// ---- clients of a software-distribution job -------------------------------

TEST_P(LookupsTest, DistributionClientListsSelectByJobLowHalfStatusAndCategory) {
  updateStatus(77, "alpha", 2, 1);
  updateStatus(77, "beta's", 3, 2);
  updateStatus(77, "gamma", 2, 2);
  updateStatus(78, "other-job", 2, 1);
  const long job = (5L << 32) | 77;  // only the low 32 bits name the job
  EvNDetectParams p(nullptr);

  Lines all, succeeded, category2;
  EXPECT_TRUE(p.GetDistClientList(0, job, all));
  EXPECT_EQ((Lines{"alpha", "beta's", "gamma"}), all);
  EXPECT_TRUE(p.GetDistClientStatusList(0, job, 2, succeeded));
  EXPECT_EQ((Lines{"alpha", "gamma"}), succeeded);
  EXPECT_TRUE(p.GetDistClientCategoryList(0, job, static_cast<JobManager::NXMaltrexUpdateCategory>(2), category2));
  EXPECT_EQ((Lines{"beta's", "gamma"}), category2);

  Lines lines;
  EXPECT_TRUE(p.GetDistClientStatusList(0, job, lines));
  ASSERT_EQ(3u, lines.size());
  EXPECT_FALSE(getStatusText(2).empty());
  EXPECT_EQ("alpha: [" + getStatusText(2) + "]", lines[0]);
  EXPECT_EQ("beta's: [" + getStatusText(3) + "]", lines[1]);

  std::vector<JobStatusItem> items;
  EXPECT_TRUE(p.GetDistClientStatusList(0, job, items));
  ASSERT_EQ(3u, items.size());
  EXPECT_EQ((JobStatusItem{3, 2, "beta's", getStatusText(3)}), items[1]);

  Lines none{"kept"};
  EXPECT_TRUE(p.GetDistClientList(0, 79, none)) << "a job without rows is not an error";
  EXPECT_EQ((Lines{"kept"}), none) << "the lists are appended to";
}

TEST_P(LookupsTest, LongClientNamesAreCutAndStatusLinesStayWithin511Bytes) {
  updateStatus(80, std::string(600, 'n'), 2, 1);
  updateStatus(80, "after", 2, 1);
  EvNDetectParams p(nullptr);

  Lines names, lines;
  EXPECT_TRUE(p.GetDistClientList(0, 80, names)) << "a cut name does not end the list";
  EXPECT_EQ((Lines{std::string(510, 'n'), "after"}), names);
  EXPECT_TRUE(p.GetDistClientStatusList(0, 80, lines));
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ(std::string(510, 'n') + ":", lines[0]);
}

TEST_P(LookupsTest, DistributionListReadErrorIsLoggedAndKeepsWhatWasAppended) {
  exec("DROP TABLE JMMaltrexUpdateStatus");
  EvNDetectParams p(nullptr);
  Lines clients{"kept"};
  EXPECT_FALSE(p.GetDistClientCategoryList(0, 77, static_cast<JobManager::NXMaltrexUpdateCategory>(1), clients));
  EXPECT_EQ((Lines{"kept"}), clients);
  std::vector<JobStatusItem> items;
  EXPECT_FALSE(p.GetDistClientStatusList(0, 77, items));
  EXPECT_EQ(2, log_.count("EvNDetectParams::GetDistClientStatusList: Error readig from table [JMMaltrexUpdateStatus], "
                          "ErrorString ["));
}

// ---- clients of an update request ----------------------------------------

TEST_P(LookupsTest, UpdateRequestLinesCarryPlatformLabelsInTableOrderCutTo511Bytes) {
  client(1, "alpha", "11.0", {1, 2, 4});
  client(2, "beta", "11.2", {2, 4});
  client(3, "gamma", "10.0", {});
  client(4, "delta", "11.0", {4});  // installed, but not named by the event
  client(5, std::string(505, 'c'), "11.0", {1, 2, 4});
  EvNDetectParams p(nullptr);
  ASSERT_TRUE(p.AddParams(70, ParamClientIdList, std::vector<int>{1, 2, 3}));
  ASSERT_TRUE(p.AddParam(72, ParamClientIdList, 5));

  NXGui::ZentraTreeNode everyone;
  Lines lines{"stale line"};
  EXPECT_TRUE(p.GetUpdateReqClntList(70, ParamClientIdList, false, lines, everyone));
  EXPECT_EQ((Lines{"alpha - Centrixe/Client/MediaAgent", "beta - Client/MediaAgent", "gamma - "}), lines);
  EXPECT_TRUE(p.GetUpdateReqClntList(70, ParamClientIdList, true, lines, everyone));
  EXPECT_EQ((Lines{"[alpha, Centrixe/Client/MediaAgent, Release 11.0]", "[beta, Client/MediaAgent, Release 11.2]",
                   "[gamma, , Release 10.0]"}),
            lines);
  EXPECT_TRUE(p.GetUpdateReqClntList(72, ParamClientIdList, true, lines, everyone));
  EXPECT_EQ((Lines{"[" + std::string(505, 'c') + ", Cen"}), lines);
}

TEST_P(LookupsTest, UpdateRequestEntityFilterMatchesWholeInstallationOrExactClientName) {
  client(1, "alpha", "11.0", {4});
  client(2, "beta", "11.0", {4});
  EvNDetectParams p(nullptr);
  ASSERT_TRUE(p.AddParams(71, ParamClientIdList, std::vector<int>{1, 2}));

  struct Case {
    const char* what;
    std::vector<std::pair<int, std::string>> filter;
    Lines expected;
  };
  const Case cases[] = {
      {"names compare exactly", {{3, "Alpha"}, {3, "beta"}}, {"beta - Client"}},
      {"the whole installation", {{3, "nobody"}, {2, ""}}, {"alpha - Client", "beta - Client"}},
      {"nobody", {{3, "nobody"}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Lines lines;
    EXPECT_TRUE(p.GetUpdateReqClntList(71, ParamClientIdList, false, lines, *entities(c.filter)));
    EXPECT_EQ(c.expected, lines);
  }
}

TEST_P(LookupsTest, UpdateRequestReadErrorIsLoggedAsFailure) {
  exec("DROP TABLE APP_Platform");
  EvNDetectParams p(nullptr);
  ASSERT_TRUE(p.AddParam(73, ParamClientIdList, 1));
  NXGui::ZentraTreeNode everyone;
  Lines lines;
  EXPECT_FALSE(p.GetUpdateReqClntList(73, ParamClientIdList, false, lines, everyone));
  EXPECT_EQ(1, log_.count("Error reading from table [NTDUpdateReqClntList], ErrorString ["));
}

// ---- downloaded updates ---------------------------------------------------

TEST_P(LookupsTest, DownloadedUpdatesAreGroupedByReleaseOsServicePackAndPackage) {
  download(90, "11", 5, 0, 0);
  download(90, "11", 3, 1, 24);
  download(90, "11", 3, 0, 7);
  download(90, "11", 3, 0, 5);
  download(90, "11", 0, 0, 0);  // neither an update nor a package for an OS: not read
  download(91, "11", 3, 0, 6);  // another job
  download(92, "10", 1, 0, 0);
  download(92, "10", 1, 0, 3);
  download(92, "10", 1, 0, 3);
  download(92, "10", 1, 0, 4);
  download(92, "11", 1, 0, 4);
  download(92, "11", 9, 0, 2);
  download(93, "11", 3, 0, 5, 0);
  download(93, "11", 3, 0, 7, 4);
  download(93, "11", 1, 0, 0, 0);
  const std::string end = "] MsgNewLine_MsgTab_";

  struct Case {
    unsigned long job;
    int onlyWithStatus;
    NotiParamTypes type;
    Rows expected;
  };
  const Case cases[] = {
      {(3UL << 32) | 90, 0, ParamDownloadedUpdates,
       {{29, "[Ver : 11] [OS: WinX64][Updates : 5, 7" + end},
        {29, "[Ver : 11] [OS: WinX64][Service Pack : 24" + end},
        {29, "[Ver : 11] [OS: Unix][Package : Unix" + end}}},
      // A package never shares a block with updates; each number is listed once.
      {92, 0, ParamDownloadedUpdates,
       {{29, "[Ver : 10] [OS: Win32][Package : Win32" + end},
        {29, "[Ver : 10] [OS: Win32][Updates : 3, 4" + end},
        {29, "[Ver : 11] [OS: Win32][Updates : 4" + end},
        {29, "[Ver : 11] [OS: Other OS][Updates : 2" + end}}},
      {93, 1, ParamUpdatesList, {{30, "[Ver : 11] [OS: WinX64][Updates : 7" + end}}},
  };
  int eventId = 200;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.job);
    EvNDetector d;
    EXPECT_TRUE(d.getDownloadedUpdates(eventId, c.job, c.onlyWithStatus, c.type));
    EXPECT_EQ(c.expected, paramsOf(eventId++));
  }
}

TEST_P(LookupsTest, DownloadedUpdatesWithoutRowsOrWithReadErrorStoreNothing) {
  download(94, "11", 3, 0, 5, 0);
  EvNDetector d;
  EXPECT_FALSE(d.getDownloadedUpdates(203, 94, 1, ParamUpdatesList));
  EXPECT_FALSE(d.getDownloadedUpdates(203, 95, 0, ParamDownloadedUpdates));
  EXPECT_TRUE(paramsOf(203).empty());
  EXPECT_EQ(1, log_.count("No update downloaded as part of jobId  [94]"));
  EXPECT_EQ(1, log_.count("No update downloaded as part of jobId  [95]"));

  exec("DROP TABLE JMMaltrexDownloadStatus");
  EXPECT_FALSE(d.getDownloadedUpdates(203, 96, 0, ParamDownloadedUpdates));
  EXPECT_EQ(1, log_.count("Error in reading job details [96]")) << "a failed read is not 'nothing downloaded'";
  EXPECT_EQ(0, log_.count("No update downloaded as part of jobId  [96]"));
}

EVD_INSTANTIATE_BACKENDS(LookupsTest);

}  // namespace
