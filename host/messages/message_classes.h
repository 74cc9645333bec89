// The message classes the detector reads or writes, as typed C++ classes.
//
// Each typed class is a CNMessageBase of a fixed type pair; it adds no state,
// only the class's identity as constants (kTypeMajor, kTypeMinor, kClassKey,
// kName). Its fields live in the registry table of message_classes.cc, which
// names each class through these constants, so every number here is written
// once. XMLDecoder::unSerialize makes objects of these typed classes, so a
// decoded message can be narrowed with message_cast.
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

#define EVD_DECLARE_MESSAGE_CLASS(NS, NAME, MAJOR, MINOR, KEY)        \
  namespace NS {                                                      \
  class NAME : public CNMessageBase {                                 \
   public:                                                            \
    static constexpr int kTypeMajor = MAJOR;                          \
    static constexpr int kTypeMinor = MINOR;                          \
    static constexpr uint32_t kClassKey = KEY;                        \
    static constexpr const char* kName = #NS "::" #NAME;              \
    NAME() : CNMessageBase(MAJOR, MINOR) {}                           \
  };                                                                  \
  }

EVD_MESSAGE_CLASSES(EVD_DECLARE_MESSAGE_CLASS)

#undef EVD_DECLARE_MESSAGE_CLASS

// The status enumeration of a client in a software-update job; values and
// display texts are this library's.
inline constexpr uint32_t kUpdateStatusEnumTag = 0x1536913C;  // 355897660
