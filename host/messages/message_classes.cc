// The registry of message classes: one declarative table of every class the
// detector reads or writes, with its fields (kind, number, key, slot, name).
// Field numbers, keys and slots are those the server's message definitions
// give; fields of a class that no reader names are left out, so an input
// carrying them is refused rather than silently dropped.
#include "host/messages/message_classes.h"

#include <map>
#include <unordered_map>
#include <utility>

namespace {

using K = CNFieldKind;

// Slot -1 means "same as the field number", which holds for most fields.
CNFieldDef field(K kind, int number, uint32_t key, const char* name, int slot = -1, uint32_t classKey = 0) {
  CNFieldDef f;
  f.kind = kind;
  f.number = number;
  f.key = key;
  f.slot = slot < 0 ? number : slot;
  f.classKey = classKey;
  f.name = name;
  return f;
}
CNFieldDef int32f(int n, uint32_t key, const char* name) { return field(K::Int32, n, key, name); }
CNFieldDef int64f(int n, uint32_t key, const char* name) { return field(K::Int64, n, key, name); }
CNFieldDef textf(int n, int slot, uint32_t key, const char* name) { return field(K::Text, n, key, name, slot); }
CNFieldDef textf(int n, uint32_t key, const char* name) { return field(K::Text, n, key, name); }
CNFieldDef objectf(int n, uint32_t key, uint32_t cls, const char* name) {
  return field(K::Object, n, key, name, -1, cls);
}
CNFieldDef objectsf(int n, uint32_t key, uint32_t cls, const char* name) {
  return field(K::ObjectList, n, key, name, -1, cls);
}
CNFieldDef textsf(int n, uint32_t key, const char* name) { return field(K::TextList, n, key, name); }

template <class T>
std::unique_ptr<CNMessageBase> make() {
  return std::make_unique<T>();
}

template <class T>
CNClassDef message(std::vector<CNFieldDef> fields) {
  CNClassDef c;
  c.name = T::kName;
  c.type = {T::kTypeMajor, T::kTypeMinor};
  c.classKey = T::kClassKey;
  c.fields = std::move(fields);
  c.make = &make<T>;
  return c;
}

CNClassDef enumeration(const char* name, uint32_t tag, std::vector<CNEnumValue> values) {
  CNClassDef c;
  c.name = name;
  c.classKey = tag;
  c.isEnum = true;
  c.values = std::move(values);
  return c;
}

std::vector<CNClassDef> buildTable() {
  using namespace App;
  return {
      // ---- job alert details -------------------------------------------
      message<NTBackupAlertAdditionalInfo>({
          int64f(1, 4371981, "detailField1"),
          int64f(2, 4663322, "detailField2"),
          int64f(3, 13716006, "detailField3"),
          int64f(7, 1848506, "valueB"),
          int64f(8, 179639, "valueA"),
          int64f(9, 2573156, "valueC"),
      }),
      message<DPAlertAdditionalInfo>({
          int64f(1, 1496726, "clientId"),
          int64f(2, 4555209, "detailField2"),
          int64f(6, 1848506, "valueB"),
          int64f(7, 179639, "valueA"),
          int64f(8, 2573156, "valueC"),
      }),
      message<AuxcopyFallenBehindAlertInfo>({
          int64f(1, 5073023, "detailField1"),
          int64f(2, 3724968, "detailField2"),
          textf(3, 3, 15110848, "detailField3"),
      }),
      message<Workflow::AlertContainer>({
          objectf(1, 1824703, Workflow::AlertInfo::kClassKey, "alertInfo"),
          textf(2, 2, 10011302, "phaseName"),
      }),
      message<Workflow::AlertInfo>({
          objectf(1, 10347491, WorkflowEntity::kClassKey, "workflow"),
      }),
      message<WorkflowEntity>({
          int64f(0, 8711482, "workflowId"),
      }),

      // ---- MediaAgent and client configuration details -----------------
      message<SIDBLowDiskSpaceAlertAdditionalInfo>({
          textf(3, 3, 7639064, "detailField3"),
          textf(4, 7, 7482296, "storagePolicyList"),
          textf(5, 11, 13446733, "detailField5"),
          textf(6, 15, 14121126, "folder"),
          int64f(19, 12783609, "freeSpace"),
          int64f(20, 2090695, "threshold"),
      }),
      message<DDBOfflineAlertAdditionalInfo>({
          int64f(1, 10691976, "ddbField1"),
          int64f(2, 9947485, "ddbField2"),
          int64f(3, 11739624, "ddbField3"),
          int64f(4, 8568816, "ddbField4"),
          textf(5, 5, 14121126, "ddbField5"),
          int64f(13, 349703, "ddbField13"),
      }),
      message<StickyAlertsEntity>({
          objectf(1, 10347491, DDBEntity::kClassKey, "entity"),
          textf(4, 10, 9971982, "ddbField5"),
          int64f(17, 6332284, "ddbField4"),
          int64f(18, 11554268, "ddbField3"),
      }),
      message<DDBEntity>({
          int64f(100, 4239216, "ddbField2"),
          int64f(105, 10691976, "ddbField1"),
      }),
      message<NtClientAlertAdditionalInfo>({
          int64f(1, 7176824, "isPercentage"),
      }),

      // ---- user and user-group details ---------------------------------
      message<Api::UserAndUserGroupAlertInfo>({
          objectf(1, 3599307, UserEntity::kClassKey, "user"),
          objectf(2, 15319412, UserGroupEntity::kClassKey, "userGroup"),
      }),
      message<UserEntity>({
          int64f(0, 2829894, "userId"),
          textf(2, 5, 1768694, "userName"),
      }),
      message<UserGroupEntity>({
          int64f(0, 8338863, "userGroupId"),
          textf(1, 1, 11064863, "userGroupName"),
      }),
      message<FileSystemQuotaAlert>({
          int64f(1, 9267235, "quotaLimit"),
          int64f(2, 10842894, "spaceConsumed"),
          int64f(3, 9846752, "objectSize"),
          int64f(4, 633272, "jobId"),
      }),
      message<Api::RoamDriveQuotaAlert>({
          objectf(1, 8052174, SubClientEntity::kClassKey, "subClient"),
          int64f(2, 9267235, "quotaLimit"),
          int64f(3, 10842894, "spaceConsumed"),
          int64f(4, 9846752, "objectSize"),
      }),
      message<SubClientEntity>({
          int64f(0, 10794118, "subClientId"),
      }),

      // ---- saved-query results and trends (read by number only) --------
      message<QueryResultsContainer>({
          int64f(1, 0, "queryId"),
          textf(2, 0, "entityKey"),
          objectf(6, 0, QueryResultEntity::kClassKey, "entity"),
          objectsf(9, 0, LMTrendAlertEntry::kClassKey, "trendEntries"),
          int64f(10, 0, "ruleId"),
          objectf(13, 0, QueryResultClientInfo::kClassKey, "client"),
          int32f(16, 0, "field16"),
          int32f(17, 0, "field17"),
          int32f(19, 0, "conditionCleared"),
          int32f(20, 0, "resultStatus"),
      }),
      message<QueryResultsContainerList>({
          objectsf(1, 0, QueryResultsContainer::kClassKey, "containers"),
      }),
      message<QueryResultEntity>({
          objectsf(1, 0, QueryResultColumnValuePair::kClassKey, "columnValues"),
      }),
      message<QueryResultClientInfo>({
          textf(1, 0, "clientName"),
      }),
      message<QueryResultColumnValuePair>({
          textf(2, 0, "value"),
          textf(3, 0, "column"),
      }),
      message<LMTrendAlertEntry>({
          textf(1, 0, "message"),
          objectf(2, 0, LMTrendMetaDataList::kClassKey, "metaData"),
          textf(3, 0, "extra"),
      }),
      message<LMTrendMetaDataList>({
          objectsf(1, 0, LMTrendMetaData::kClassKey, "metaDataList"),
      }),
      message<LMTrendMetaData>({
          textf(1, 0, "name"),
          textf(2, 0, "val"),
      }),
      // Integers and texts share the numbers 7 and 8 here: different fields.
      message<LogMonitoringAlert>({
          int32f(1, 0, "clientId"),
          int32f(2, 0, "monPolId"),
          textf(3, 0, "monPolName"),
          textf(6, 0, "comment"),
          textf(7, 0, "linesMatched"),
          int32f(7, 0, "monitoringCriteriaId"),
          int32f(8, 0, "lineNum"),
          textf(8, 0, "linesAbove"),
          textf(9, 0, "linesBelow"),
          textf(10, 0, "attachedFilePath"),
          int64f(29, 0, "jobId"),
      }),

      // ---- administrative alerts ---------------------------------------
      message<NtAdminAlertAdditionalInfo>({
          textf(1, 0, "reportName"),
          objectf(2, 0, NtAdminAlertDetails::kClassKey, "details"),
          objectsf(3, 0, 0, "detailObjects"),  // any class; each is stored serialised
      }),
      message<NtAdminAlertDetails>({
          int64f(2, 0, "repeatJobCount"),
          int64f(3, 0, "field3"),
          objectsf(4, 0, NtAdminAlertEntry::kClassKey, "list4"),
          objectsf(5, 0, NtAdminAlertEntry::kClassKey, "list5"),
          int64f(6, 0, "field6"),
          objectsf(7, 0, NtAdminAlertEntry::kClassKey, "list7"),
          int64f(8, 0, "field8"),
      }),
      message<NtAdminAlertEntry>({
          int64f(1, 0, "value"),
          textf(2, 0, "text"),
      }),
      message<ExternalQueryResult>({
          textsf(1, 0, "values"),
      }),

      // ---- console and metadata ----------------------------------------
      message<NXGui::ZentraTreeNode>({
          int32f(0, 0, "kind"),  // 2 the whole installation, 3 a client
          objectsf(12, 0, NXGui::ZentraTreeNode::kClassKey, "entities"),
          textf(18, 0, "name"),
      }),
      message<NXMeta::AnnotationText>({
          textf(0, 0, "text"),
      }),

      // ---- enumerations ------------------------------------------------
      enumeration("JobManager::NXMaltrexUpdateStatus", kUpdateStatusEnumTag,
                  {
                      {0, "Pending", "Waiting to start"},
                      {1, "Running", "In progress"},
                      {2, "Succeeded", "Updated successfully"},
                      {3, "Failed", "Update failed"},
                      {4, "Skipped", "Skipped, already up to date"},
                      {5, "RebootRequired", "Updated, reboot required"},
                      {6, "Killed", ""},
                      {7, "NoUpdatesNeeded", ""},
                  }),
  };
}

struct TypeLess {
  bool operator()(const CNTypePair& a, const CNTypePair& b) const {
    return a.major != b.major ? a.major < b.major : a.minor < b.minor;
  }
};

struct Registry {
  std::vector<CNClassDef> table = buildTable();
  std::vector<const CNClassDef*> all;
  std::unordered_map<uint32_t, const CNClassDef*> byKey;
  std::map<CNTypePair, const CNClassDef*, TypeLess> byType;

  Registry() {
    for (const CNClassDef& c : table) {
      all.push_back(&c);
      byKey.emplace(c.classKey, &c);
      if (!c.isEnum) byType.emplace(c.type, &c);
    }
  }
};

const Registry& registry() {
  static const Registry r;
  return r;
}

}  // namespace

const CNClassDef* CNFindClass(uint32_t classKey) {
  const Registry& r = registry();
  auto it = r.byKey.find(classKey);
  return it == r.byKey.end() ? nullptr : it->second;
}

const CNClassDef* CNFindClass(CNTypePair type) {
  const Registry& r = registry();
  auto it = r.byType.find(type);
  return it == r.byType.end() ? nullptr : it->second;
}

const std::vector<const CNClassDef*>& CNAllClasses() { return registry().all; }
