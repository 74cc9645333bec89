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
#include "host/EvAlertDebug.h"
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
  void exportLocation(int id, const std::string& name) {
    exec("INSERT INTO MMExportLocation (ExportLocationId, ExportLocation) VALUES (" + n(id) + ", " + q(name) + ")");
  }
  void container(int id, const std::string& name) {
    exec("INSERT INTO MMContainer (ContainerId, ContainerName) VALUES (" + n(id) + ", " + q(name) + ")");
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

// An entity node of an update request's filter.
std::unique_ptr<CNMessageBase> entity(int kind, const std::string& name) {
  auto e = std::make_unique<NXGui::ZentraTreeNode>();
  e->setint32(0, kind);
  if (!name.empty()) e->setstring(18, name);
  return e;
}

// ---- media list ---------------------------------------------------------

TEST_P(LookupsTest, MediaLocationIsBarCodeThenExportLocationOrLibraryThenContainer) {
  exportLocation(4, "Vault A");
  container(7, "Box 7");
  media(1, "BC001", 1, 3, 4, 7);  // exported, in a container
  media(2, "BC002", 1, 1, 4, 0);  // in the library: its export location id is not looked at
  media(3, "BC003", 1, 2, 0, 7);  // in the library, in a container
  std::vector<int> ids{1, 2, 3};

  EvNDetectParams p(nullptr);
  EXPECT_TRUE(p.AddMediaListParam(50, ids, ParamMediaList, ParamMediaLocation));

  EXPECT_EQ((Rows{{2, "BC001"},
                  {25, "BC001, Vault A, Box 7"},
                  {2, "BC002"},
                  {25, "BC002, Inside Library"},
                  {2, "BC003"},
                  {25, "BC003, Inside Library, Box 7"}}),
            paramsOf(50));
}

TEST_P(LookupsTest, MediaThatCannotBeReadIsSkippedAndMissingLocationNamesAreLeftOut) {
  container(7, "Box 7");
  media(1, "BC001", 1, 3, 9, 7);  // export location 9 does not exist
  media(2, "BC'2", 1, 3, 0, 8);   // exported without a location id; container 8 does not exist
  std::vector<int> ids{404, 1, 2};

  EvNDetectParams p(nullptr);
  EXPECT_TRUE(p.AddMediaListParam(51, ids, ParamMediaList, ParamMediaLocation));

  EXPECT_EQ((Rows{{2, "BC001"}, {25, "BC001, Box 7"}, {2, "BC'2"}, {25, "BC'2, Inside Library"}}), paramsOf(51));
  EXPECT_EQ(1u, log_.lines("cannot read from table [MMMedia]").size());
  EXPECT_EQ(1u, log_.lines("cannot read from table [MMExportLocation]").size());
  EXPECT_EQ(1u, log_.lines("cannot read from table [MMContainer]").size());
  for (const std::string& l : log_.lines("cannot read from table"))
    EXPECT_NE(std::string::npos, l.find("EvNDetectParams::AddMediaListParam")) << l;
}

TEST_P(LookupsTest, DiskMediaIsNamedByItsMountPathOnlyAndWithoutOneAddsNothing) {
  media(10, "DISK10", 10001, 1, 0, 0);
  media(11, "DISK11", 10001, 1, 0, 0);  // no mount path row
  media(12, "BC012", 1, 1, 0, 0);
  mountPath(10, "/mnt/lib1/path 'A'");
  std::vector<int> ids{10, 11, 12};

  EvNDetectParams p(nullptr);
  EXPECT_TRUE(p.AddMediaListParam(52, ids, ParamMediaList, ParamMediaLocation));

  EXPECT_EQ((Rows{{2, "/mnt/lib1/path 'A'"}, {2, "BC012"}, {25, "BC012, Inside Library"}}), paramsOf(52));
}

TEST_P(LookupsTest, MediaEraseListsWithoutLocationTypeStoreBarCodesOnly) {
  media(1, "BC001", 1, 1, 0, 0);
  media(2, "BC002", 1, 1, 0, 0);
  std::vector<int> succeeded{1};
  std::vector<int> failed{2};

  EvNDetectParams p(nullptr);
  EXPECT_TRUE(p.AddMediaListParam(53, succeeded, ParamSucceededMediaList, static_cast<NotiParamTypes>(0)));
  EXPECT_TRUE(p.AddMediaListParam(53, failed, ParamFailedMediaList, static_cast<NotiParamTypes>(0)));

  EXPECT_EQ((Rows{{3, "BC001"}, {4, "BC002"}}), paramsOf(53));
}

// ---- mount path and drive names -----------------------------------------

TEST_P(LookupsTest, MountPathNameComesFromTheEventsMountPathIdAndIsCutToTheBuffer) {
  exec("INSERT INTO MMMountPathInfo (MountPathId, MediaSideId) VALUES (31, 310)");
  mountPath(310, "/mnt/store/path31");
  EvNDetectParams p(nullptr);

  char out[64];
  std::strcpy(out, "unchanged");
  EXPECT_TRUE(p.GetMountPathName(60, out, sizeof out)) << "the event has no mount path parameter";
  EXPECT_STREQ("unchanged", out);

  ASSERT_TRUE(p.AddParam(61, ParamMountPath, 0));
  EXPECT_TRUE(p.GetMountPathName(61, out, sizeof out)) << "mount path id 0 names nothing";
  EXPECT_STREQ("unchanged", out);

  ASSERT_TRUE(p.AddParam(62, ParamMountPath, 99));
  EXPECT_TRUE(p.GetMountPathName(62, out, sizeof out)) << "unknown mount path";
  EXPECT_STREQ("unchanged", out);

  ASSERT_TRUE(p.AddParam(63, ParamMountPath, 31));
  EXPECT_TRUE(p.GetMountPathName(63, out, sizeof out));
  EXPECT_STREQ("/mnt/store/path31", out);

  char small[8];
  std::memset(small, 'x', sizeof small);
  EXPECT_TRUE(p.GetMountPathName(63, small, sizeof small));
  EXPECT_STREQ("/mnt/st", small);
}

TEST_P(LookupsTest, DriveNameIsTheAliasAndIsCutToTheBuffer) {
  exec("INSERT INTO MMDrive (DriveId, AliasName) VALUES (5, 'Drive alias 5')");
  EvNDetectParams p(nullptr);

  char out[32];
  std::strcpy(out, "unchanged");
  EXPECT_TRUE(p.GetDriveName(0, 0, out, sizeof out));
  EXPECT_STREQ("unchanged", out);
  EXPECT_TRUE(p.GetDriveName(0, 6, out, sizeof out));
  EXPECT_STREQ("unchanged", out);

  EXPECT_TRUE(p.GetDriveName(0, 5, out, sizeof out));
  EXPECT_STREQ("Drive alias 5", out);
  char small[6];
  EXPECT_TRUE(p.GetDriveName(0, 5, small, sizeof small));
  EXPECT_STREQ("Drive", small);
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
  const std::string longName(600, 'n');
  updateStatus(80, longName, 2, 1);
  updateStatus(80, "after", 2, 1);
  EvNDetectParams p(nullptr);

  Lines names;
  EXPECT_TRUE(p.GetDistClientList(0, 80, names)) << "a cut name does not end the list";
  ASSERT_EQ(2u, names.size());
  EXPECT_EQ(std::string(510, 'n'), names[0]);
  EXPECT_EQ("after", names[1]);

  Lines lines;
  EXPECT_TRUE(p.GetDistClientStatusList(0, 80, lines));
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ(511u, lines[0].size());
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
  const Lines errors = log_.lines("Error readig from table [JMMaltrexUpdateStatus], ErrorString [");
  ASSERT_EQ(2u, errors.size());
  for (const std::string& l : errors) EXPECT_NE(std::string::npos, l.find("EvNDetectParams::GetDistClientStatusList"));
}

// ---- clients of an update request ----------------------------------------

TEST_P(LookupsTest, UpdateRequestLinesCarryPlatformLabelsInTableOrder) {
  client(1, "alpha", "11.0", {1, 2, 4});
  client(2, "beta", "11.2", {2, 4});
  client(3, "gamma", "10.0", {});
  client(4, "delta", "11.0", {4});  // installed, but not named by the event
  EvNDetectParams p(nullptr);
  ASSERT_TRUE(p.AddParams(70, ParamClientIdList, std::vector<int>{1, 2, 3}));

  NXGui::ZentraTreeNode everyone;
  Lines lines{"stale line"};
  EXPECT_TRUE(p.GetUpdateReqClntList(70, ParamClientIdList, false, lines, everyone));
  EXPECT_EQ((Lines{"alpha - Centrixe/Client/MediaAgent", "beta - Client/MediaAgent", "gamma - "}), lines);

  EXPECT_TRUE(p.GetUpdateReqClntList(70, ParamClientIdList, true, lines, everyone));
  EXPECT_EQ((Lines{"[alpha, Centrixe/Client/MediaAgent, Release 11.0]", "[beta, Client/MediaAgent, Release 11.2]",
                   "[gamma, , Release 10.0]"}),
            lines);
}

TEST_P(LookupsTest, UpdateRequestEntityFilterMatchesWholeInstallationOrExactClientName) {
  client(1, "alpha", "11.0", {4});
  client(2, "beta", "11.0", {4});
  EvNDetectParams p(nullptr);
  ASSERT_TRUE(p.AddParams(71, ParamClientIdList, std::vector<int>{1, 2}));

  NXGui::ZentraTreeNode onlyBeta;
  onlyBeta.addlistobject(12, entity(3, "Alpha"));  // names compare exactly
  onlyBeta.addlistobject(12, entity(3, "beta"));
  Lines lines;
  EXPECT_TRUE(p.GetUpdateReqClntList(71, ParamClientIdList, false, lines, onlyBeta));
  EXPECT_EQ((Lines{"beta - Client"}), lines);

  NXGui::ZentraTreeNode installation;
  installation.addlistobject(12, entity(3, "nobody"));
  installation.addlistobject(12, entity(2, ""));
  EXPECT_TRUE(p.GetUpdateReqClntList(71, ParamClientIdList, false, lines, installation));
  EXPECT_EQ((Lines{"alpha - Client", "beta - Client"}), lines);

  NXGui::ZentraTreeNode nobody;
  nobody.addlistobject(12, entity(3, "nobody"));
  EXPECT_TRUE(p.GetUpdateReqClntList(71, ParamClientIdList, false, lines, nobody));
  EXPECT_TRUE(lines.empty());
  // alpha was skipped by the first filter and by this one, beta by this one only.
  EXPECT_EQ(2u, log_.lines("EventId[71] Data[alpha] .. No Match in Entity List(skipping).").size());
  EXPECT_EQ(1u, log_.lines("EventId[71] Data[beta] .. No Match in Entity List(skipping).").size());
}

TEST_P(LookupsTest, UpdateRequestLineLongerThan511BytesIsCut) {
  const std::string longName(505, 'c');
  client(1, longName, "11.0", {1, 2, 4});
  EvNDetectParams p(nullptr);
  ASSERT_TRUE(p.AddParam(72, ParamClientIdList, 1));
  NXGui::ZentraTreeNode everyone;
  Lines lines;
  EXPECT_TRUE(p.GetUpdateReqClntList(72, ParamClientIdList, true, lines, everyone));
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(511u, lines[0].size());
  EXPECT_EQ("[" + longName + ", Cen", lines[0]);
}

TEST_P(LookupsTest, UpdateRequestReadErrorIsLoggedAsFailure) {
  exec("DROP TABLE APP_Platform");
  EvNDetectParams p(nullptr);
  ASSERT_TRUE(p.AddParam(73, ParamClientIdList, 1));
  NXGui::ZentraTreeNode everyone;
  Lines lines;
  EXPECT_FALSE(p.GetUpdateReqClntList(73, ParamClientIdList, false, lines, everyone));
  EXPECT_EQ(1u, log_.lines("Error reading from table [NTDUpdateReqClntList], ErrorString [").size());
}

// ---- downloaded updates ---------------------------------------------------

TEST_P(LookupsTest, DownloadedUpdatesAreGroupedByReleaseOsServicePackAndPackage) {
  download(90, "11", 5, 0, 0);
  download(90, "11", 3, 1, 24);
  download(90, "11", 3, 0, 7);
  download(90, "11", 3, 0, 5);
  download(90, "11", 0, 0, 0);  // neither an update nor a package for an OS: not read
  download(91, "11", 3, 0, 6);  // another job
  EvNDetector d;

  EXPECT_TRUE(d.getDownloadedUpdates(200, (3UL << 32) | 90, 0, ParamDownloadedUpdates));
  EXPECT_EQ((Rows{{29, "[Ver : 11] [OS: WinX64][Updates : 5, 7] MsgNewLine_MsgTab_"},
                  {29, "[Ver : 11] [OS: WinX64][Service Pack : 24] MsgNewLine_MsgTab_"},
                  {29, "[Ver : 11] [OS: Unix][Package : Unix] MsgNewLine_MsgTab_"}}),
            paramsOf(200));
}

TEST_P(LookupsTest, DownloadedUpdatesSplitPackageFromUpdatesAndListEachNumberOnce) {
  download(92, "10", 1, 0, 0);
  download(92, "10", 1, 0, 3);
  download(92, "10", 1, 0, 3);
  download(92, "10", 1, 0, 4);
  download(92, "11", 1, 0, 4);
  download(92, "11", 9, 0, 2);
  EvNDetector d;

  EXPECT_TRUE(d.getDownloadedUpdates(201, 92, 0, ParamDownloadedUpdates));
  EXPECT_EQ((Rows{{29, "[Ver : 10] [OS: Win32][Package : Win32] MsgNewLine_MsgTab_"},
                  {29, "[Ver : 10] [OS: Win32][Updates : 3, 4] MsgNewLine_MsgTab_"},
                  {29, "[Ver : 11] [OS: Win32][Updates : 4] MsgNewLine_MsgTab_"},
                  {29, "[Ver : 11] [OS: Other OS][Updates : 2] MsgNewLine_MsgTab_"}}),
            paramsOf(201));
}

TEST_P(LookupsTest, DownloadedUpdatesWithStatusOnlySkipRowsOfStatusZero) {
  download(93, "11", 3, 0, 5, 0);
  download(93, "11", 3, 0, 7, 4);
  download(93, "11", 1, 0, 0, 0);
  EvNDetector d;

  EXPECT_TRUE(d.getDownloadedUpdates(202, 93, 1, ParamUpdatesList));
  EXPECT_EQ((Rows{{30, "[Ver : 11] [OS: WinX64][Updates : 7] MsgNewLine_MsgTab_"}}), paramsOf(202));
}

TEST_P(LookupsTest, DownloadedUpdatesWithoutRowsOrWithReadErrorStoreNothing) {
  download(94, "11", 3, 0, 5, 0);
  EvNDetector d;
  EXPECT_FALSE(d.getDownloadedUpdates(203, 94, 1, ParamUpdatesList));
  EXPECT_FALSE(d.getDownloadedUpdates(203, 95, 0, ParamDownloadedUpdates));
  EXPECT_TRUE(paramsOf(203).empty());
  EXPECT_EQ(1u, log_.lines("No update downloaded as part of jobId  [94]").size());
  EXPECT_EQ(1u, log_.lines("No update downloaded as part of jobId  [95]").size());

  exec("DROP TABLE JMMaltrexDownloadStatus");
  EXPECT_FALSE(d.getDownloadedUpdates(203, 96, 0, ParamDownloadedUpdates));
  EXPECT_EQ(1u, log_.lines("Error in reading job details [96]").size()) << "a failed read is not 'nothing downloaded'";
  EXPECT_TRUE(log_.lines("No update downloaded as part of jobId  [96]").empty());
}

EVD_INSTANTIATE_BACKENDS(LookupsTest);

}  // namespace
