// What the saved-query and log-monitoring handlers share: the trend rule's
// query alert kind, the message fields they read, and the plain step that
// turns a container's trend entries into column values.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/messages/message_classes.h"

namespace queries {

// The query alert kind GetAlertTypeForLMAlerts gives a trend rule.
inline constexpr int kTrendRuleKind = 3;

using Container = App::QueryResultsContainer::Fields;
using ContainerList = App::QueryResultsContainerList::Fields;
using Entity = App::QueryResultEntity::Fields;
using ColumnValue = App::QueryResultColumnValuePair::Fields;
using ClientInfo = App::QueryResultClientInfo::Fields;
using TrendEntry = App::LMTrendAlertEntry::Fields;
using TrendMetaData = App::LMTrendMetaDataList::Fields;

// The link that stands for a trend entry's extra text, made from the entry's
// metadata (its name/value list); nullopt when it cannot be made.
using TrendLink =
    std::function<std::optional<std::string>(const CNMessageBase& metaData, const std::string& extra)>;

// The column values of CONTAINER's trend entries, in order: each entry's
// message, followed by a blank and its extra text when there is one. An
// entry with metadata has its extra text replaced by LINK's. nullopt when a
// link fails. Reads nothing but the container.
std::optional<std::vector<std::string>> trendColumnValues(const App::QueryResultsContainer& container,
                                                          const TrendLink& link);

// The link of one trend entry of RULEID to the monitoring page under
// CONSOLEURL (NTRetrieveBrowserUrlForTrendAlert); logs and gives nullopt on
// a failure.
std::optional<std::string> trendPageLink(int ruleId, const std::string& consoleUrl, const CNMessageBase& metaData,
                                         const std::string& extra);

}  // namespace queries
