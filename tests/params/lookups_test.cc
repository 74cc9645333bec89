// Look-ups that turn ids into texts, on both backends: media, mount paths, drives,
// distribution and update-request clients, and downloaded-update blocks.
#include <gtest/gtest.h>

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
    while (t.getNextRow(&counter) == 0) out.emplace_back(t.getDataPtr()->type, t.getDataPtr()->value);
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
  EvNDetectParams p{nullptr};
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

TEST_P(LookupsTest, MediaLocationIsBarCodeThenExportLocationOrLibraryThenContainerAndDisksAreMountPaths) {
  exec("INSERT INTO MMExportLocation (ExportLocationId, ExportLocation) VALUES (4, 'Vault A')");
  exec("INSERT INTO MMContainer (ContainerId, ContainerName) VALUES (7, 'Box 7')");
  media(1, "BC001", 1, 3, 4, 7);  // exported, in a container
  media(2, "BC002", 1, 1, 4, 0);  // in the library: its export location id is not looked at
  media(10, "DISK10", 10001, 1, 0, 0);
  media(11, "DISK11", 10001, 1, 0, 0);  // no mount path row: adds nothing
  mountPath(10, "/mnt/lib1/path 'A'");
  media(4, "BC'4", 1, 3, 9, 8);  // export location 9 and container 8 do not exist
  std::vector<int> ids{1, 10, 11, 2, 404, 4};  // media 404 cannot be read: skipped
  EXPECT_TRUE(p.AddMediaListParam(50, ids, ParamMediaList, ParamMediaLocation));
  EXPECT_EQ((Rows{{2, "BC001"}, {25, "BC001, Vault A, Box 7"}, {2, "/mnt/lib1/path 'A'"}, {2, "BC002"},
                  {25, "BC002, Inside Library"}, {2, "BC'4"}, {25, "BC'4"}}),
            paramsOf(50));
  // The media-erase lists have no location type: bar codes only.
  std::vector<int> failed{2};
  EXPECT_TRUE(p.AddMediaListParam(53, failed, ParamFailedMediaList, static_cast<NotiParamTypes>(0)));
  EXPECT_EQ((Rows{{4, "BC002"}}), paramsOf(53));
}

TEST_P(LookupsTest, MountPathAndDriveNamesAreCutToTheBufferOrLeftAsTheCallerHadThem) {
  exec("INSERT INTO MMMountPathInfo (MountPathId, MediaSideId) VALUES (31, 310)");
  mountPath(310, "/mnt/store/path31");
  exec("INSERT INTO MMDrive (DriveId, AliasName) VALUES (5, 'Drive alias 5')");
  ASSERT_TRUE(p.AddParam(61, ParamMountPath, 0));
  ASSERT_TRUE(p.AddParam(62, ParamMountPath, 99));
  ASSERT_TRUE(p.AddParam(63, ParamMountPath, 31));
  char out[16] = "unchanged";
  EXPECT_TRUE(p.GetMountPathName(61, out, sizeof out)) << "mount path id 0";
  EXPECT_TRUE(p.GetMountPathName(62, out, sizeof out)) << "unknown mount path";
  EXPECT_TRUE(p.GetDriveName(0, 6, out, sizeof out)) << "unknown drive";
  EXPECT_STREQ("unchanged", out);
  EXPECT_TRUE(p.GetMountPathName(63, out, 8));
  EXPECT_STREQ("/mnt/st", out);
  EXPECT_TRUE(p.GetDriveName(0, 5, out, 6));
  EXPECT_STREQ("Drive", out);
}

TEST_P(LookupsTest, DistributionClientListsSelectByJobLowHalfStatusAndCategory) {
  updateStatus(77, "alpha", 2, 1);
  updateStatus(77, "beta's", 3, 2);
  updateStatus(77, "gamma", 2, 2);
  updateStatus(78, "other-job", 2, 1);
  const long job = (5L << 32) | 77;  // only the low 32 bits name the job
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
  EXPECT_EQ("beta's: [" + getStatusText(3) + "]", lines[1]);
}

TEST_P(LookupsTest, LongClientNamesAreCutAndStatusLinesStayWithin511Bytes) {
  updateStatus(80, std::string(600, 'n'), 2, 1);
  updateStatus(80, "after", 2, 1);
  Lines names;
  EXPECT_TRUE(p.GetDistClientList(0, 80, names)) << "a cut name does not end the list";
  EXPECT_EQ((Lines{std::string(510, 'n'), "after"}), names);
}

TEST_P(LookupsTest, DistributionListReadErrorFailsAndKeepsWhatWasAppended) {
  exec("DROP TABLE JMMaltrexUpdateStatus");
  Lines clients{"kept"};
  EXPECT_FALSE(p.GetDistClientCategoryList(0, 77, static_cast<JobManager::NXMaltrexUpdateCategory>(1), clients));
  EXPECT_EQ((Lines{"kept"}), clients);
  // An update request whose platforms cannot be read fails as well.
  exec("DROP TABLE APP_Platform");
  ASSERT_TRUE(p.AddParam(73, ParamClientIdList, 1));
  NXGui::ZentraTreeNode everyone;
  EXPECT_FALSE(p.GetUpdateReqClntList(73, ParamClientIdList, false, clients, everyone));
}

TEST_P(LookupsTest, UpdateRequestLinesCarryPlatformLabelsInTableOrderCutTo511Bytes) {
  client(1, "alpha", "11.0", {1, 2, 4});
  client(2, "beta", "11.2", {2, 4});
  client(3, "gamma", "10.0", {});
  client(4, "delta", "11.0", {4});  // installed, but not named by the event
  client(5, std::string(505, 'c'), "11.0", {1, 2, 4});
  ASSERT_TRUE(p.AddParams(70, ParamClientIdList, std::vector<int>{1, 2, 3}));
  ASSERT_TRUE(p.AddParam(72, ParamClientIdList, 5));
  NXGui::ZentraTreeNode everyone;
  Lines lines{"stale line"};
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
  ASSERT_TRUE(p.AddParams(71, ParamClientIdList, std::vector<int>{1, 2}));
  Lines lines;
  EXPECT_TRUE(p.GetUpdateReqClntList(71, ParamClientIdList, false, lines, *entities({{3, "Alpha"}, {3, "beta"}})));
  EXPECT_EQ((Lines{"beta - Client"}), lines) << "names compare exactly";
  EXPECT_TRUE(p.GetUpdateReqClntList(71, ParamClientIdList, false, lines, *entities({{3, "nobody"}, {2, ""}})));
  EXPECT_EQ((Lines{"alpha - Client", "beta - Client"}), lines) << "the whole installation";
}

// Grouping of updates and service packs per OS, and the completed-only list,
// are checked end to end by the type-19 case of ClientConfigTest.
TEST_P(LookupsTest, DownloadedPackagesKeepABlockOfTheirOwnAndEachNumberIsListedOnce) {
  download(92, "10", 1, 0, 0);
  download(92, "10", 1, 0, 3);
  download(92, "10", 1, 0, 3);
  download(92, "11", 9, 0, 2);
  download(92, "11", 0, 0, 0);  // neither an update nor a package for an OS: not read
  const std::string end = "] MsgNewLine_MsgTab_";
  EXPECT_TRUE(EvNDetector().getDownloadedUpdates(201, 92, 0, ParamDownloadedUpdates));
  EXPECT_EQ((Rows{{29, "[Ver : 10] [OS: Win32][Package : Win32" + end},
                  {29, "[Ver : 10] [OS: Win32][Updates : 3" + end},
                  {29, "[Ver : 11] [OS: Other OS][Updates : 2" + end}}),
            paramsOf(201));
}

// A job without downloads (or none completed, when only those are asked for)
// and a table that cannot be read all store nothing and answer false; only the
// last is an error the log must show.
TEST_P(LookupsTest, DownloadedUpdatesReadErrorIsLoggedAsAnErrorNotAsNoUpdates) {
  download(94, "11", 3, 0, 5, 0);
  EvNDetector d;
  EXPECT_FALSE(d.getDownloadedUpdates(204, 94, 1, ParamUpdatesList));
  EXPECT_FALSE(d.getDownloadedUpdates(204, 97, 0, ParamDownloadedUpdates));
  EXPECT_EQ(1, log_.count("No update downloaded as part of jobId  [97]")) << log_.text();
  EXPECT_EQ(0, log_.count("Error in reading job details")) << log_.text();
  exec("DROP TABLE JMMaltrexDownloadStatus");
  EXPECT_FALSE(d.getDownloadedUpdates(204, 98, 0, ParamDownloadedUpdates));
  EXPECT_EQ(1, log_.count("Error in reading job details [98]")) << log_.text();
  EXPECT_EQ(0, log_.count("No update downloaded as part of jobId  [98]")) << log_.text();
  EXPECT_TRUE(paramsOf(204).empty());
}

EVD_INSTANTIATE_BACKENDS(LookupsTest);

}  // namespace
