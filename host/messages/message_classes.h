// The message classes the detector reads or writes, as typed C++ classes.
//
// Each typed class is a CNMessageBase of a fixed type pair; it adds no state,
// only the class's identity as constants (kTypeMajor, kTypeMinor, kClassKey,
// kName) and its fields as constants (Class::Fields::name, a CNFieldDef with
// the field's family, number, key and slot). Every class number and every
// field number is written once, in the tables below: the registry of
// message_classes.cc is built from them and the handlers read through them.
// XMLDecoder::unSerialize makes objects of these typed classes, so a decoded
// message can be narrowed with message_cast.
//
// Where the server's message definitions leave a type pair or a class key
// unfixed, the number is this library's own choice (the comment of the line
// says which); docs/messages.md lists them all.
#pragma once

#include <cstdint>

#include "host/messages/CNMessageBase.h"

// X(namespace, class, type major, type minor, class key)
#define EVD_MESSAGE_CLASSES(X)                                                                  \
  /* job alert details */                                                                       \
  X(App, NTBackupAlertAdditionalInfo, 30, 1880, 507417001)                                      \
  X(App, DPAlertAdditionalInfo, 30, 1879, 513549765)                                            \
  X(App, AuxcopyFallenBehindAlertInfo, 30, 444, 518406003)                                      \
  X(Workflow, AlertContainer, 40, 42, 683636389)                                                \
  X(Workflow, AlertInfo, 40, 37, 684268386)        /* class name ours */                        \
  X(App, WorkflowEntity, 18, 61, 313419938)        /* class name ours */                        \
  /* MediaAgent and client configuration details */                                             \
  X(App, SIDBLowDiskSpaceAlertAdditionalInfo, 30, 440, 504331080)                               \
  X(App, DDBOfflineAlertAdditionalInfo, 30, 1847, 508850288)                                    \
  X(App, StickyAlertsEntity, 30, 431, 504730115)                                                \
  X(App, DDBEntity, 18, 46, 311168122)             /* class name ours */                        \
  X(App, NtClientAlertAdditionalInfo, 30, 2192, 503988448)                                      \
  /* user and user-group details */                                                             \
  X(Api, UserAndUserGroupAlertInfo, 118, 254, 1989592098)                                       \
  X(App, UserEntity, 18, 15, 310399918)            /* class name ours */                        \
  X(App, UserGroupEntity, 18, 16, 314401367)       /* class name ours */                        \
  X(App, FileSystemQuotaAlert, 30, 2463, 518994703)                                             \
  X(Api, RoamDriveQuotaAlert, 118, 229, 1987671889)                                             \
  X(App, SubClientEntity, 18, 10, 316205518)       /* class name ours */                        \
  /* saved-query results and trends */                                                          \
  X(App, QueryResultsContainer, 30, 1400, 505897459)      /* type pair ours */                  \
  X(App, QueryResultsContainerList, 30, 1401, 504583473)  /* class name and type pair ours */   \
  X(App, QueryResultEntity, 30, 1402, 901000001)          /* all ours */                        \
  X(App, QueryResultClientInfo, 30, 1403, 901000002)      /* all ours */                        \
  X(App, QueryResultColumnValuePair, 30, 473, 901000003)  /* class key ours */                  \
  X(App, LMTrendAlertEntry, 35, 81, 515478254)            /* class name and type pair ours */   \
  X(App, LMTrendMetaDataList, 35, 82, 512487241)          /* type pair ours */                  \
  X(App, LMTrendMetaData, 35, 83, 901000004)              /* all ours */                        \
  X(App, LogMonitoringAlert, 35, 80, 600063440)           /* class name ours */                 \
  /* administrative alerts */                                                                   \
  X(App, NtAdminAlertAdditionalInfo, 30, 2507, 511611432)                                       \
  X(App, NtAdminAlertDetails, 30, 2508, 506636087)        /* class name and type pair ours */   \
  X(App, NtAdminAlertEntry, 30, 2509, 506978918)          /* class name and type pair ours */   \
  X(App, ExternalQueryResult, 30, 1155, 901000005)        /* class key ours */                  \
  /* console and metadata */                                                                    \
  X(NXGui, ZentraTreeNode, 27, 40, 901000006)             /* type pair and class key ours */    \
  X(NXMeta, AnnotationText, 27, 33, 901000007)            /* class name and class key ours */

// The fields of each class, in the order they are serialised:
// F(name, kind, number, key, slot, nested class key). Key 0: the field is
// read by number only. Slot -1: the slot is the field number. Nested class
// key 0 in a list: entries of any class.
#define EVD_FIELDS_NTBackupAlertAdditionalInfo(F) \
  F(detailField1, Int64, 1, 4371981, -1, 0)        \
  F(detailField2, Int64, 2, 4663322, -1, 0)        \
  F(detailField3, Int64, 3, 13716006, -1, 0)       \
  F(valueB, Int64, 7, 1848506, -1, 0)              \
  F(valueA, Int64, 8, 179639, -1, 0)               \
  F(valueC, Int64, 9, 2573156, -1, 0)
#define EVD_FIELDS_DPAlertAdditionalInfo(F) \
  F(clientId, Int64, 1, 1496726, -1, 0)      \
  F(detailField2, Int64, 2, 4555209, -1, 0)  \
  F(valueB, Int64, 6, 1848506, -1, 0)        \
  F(valueA, Int64, 7, 179639, -1, 0)         \
  F(valueC, Int64, 8, 2573156, -1, 0)
#define EVD_FIELDS_AuxcopyFallenBehindAlertInfo(F) \
  F(detailField1, Int64, 1, 5073023, -1, 0)         \
  F(detailField2, Int64, 2, 3724968, -1, 0)         \
  F(detailField3, Text, 3, 15110848, 3, 0)
#define EVD_FIELDS_AlertContainer(F)                                          \
  F(alertInfo, Object, 1, 1824703, -1, Workflow::AlertInfo::kClassKey)         \
  F(phaseName, Text, 2, 10011302, 2, 0)
#define EVD_FIELDS_AlertInfo(F) F(workflow, Object, 1, 10347491, -1, App::WorkflowEntity::kClassKey)
#define EVD_FIELDS_WorkflowEntity(F) F(workflowId, Int64, 0, 8711482, -1, 0)
#define EVD_FIELDS_SIDBLowDiskSpaceAlertAdditionalInfo(F) \
  F(detailField3, Text, 3, 7639064, 3, 0)                  \
  F(storagePolicyList, Text, 4, 7482296, 7, 0)             \
  F(detailField5, Text, 5, 13446733, 11, 0)                \
  F(folder, Text, 6, 14121126, 15, 0)                      \
  F(freeSpace, Int64, 19, 12783609, -1, 0)                 \
  F(threshold, Int64, 20, 2090695, -1, 0)
#define EVD_FIELDS_DDBOfflineAlertAdditionalInfo(F) \
  F(ddbField1, Int64, 1, 10691976, -1, 0)            \
  F(ddbField2, Int64, 2, 9947485, -1, 0)             \
  F(ddbField3, Int64, 3, 11739624, -1, 0)            \
  F(ddbField4, Int64, 4, 8568816, -1, 0)             \
  F(ddbField5, Text, 5, 14121126, 5, 0)              \
  F(ddbField13, Int64, 13, 349703, -1, 0)
#define EVD_FIELDS_StickyAlertsEntity(F)                            \
  F(entity, Object, 1, 10347491, -1, App::DDBEntity::kClassKey)      \
  F(ddbField5, Text, 4, 9971982, 10, 0)                              \
  F(ddbField4, Int64, 17, 6332284, -1, 0)                            \
  F(ddbField3, Int64, 18, 11554268, -1, 0)
#define EVD_FIELDS_DDBEntity(F)             \
  F(ddbField2, Int64, 100, 4239216, -1, 0)   \
  F(ddbField1, Int64, 105, 10691976, -1, 0)
#define EVD_FIELDS_NtClientAlertAdditionalInfo(F) F(isPercentage, Int64, 1, 7176824, -1, 0)
#define EVD_FIELDS_UserAndUserGroupAlertInfo(F)                            \
  F(user, Object, 1, 3599307, -1, App::UserEntity::kClassKey)               \
  F(userGroup, Object, 2, 15319412, -1, App::UserGroupEntity::kClassKey)
#define EVD_FIELDS_UserEntity(F)        \
  F(userId, Int64, 0, 2829894, -1, 0)    \
  F(userName, Text, 2, 1768694, 5, 0)
#define EVD_FIELDS_UserGroupEntity(F)        \
  F(userGroupId, Int64, 0, 8338863, -1, 0)    \
  F(userGroupName, Text, 1, 11064863, 1, 0)
#define EVD_FIELDS_FileSystemQuotaAlert(F)    \
  F(quotaLimit, Int64, 1, 9267235, -1, 0)      \
  F(spaceConsumed, Int64, 2, 10842894, -1, 0)  \
  F(objectSize, Int64, 3, 9846752, -1, 0)      \
  F(jobId, Int64, 4, 633272, -1, 0)
#define EVD_FIELDS_RoamDriveQuotaAlert(F)                                 \
  F(subClient, Object, 1, 8052174, -1, App::SubClientEntity::kClassKey)    \
  F(quotaLimit, Int64, 2, 9267235, -1, 0)                                  \
  F(spaceConsumed, Int64, 3, 10842894, -1, 0)                              \
  F(objectSize, Int64, 4, 9846752, -1, 0)
#define EVD_FIELDS_SubClientEntity(F) F(subClientId, Int64, 0, 10794118, -1, 0)
// Saved-query results and trends: read by number only.
#define EVD_FIELDS_QueryResultsContainer(F)                                \
  F(queryId, Int64, 1, 0, -1, 0)                                            \
  F(entityKey, Text, 2, 0, -1, 0)                                           \
  F(entity, Object, 6, 0, -1, App::QueryResultEntity::kClassKey)            \
  F(trendEntries, ObjectList, 9, 0, -1, App::LMTrendAlertEntry::kClassKey)  \
  F(ruleId, Int64, 10, 0, -1, 0)                                            \
  F(client, Object, 13, 0, -1, App::QueryResultClientInfo::kClassKey)       \
  F(field16, Int32, 16, 0, -1, 0)                                           \
  F(field17, Int32, 17, 0, -1, 0)                                           \
  F(conditionCleared, Int32, 19, 0, -1, 0)                                  \
  F(resultStatus, Int32, 20, 0, -1, 0)
#define EVD_FIELDS_QueryResultsContainerList(F) \
  F(containers, ObjectList, 1, 0, -1, App::QueryResultsContainer::kClassKey)
#define EVD_FIELDS_QueryResultEntity(F) \
  F(columnValues, ObjectList, 1, 0, -1, App::QueryResultColumnValuePair::kClassKey)
#define EVD_FIELDS_QueryResultClientInfo(F) F(clientName, Text, 1, 0, -1, 0)
#define EVD_FIELDS_QueryResultColumnValuePair(F) \
  F(value, Text, 2, 0, -1, 0)                     \
  F(column, Text, 3, 0, -1, 0)
#define EVD_FIELDS_LMTrendAlertEntry(F)                                    \
  F(message, Text, 1, 0, -1, 0)                                             \
  F(metaData, Object, 2, 0, -1, App::LMTrendMetaDataList::kClassKey)        \
  F(extra, Text, 3, 0, -1, 0)
#define EVD_FIELDS_LMTrendMetaDataList(F) \
  F(metaDataList, ObjectList, 1, 0, -1, App::LMTrendMetaData::kClassKey)
#define EVD_FIELDS_LMTrendMetaData(F) \
  F(name, Text, 1, 0, -1, 0)           \
  F(val, Text, 2, 0, -1, 0)
// Integers and texts share the numbers 7 and 8 here: different fields.
#define EVD_FIELDS_LogMonitoringAlert(F)      \
  F(clientId, Int32, 1, 0, -1, 0)              \
  F(monPolId, Int32, 2, 0, -1, 0)              \
  F(monPolName, Text, 3, 0, -1, 0)             \
  F(comment, Text, 6, 0, -1, 0)                \
  F(linesMatched, Text, 7, 0, -1, 0)           \
  F(monitoringCriteriaId, Int32, 7, 0, -1, 0)  \
  F(lineNum, Int32, 8, 0, -1, 0)               \
  F(linesAbove, Text, 8, 0, -1, 0)             \
  F(linesBelow, Text, 9, 0, -1, 0)             \
  F(attachedFilePath, Text, 10, 0, -1, 0)      \
  F(jobId, Int64, 29, 0, -1, 0)
#define EVD_FIELDS_NtAdminAlertAdditionalInfo(F)                         \
  F(reportName, Text, 1, 0, -1, 0)                                        \
  F(details, Object, 2, 0, -1, App::NtAdminAlertDetails::kClassKey)       \
  F(detailObjects, ObjectList, 3, 0, -1, 0) /* each stored serialised */
#define EVD_FIELDS_NtAdminAlertDetails(F)                               \
  F(repeatJobCount, Int64, 2, 0, -1, 0)                                  \
  F(field3, Int64, 3, 0, -1, 0)                                          \
  F(list4, ObjectList, 4, 0, -1, App::NtAdminAlertEntry::kClassKey)      \
  F(list5, ObjectList, 5, 0, -1, App::NtAdminAlertEntry::kClassKey)      \
  F(field6, Int64, 6, 0, -1, 0)                                          \
  F(list7, ObjectList, 7, 0, -1, App::NtAdminAlertEntry::kClassKey)      \
  F(field8, Int64, 8, 0, -1, 0)
#define EVD_FIELDS_NtAdminAlertEntry(F) \
  F(value, Int64, 1, 0, -1, 0)           \
  F(text, Text, 2, 0, -1, 0)
#define EVD_FIELDS_ExternalQueryResult(F) F(values, TextList, 1, 0, -1, 0)
#define EVD_FIELDS_ZentraTreeNode(F)                                        \
  F(kind, Int32, 0, 0, -1, 0) /* 2 the whole installation, 3 a client */     \
  F(entities, ObjectList, 12, 0, -1, NXGui::ZentraTreeNode::kClassKey)       \
  F(name, Text, 18, 0, -1, 0)
#define EVD_FIELDS_AnnotationText(F) F(text, Text, 0, 0, -1, 0)

#define EVD_DECLARE_MESSAGE_CLASS(NS, NAME, MAJOR, MINOR, KEY)        \
  namespace NS {                                                      \
  class NAME : public CNMessageBase {                                 \
   public:                                                            \
    static constexpr int kTypeMajor = MAJOR;                          \
    static constexpr int kTypeMinor = MINOR;                          \
    static constexpr uint32_t kClassKey = KEY;                        \
    static constexpr const char* kName = #NS "::" #NAME;              \
    struct Fields;                                                    \
    NAME() : CNMessageBase(MAJOR, MINOR) {}                           \
  };                                                                  \
  }

EVD_MESSAGE_CLASSES(EVD_DECLARE_MESSAGE_CLASS)

#undef EVD_DECLARE_MESSAGE_CLASS

// The field constants come after every class, so that an object field can
// name the class key of a class declared after its own.
#define EVD_FIELD_CONSTANT(NAME, KIND, NUMBER, KEY, SLOT, NESTED) \
  static constexpr CNFieldDef NAME{CNFieldKind::KIND, NUMBER, KEY, (SLOT) < 0 ? (NUMBER) : (SLOT), NESTED, #NAME};
#define EVD_FIELD_ENTRY(NAME, ...) NAME,
#define EVD_DEFINE_MESSAGE_FIELDS(NS, NAME, MAJOR, MINOR, KEY)               \
  struct NS::NAME::Fields {                                                \
    EVD_FIELDS_##NAME(EVD_FIELD_CONSTANT)                                  \
    static constexpr CNFieldDef all[] = {EVD_FIELDS_##NAME(EVD_FIELD_ENTRY)}; \
  };

EVD_MESSAGE_CLASSES(EVD_DEFINE_MESSAGE_FIELDS)

#undef EVD_DEFINE_MESSAGE_FIELDS
#undef EVD_FIELD_ENTRY
#undef EVD_FIELD_CONSTANT

// The status enumeration of a client in a software-update job; values and
// display texts are this library's.
inline constexpr uint32_t kUpdateStatusEnumTag = 0x1536913C;  // 355897660
