// The alert event record: one alert raised by a component of the server, as
// the event manager hands it to the detector. A plain value type: every field
// has an inline accessor and a setter, a default-constructed record is the
// "empty" event (all numbers 0, all flags false, all texts and lists empty),
// and copies are deep.
//
// Value types follow the host's event library: ids and times that can exceed
// 32 bits are int64, small counters int32, the two licence figures uint32.
// Texts come back by const reference except the two "copy" accessors
// (getReportName, getCompliancePolicyName), which return by value. Lists come
// back by reference; the non-const overloads exist because the parameter
// writers take the lists by non-const reference.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class EvDebug;
class EvDebugFileInstance;

// One catalogue message attached to the event: four numbers and the message
// argument text. The detector reads the numbers as token id, message id,
// argument type and message index (cut to 32 bits when stored).
struct AlertEventMsg {
  int64_t tokenId = 0;
  int64_t msgId = 0;
  int64_t type = 0;
  int64_t msgIndex = 0;
  std::string data;

  bool operator==(const AlertEventMsg&) const = default;
};

// Progress of one phase of an information-management job.
struct InfoManagementPhaseDetails {
  int32_t phaseNumber = 0;
  std::string phaseName;
  int64_t count1 = 0;
  int64_t count2 = 0;
  int64_t count3 = 0;

  bool operator==(const InfoManagementPhaseDetails&) const = default;
};

// One client's row of an update job's status; filled from the update-status
// table by the parameter look-ups, never carried by an event.
struct JobStatusItem {
  int32_t status = 0;
  int32_t category = 0;
  std::string clientName;
  std::string statusText;

  bool operator==(const JobStatusItem&) const = default;
};

class EvAlertEx {
 public:
  using TextList = std::vector<std::string>;
  using IntList = std::vector<int32_t>;
  using MsgList = std::vector<AlertEventMsg>;
  using PhaseList = std::vector<InfoManagementPhaseDetails>;

  EvAlertEx() = default;

  bool operator==(const EvAlertEx&) const = default;

  // Writes the whole record to the alert log under LABEL, as one debug line
  // of level 10 holding the record's JSON form (the same form the event
  // reader accepts, so a logged event can be replayed). Returns true when the
  // log is at its verbose level (10) and the line was written, false when
  // the log is quieter (nothing is written then) or writing failed. The
  // detector takes the result as its verbose flag: at verbose level it also
  // reports events skipped for want of a rule.
  //
  // The one-argument form writes through the file instance registered with
  // setLogInstance(); with none registered it uses an EvDebug without a file
  // instance.
  bool DumpAlert(const char* label) const;
  bool DumpAlert(const char* label, EvDebug& log) const;

  // The alert log DumpAlert(label) writes to; process-wide, safe to call
  // from any thread. Null detaches.
  static void setLogInstance(EvDebugFileInstance* instance);
  static EvDebugFileInstance* logInstance();

  // --- Alert identity -------------------------------------------------------
  int32_t getAlertType() const { return m_alertType; }
  void setAlertType(int32_t v) { m_alertType = v; }
  // 0: the event uses the old alert/condition numbering.
  int32_t getAlertCriteria() const { return m_alertCriteria; }
  void setAlertCriteria(int32_t v) { m_alertCriteria = v; }
  int32_t getAlertStatus() const { return m_alertStatus; }
  void setAlertStatus(int32_t v) { m_alertStatus = v; }
  int64_t getAlert() const { return m_alert; }
  void setAlert(int64_t v) { m_alert = v; }
  int64_t getCondition() const { return m_condition; }
  void setCondition(int64_t v) { m_condition = v; }
  bool IsConditionCleared() const { return m_conditionCleared; }
  void setConditionCleared(bool v) { m_conditionCleared = v; }
  int32_t getAlertRule() const { return m_alertRule; }
  void setAlertRule(int32_t v) { m_alertRule = v; }

  // --- Objects the event concerns ---------------------------------------------
  int64_t getClientId() const { return m_clientId; }
  void setClientId(int64_t v) { m_clientId = v; }
  const std::string& getClientName() const { return m_clientName; }
  void setClientName(const std::string& v) { m_clientName = v; }
  int64_t getClientGroupId() const { return m_clientGroupId; }
  void setClientGroupId(int64_t v) { m_clientGroupId = v; }
  const std::string& getClientGroupName() const { return m_clientGroupName; }
  void setClientGroupName(const std::string& v) { m_clientGroupName = v; }
  int64_t getSubClientId() const { return m_subClientId; }
  void setSubClientId(int64_t v) { m_subClientId = v; }
  const std::string& getSubClientName() const { return m_subClientName; }
  void setSubClientName(const std::string& v) { m_subClientName = v; }
  int64_t getBackupsetId() const { return m_backupsetId; }
  void setBackupsetId(int64_t v) { m_backupsetId = v; }
  const std::string& getBackupsetName() const { return m_backupsetName; }
  void setBackupsetName(const std::string& v) { m_backupsetName = v; }
  int64_t getappTypeId() const { return m_appTypeId; }
  void setAppTypeId(int64_t v) { m_appTypeId = v; }
  const std::string& getAppTypeName() const { return m_appTypeName; }
  void setAppTypeName(const std::string& v) { m_appTypeName = v; }
  int64_t getInstanceId() const { return m_instanceId; }
  void setInstanceId(int64_t v) { m_instanceId = v; }
  const std::string& getInstanceName() const { return m_instanceName; }
  void setInstanceName(const std::string& v) { m_instanceName = v; }
  int64_t getMediaAgentId() const { return m_mediaAgentId; }
  void setMediaAgentId(int64_t v) { m_mediaAgentId = v; }
  const std::string& getMediaAgentName() const { return m_mediaAgentName; }
  void setMediaAgentName(const std::string& v) { m_mediaAgentName = v; }
  int64_t getLibraryId() const { return m_libraryId; }
  void setLibraryId(int64_t v) { m_libraryId = v; }
  int64_t getOtherLibId() const { return m_otherLibId; }
  void setOtherLibId(int64_t v) { m_otherLibId = v; }
  int64_t getMediaId() const { return m_mediaId; }
  void setMediaId(int64_t v) { m_mediaId = v; }
  const std::string& getMediaLable() const { return m_mediaLable; }
  void setMediaLable(const std::string& v) { m_mediaLable = v; }
  int32_t getDriveId() const { return m_driveId; }
  void setDriveId(int32_t v) { m_driveId = v; }
  const std::string& getDriveName() const { return m_driveName; }
  void setDriveName(const std::string& v) { m_driveName = v; }
  const std::string& getDrivePoolName() const { return m_drivePoolName; }
  void setDrivePoolName(const std::string& v) { m_drivePoolName = v; }
  int32_t getSparePoolId() const { return m_sparePoolId; }
  void setSparePoolId(int32_t v) { m_sparePoolId = v; }
  const std::string& getSparePoolMountPathName() const { return m_sparePoolMountPathName; }
  void setSparePoolMountPathName(const std::string& v) { m_sparePoolMountPathName = v; }
  int32_t getMountPathId() const { return m_mountPathId; }
  void setMountPathId(int32_t v) { m_mountPathId = v; }
  int64_t getStorPolicyId() const { return m_storPolicyId; }
  void setStorPolicyId(int64_t v) { m_storPolicyId = v; }
  int64_t getCopyId() const { return m_copyId; }
  void setCopyId(int64_t v) { m_copyId = v; }
  int32_t getVtPolicyId() const { return m_vtPolicyId; }
  void setVtPolicyId(int32_t v) { m_vtPolicyId = v; }
  int32_t getTaskId() const { return m_taskId; }
  void setTaskId(int32_t v) { m_taskId = v; }
  int32_t getSchedPolicyId() const { return m_schedPolicyId; }
  void setSchedPolicyId(int32_t v) { m_schedPolicyId = v; }
  const std::string& getScheduleName() const { return m_scheduleName; }
  void setScheduleName(const std::string& v) { m_scheduleName = v; }
  int64_t getWhomId() const { return m_whomId; }
  void setWhomId(int64_t v) { m_whomId = v; }
  const std::string& getContainerName() const { return m_containerName; }
  void setContainerName(const std::string& v) { m_containerName = v; }
  const std::string& getExportLocName() const { return m_exportLocName; }
  void setExportLocName(const std::string& v) { m_exportLocName = v; }
  const std::string& getMailBoxName() const { return m_mailBoxName; }
  void setMailBoxName(const std::string& v) { m_mailBoxName = v; }
  const std::string& getFolderName() const { return m_folderName; }
  void setFolderName(const std::string& v) { m_folderName = v; }
  const std::string& getGuiClientName() const { return m_guiClientName; }
  void setGuiClientName(const std::string& v) { m_guiClientName = v; }
  const std::string& getZentraRelease() const { return m_zentraRelease; }
  void setZentraRelease(const std::string& v) { m_zentraRelease = v; }

  // --- Job ------------------------------------------------------------------
  int64_t getJobId() const { return m_jobId; }
  void setJobId(int64_t v) { m_jobId = v; }
  int64_t getPrevJobId() const { return m_prevJobId; }
  void setPrevJobId(int64_t v) { m_prevJobId = v; }
  int64_t getBackupLevel() const { return m_backupLevel; }
  void setBackupLevel(int64_t v) { m_backupLevel = v; }
  bool getRdJob() const { return m_rdJob; }
  void setRdJob(bool v) { m_rdJob = v; }
  bool IsVSS() const { return m_vss; }
  void setVSS(bool v) { m_vss = v; }
  const std::string& getSVUName() const { return m_svuName; }
  void setSVUName(const std::string& v) { m_svuName = v; }
  const std::string& getWorkFlowName() const { return m_workFlowName; }
  void setWorkFlowName(const std::string& v) { m_workFlowName = v; }
  const std::string& getJobErrString() const { return m_jobErrString; }
  void setJobErrString(const std::string& v) { m_jobErrString = v; }
  const std::string& getFailureReason() const { return m_failureReason; }
  void setFailureReason(const std::string& v) { m_failureReason = v; }
  IntList& getFailureReasons() { return m_failureReasons; }
  const IntList& getFailureReasons() const { return m_failureReasons; }
  void setFailureReasons(IntList v) { m_failureReasons = std::move(v); }
  int32_t getPhaseFailuresCount() const { return m_phaseFailuresCount; }
  void setPhaseFailuresCount(int32_t v) { m_phaseFailuresCount = v; }
  int32_t getNetworkFailuresCount() const { return m_networkFailuresCount; }
  void setNetworkFailuresCount(int32_t v) { m_networkFailuresCount = v; }
  int64_t getProtectedCount() const { return m_protectedCount; }
  void setProtectedCount(int64_t v) { m_protectedCount = v; }
  int64_t getRecoveredCount() const { return m_recoveredCount; }
  void setRecoveredCount(int64_t v) { m_recoveredCount = v; }
  int64_t getFailedCount() const { return m_failedCount; }
  void setFailedCount(int64_t v) { m_failedCount = v; }
  int64_t getSkippedCount() const { return m_skippedCount; }
  void setSkippedCount(int64_t v) { m_skippedCount = v; }
  int64_t getNumberOfItems() const { return m_numberOfItems; }
  void setNumberOfItems(int64_t v) { m_numberOfItems = v; }
  int64_t getRestoreSize() const { return m_restoreSize; }
  void setRestoreSize(int64_t v) { m_restoreSize = v; }
  const std::string& getRestoreUserName() const { return m_restoreUserName; }
  void setRestoreUserName(const std::string& v) { m_restoreUserName = v; }
  int32_t getPruneJobCount() const { return m_pruneJobCount; }
  void setPruneJobCount(int32_t v) { m_pruneJobCount = v; }
  bool IsExtendedRetension() const { return m_extendedRetension; }
  void setExtendedRetension(bool v) { m_extendedRetension = v; }
  int64_t getRetensionTime() const { return m_retensionTime; }
  void setRetensionTime(int64_t v) { m_retensionTime = v; }

  // --- Times: seconds since 1970; elapsed and transfer time in seconds ---------
  int64_t getStartTime() const { return m_startTime; }
  void setStartTime(int64_t v) { m_startTime = v; }
  int64_t getEndTime() const { return m_endTime; }
  void setEndTime(int64_t v) { m_endTime = v; }
  int64_t getScheduledTime() const { return m_scheduledTime; }
  void setScheduledTime(int64_t v) { m_scheduledTime = v; }
  int64_t getLastActivity() const { return m_lastActivity; }
  void setLastActivity(int64_t v) { m_lastActivity = v; }
  int64_t getCXupgradeTime() const { return m_cxUpgradeTime; }
  void setCXupgradeTime(int64_t v) { m_cxUpgradeTime = v; }
  int64_t getRecallTime() const { return m_recallTime; }
  void setRecallTime(int64_t v) { m_recallTime = v; }
  int64_t getOldestJobEndTime() const { return m_oldestJobEndTime; }
  void setOldestJobEndTime(int64_t v) { m_oldestJobEndTime = v; }
  int32_t getElapsedTime() const { return m_elapsedTime; }
  void setElapsedTime(int32_t v) { m_elapsedTime = v; }
  int32_t getXferTimeSecs() const { return m_xferTimeSecs; }
  void setXferTimeSecs(int32_t v) { m_xferTimeSecs = v; }

  // --- Sizes, space and thresholds -------------------------------------------
  int64_t getFreeSpace() const { return m_freeSpace; }
  void setFreeSpace(int64_t v) { m_freeSpace = v; }
  int64_t getFreeDBSpace() const { return m_freeDBSpace; }
  void setFreeDBSpace(int64_t v) { m_freeDBSpace = v; }
  int64_t getMediaSpaceLeft() const { return m_mediaSpaceLeft; }
  void setMediaSpaceLeft(int64_t v) { m_mediaSpaceLeft = v; }
  int64_t getThreshold() const { return m_threshold; }
  void setThreshold(int64_t v) { m_threshold = v; }
  const std::string& getThresholdCommen() const { return m_thresholdCommen; }
  void setThresholdCommen(const std::string& v) { m_thresholdCommen = v; }
  int32_t getFileSize() const { return m_fileSize; }
  void setFileSize(int32_t v) { m_fileSize = v; }
  int32_t getMbTransferred() const { return m_mbTransferred; }
  void setMbTransferred(int32_t v) { m_mbTransferred = v; }
  int64_t getXferSizeBytes() const { return m_xferSizeBytes; }
  void setXferSizeBytes(int64_t v) { m_xferSizeBytes = v; }
  const std::string& getXferThruPutGB() const { return m_xferThruPutGB; }
  void setXferThruPutGB(const std::string& v) { m_xferThruPutGB = v; }
  int64_t getPrevBkpSize() const { return m_prevBkpSize; }
  void setPrevBkpSize(int64_t v) { m_prevBkpSize = v; }
  int32_t getPercentageChange() const { return m_percentageChange; }
  void setPercentageChange(int32_t v) { m_percentageChange = v; }
  int64_t getBytesToBeCopied() const { return m_bytesToBeCopied; }
  void setBytesToBeCopied(int64_t v) { m_bytesToBeCopied = v; }
  int32_t getNumOfMediaToBeCopied() const { return m_numOfMediaToBeCopied; }
  void setNumOfMediaToBeCopied(int32_t v) { m_numOfMediaToBeCopied = v; }
  int32_t getNumOfJobsToBeCopied() const { return m_numOfJobsToBeCopied; }
  void setNumOfJobsToBeCopied(int32_t v) { m_numOfJobsToBeCopied = v; }
  int32_t getNumberOfAvailFiles() const { return m_numberOfAvailFiles; }
  void setNumberOfAvailFiles(int32_t v) { m_numberOfAvailFiles = v; }
  int32_t getNumberOfDownloadedFiles() const { return m_numberOfDownloadedFiles; }
  void setNumberOfDownloadedFiles(int32_t v) { m_numberOfDownloadedFiles = v; }
  int32_t getKBDoanloaded() const { return m_kbDoanloaded; }
  void setKBDoanloaded(int32_t v) { m_kbDoanloaded = v; }
  int64_t getMessageCount() const { return m_messageCount; }
  void setMessageCount(int64_t v) { m_messageCount = v; }
  int32_t getFailedLoginGroupId() const { return m_failedLoginGroupId; }
  void setFailedLoginGroupId(int32_t v) { m_failedLoginGroupId = v; }
  int32_t getFailedLoginCount() const { return m_failedLoginCount; }
  void setFailedLoginCount(int32_t v) { m_failedLoginCount = v; }
  uint32_t getNoOfDaysLicenseToExpire() const { return m_noOfDaysLicenseToExpire; }
  void setNoOfDaysLicenseToExpire(uint32_t v) { m_noOfDaysLicenseToExpire = v; }
  uint32_t getPerCentLicenseConsumed() const { return m_perCentLicenseConsumed; }
  void setPerCentLicenseConsumed(uint32_t v) { m_perCentLicenseConsumed = v; }
  bool IsMediaRequired() const { return m_mediaRequired; }
  void setMediaRequired(bool v) { m_mediaRequired = v; }
  bool getMoreMediaToCome() const { return m_moreMediaToCome; }
  void setMoreMediaToCome(bool v) { m_moreMediaToCome = v; }

  // --- Texts --------------------------------------------------------------------
  const std::string& getComment() const { return m_comment; }
  void setComment(const std::string& v) { m_comment = v; }
  // Often a serialized host message that a handler decodes.
  const std::string& getDescription() const { return m_description; }
  void setDescription(const std::string& v) { m_description = v; }
  const std::string& getAttachmentName() const { return m_attachmentName; }
  void setAttachmentName(const std::string& v) { m_attachmentName = v; }
  const std::string& getVtInitiator() const { return m_vtInitiator; }
  void setVtInitiator(const std::string& v) { m_vtInitiator = v; }
  const std::string& getVtSourceLoc() const { return m_vtSourceLoc; }
  void setVtSourceLoc(const std::string& v) { m_vtSourceLoc = v; }
  const std::string& getVtTransitLoc() const { return m_vtTransitLoc; }
  void setVtTransitLoc(const std::string& v) { m_vtTransitLoc = v; }
  const std::string& getVtDestLoc() const { return m_vtDestLoc; }
  void setVtDestLoc(const std::string& v) { m_vtDestLoc = v; }
  const std::string& getVtBarCodeCurrLoc() const { return m_vtBarCodeCurrLoc; }
  void setVtBarCodeCurrLoc(const std::string& v) { m_vtBarCodeCurrLoc = v; }
  const std::string& getRecallReason() const { return m_recallReason; }
  void setRecallReason(const std::string& v) { m_recallReason = v; }
  const std::string& getRecallDestination() const { return m_recallDestination; }
  void setRecallDestination(const std::string& v) { m_recallDestination = v; }
  const std::string& getObjStoreCacheDir() const { return m_objStoreCacheDir; }
  void setObjStoreCacheDir(const std::string& v) { m_objStoreCacheDir = v; }
  std::string getReportName() const { return m_reportName; }
  void setReportName(const std::string& v) { m_reportName = v; }
  std::string getCompliancePolicyName() const { return m_compliancePolicyName; }
  void setCompliancePolicyName(const std::string& v) { m_compliancePolicyName = v; }

  // --- Lists ----------------------------------------------------------------
  TextList& getMediaList() { return m_mediaList; }
  const TextList& getMediaList() const { return m_mediaList; }
  void setMediaList(TextList v) { m_mediaList = std::move(v); }
  TextList& getBarCodeList() { return m_barCodeList; }
  const TextList& getBarCodeList() const { return m_barCodeList; }
  void setBarCodeList(TextList v) { m_barCodeList = std::move(v); }
  TextList& getVtStoragePolicyList() { return m_vtStoragePolicyList; }
  const TextList& getVtStoragePolicyList() const { return m_vtStoragePolicyList; }
  void setVtStoragePolicyList(TextList v) { m_vtStoragePolicyList = std::move(v); }
  TextList& getUpdatesList() { return m_updatesList; }
  const TextList& getUpdatesList() const { return m_updatesList; }
  void setUpdatesList(TextList v) { m_updatesList = std::move(v); }
  // One list under two names: the components that raise unknown-client
  // alerts and those that report copied media fill the same slot.
  TextList& getUnKnownClientList() { return m_copiedMediaList; }
  const TextList& getUnKnownClientList() const { return m_copiedMediaList; }
  void setUnKnownClientList(TextList v) { m_copiedMediaList = std::move(v); }
  TextList& getCopiedMediaList() { return m_copiedMediaList; }
  const TextList& getCopiedMediaList() const { return m_copiedMediaList; }
  void setCopiedMediaList(TextList v) { m_copiedMediaList = std::move(v); }
  TextList& getFoldersList() { return m_foldersList; }
  const TextList& getFoldersList() const { return m_foldersList; }
  void setFoldersList(TextList v) { m_foldersList = std::move(v); }
  IntList& getMediaIdsList() { return m_mediaIdsList; }
  const IntList& getMediaIdsList() const { return m_mediaIdsList; }
  void setMediaIdsList(IntList v) { m_mediaIdsList = std::move(v); }
  IntList& getSucceededMedialist() { return m_succeededMedialist; }
  const IntList& getSucceededMedialist() const { return m_succeededMedialist; }
  void setSucceededMedialist(IntList v) { m_succeededMedialist = std::move(v); }
  IntList& getFailedMedialist() { return m_failedMedialist; }
  const IntList& getFailedMedialist() const { return m_failedMedialist; }
  void setFailedMedialist(IntList v) { m_failedMedialist = std::move(v); }
  IntList& getClientIdsList() { return m_clientIdsList; }
  const IntList& getClientIdsList() const { return m_clientIdsList; }
  void setClientIdsList(IntList v) { m_clientIdsList = std::move(v); }
  // Parallel to getFoldersList(): free space and threshold of each folder.
  IntList& getFreeSpaceList() { return m_freeSpaceList; }
  const IntList& getFreeSpaceList() const { return m_freeSpaceList; }
  void setFreeSpaceList(IntList v) { m_freeSpaceList = std::move(v); }
  IntList& getThresholdsList() { return m_thresholdsList; }
  const IntList& getThresholdsList() const { return m_thresholdsList; }
  void setThresholdsList(IntList v) { m_thresholdsList = std::move(v); }
  MsgList& getEventMsgList() { return m_eventMsgList; }
  const MsgList& getEventMsgList() const { return m_eventMsgList; }
  void setEventMsgList(MsgList v) { m_eventMsgList = std::move(v); }
  PhaseList& getInfoManagementPhaseDetails() { return m_infoManagementPhaseDetails; }
  const PhaseList& getInfoManagementPhaseDetails() const { return m_infoManagementPhaseDetails; }
  void setInfoManagementPhaseDetails(PhaseList v) { m_infoManagementPhaseDetails = std::move(v); }

 private:
  int32_t m_alertType = 0;
  int32_t m_alertCriteria = 0;
  int32_t m_alertStatus = 0;
  int64_t m_alert = 0;
  int64_t m_condition = 0;
  bool m_conditionCleared = false;
  int32_t m_alertRule = 0;

  int64_t m_clientId = 0;
  std::string m_clientName;
  int64_t m_clientGroupId = 0;
  std::string m_clientGroupName;
  int64_t m_subClientId = 0;
  std::string m_subClientName;
  int64_t m_backupsetId = 0;
  std::string m_backupsetName;
  int64_t m_appTypeId = 0;
  std::string m_appTypeName;
  int64_t m_instanceId = 0;
  std::string m_instanceName;
  int64_t m_mediaAgentId = 0;
  std::string m_mediaAgentName;
  int64_t m_libraryId = 0;
  int64_t m_otherLibId = 0;
  int64_t m_mediaId = 0;
  std::string m_mediaLable;
  int32_t m_driveId = 0;
  std::string m_driveName;
  std::string m_drivePoolName;
  int32_t m_sparePoolId = 0;
  std::string m_sparePoolMountPathName;
  int32_t m_mountPathId = 0;
  int64_t m_storPolicyId = 0;
  int64_t m_copyId = 0;
  int32_t m_vtPolicyId = 0;
  int32_t m_taskId = 0;
  int32_t m_schedPolicyId = 0;
  std::string m_scheduleName;
  int64_t m_whomId = 0;
  std::string m_containerName;
  std::string m_exportLocName;
  std::string m_mailBoxName;
  std::string m_folderName;
  std::string m_guiClientName;
  std::string m_zentraRelease;

  int64_t m_jobId = 0;
  int64_t m_prevJobId = 0;
  int64_t m_backupLevel = 0;
  bool m_rdJob = false;
  bool m_vss = false;
  std::string m_svuName;
  std::string m_workFlowName;
  std::string m_jobErrString;
  std::string m_failureReason;
  IntList m_failureReasons;
  int32_t m_phaseFailuresCount = 0;
  int32_t m_networkFailuresCount = 0;
  int64_t m_protectedCount = 0;
  int64_t m_recoveredCount = 0;
  int64_t m_failedCount = 0;
  int64_t m_skippedCount = 0;
  int64_t m_numberOfItems = 0;
  int64_t m_restoreSize = 0;
  std::string m_restoreUserName;
  int32_t m_pruneJobCount = 0;
  bool m_extendedRetension = false;
  int64_t m_retensionTime = 0;

  int64_t m_startTime = 0;
  int64_t m_endTime = 0;
  int64_t m_scheduledTime = 0;
  int64_t m_lastActivity = 0;
  int64_t m_cxUpgradeTime = 0;
  int64_t m_recallTime = 0;
  int64_t m_oldestJobEndTime = 0;
  int32_t m_elapsedTime = 0;
  int32_t m_xferTimeSecs = 0;

  int64_t m_freeSpace = 0;
  int64_t m_freeDBSpace = 0;
  int64_t m_mediaSpaceLeft = 0;
  int64_t m_threshold = 0;
  std::string m_thresholdCommen;
  int32_t m_fileSize = 0;
  int32_t m_mbTransferred = 0;
  int64_t m_xferSizeBytes = 0;
  std::string m_xferThruPutGB;
  int64_t m_prevBkpSize = 0;
  int32_t m_percentageChange = 0;
  int64_t m_bytesToBeCopied = 0;
  int32_t m_numOfMediaToBeCopied = 0;
  int32_t m_numOfJobsToBeCopied = 0;
  int32_t m_numberOfAvailFiles = 0;
  int32_t m_numberOfDownloadedFiles = 0;
  int32_t m_kbDoanloaded = 0;
  int64_t m_messageCount = 0;
  int32_t m_failedLoginGroupId = 0;
  int32_t m_failedLoginCount = 0;
  uint32_t m_noOfDaysLicenseToExpire = 0;
  uint32_t m_perCentLicenseConsumed = 0;
  bool m_mediaRequired = false;
  bool m_moreMediaToCome = false;

  std::string m_comment;
  std::string m_description;
  std::string m_attachmentName;
  std::string m_vtInitiator;
  std::string m_vtSourceLoc;
  std::string m_vtTransitLoc;
  std::string m_vtDestLoc;
  std::string m_vtBarCodeCurrLoc;
  std::string m_recallReason;
  std::string m_recallDestination;
  std::string m_objStoreCacheDir;
  std::string m_reportName;
  std::string m_compliancePolicyName;

  TextList m_mediaList;
  TextList m_barCodeList;
  TextList m_vtStoragePolicyList;
  TextList m_updatesList;
  TextList m_copiedMediaList;
  TextList m_foldersList;
  IntList m_mediaIdsList;
  IntList m_succeededMedialist;
  IntList m_failedMedialist;
  IntList m_clientIdsList;
  IntList m_freeSpaceList;
  IntList m_thresholdsList;
  MsgList m_eventMsgList;
  PhaseList m_infoManagementPhaseDetails;
};
