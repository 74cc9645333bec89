#include "support/table_dump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <regex>
#include <set>
#include <tuple>

#include "db/catalog.h"
#include "db/session.h"
#include "schema/schema.h"

namespace evd::test {
namespace {

std::vector<std::string> column0(Db::detail::Session& s, const std::string& sql) {
  int rc = 0;
  std::vector<std::string> out;
  auto st = s.backend().prepare(sql, &rc);
  EXPECT_TRUE(st) << s.backend().lastError();
  if (!st || st->execute({}) != 0) return out;
  while (st->fetch() == 0) out.emplace_back(st->getText(0, nullptr));
  return out;
}

std::string masked(const std::string& text) {
  static const std::regex dateTime(R"(\d{4}-\d\d-\d\d[ T]\d\d:\d\d:\d\d(\.\d+)?)");
  static const std::regex epoch(R"(\b1[6-9]\d{8}\b)");
  return std::regex_replace(std::regex_replace(text, dateTime, "T"), epoch, "T");
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

bool isOccurrenceId(const std::vector<std::string>& columns, size_t c) {
  return c < columns.size() && lower(columns[c]) == "eventid";
}

}  // namespace

Dump dumpAll(DumpOptions options) {
  int rc = 0;
  std::string err;
  Db::detail::Session* s = Db::detail::Session::current(&rc, &err);
  EXPECT_TRUE(s) << err;
  if (s == nullptr) return {};
  // Column names by table (lower case), in the order SELECT * gives them.
  std::map<std::string, std::vector<std::string>> names;
  for (const Db::schema::ExpectedTable& t : Db::schema::expectedTables(s->dialect()))
    names[lower(t.name)] = t.columns;
  const bool sqlite = s->dialect() == Db::detail::Dialect::SQLite;
  std::map<std::string, std::vector<std::vector<std::string>>> tables;
  std::set<long long> occurrenceIds;
  for (const std::string& table :
       column0(*s, sqlite ? "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%'"
                          : "SELECT tablename FROM pg_catalog.pg_tables WHERE schemaname = current_schema()")) {
    auto st = s->backend().prepare("SELECT * FROM " + table, &rc);
    EXPECT_TRUE(st && st->execute({}) == 0) << table << ": " << s->backend().lastError();
    const std::string key = lower(table);  // PostgreSQL folds the names to lower case
    const std::vector<std::string>& columns = names[key];
    auto& rows = tables[key];
    while (st && st->fetch() == 0) {
      std::vector<std::string>& row = rows.emplace_back();
      for (int c = 0; c < st->columnCount(); ++c) {
        row.push_back(st->isNull(c) ? "\\N" : st->getText(c, nullptr));
        if (options.maskTimes) row.back() = masked(row.back());
        if (options.rankOccurrenceIds && isOccurrenceId(columns, c)) occurrenceIds.insert(std::atoll(row.back().c_str()));
      }
    }
  }
  Dump dump;
  for (auto& [table, rows] : tables) {
    const std::vector<std::string>& columns = names[table];
    const auto rowIdAt = std::find_if(columns.begin(), columns.end(),
                                      [](const std::string& c) { return c == Db::detail::kRowIdColumn; });
    const size_t rowId = static_cast<size_t>(rowIdAt - columns.begin());
    if (options.rankRowIds && rowIdAt != columns.end()) {
      std::stable_sort(rows.begin(), rows.end(), [&](const auto& a, const auto& b) {
        return std::atoll(a[rowId].c_str()) < std::atoll(b[rowId].c_str());
      });
      for (size_t r = 0; r < rows.size(); ++r) rows[r][rowId] = "#" + std::to_string(r);
    }
    std::vector<std::string>& out = dump[table];
    for (std::vector<std::string>& row : rows) {
      std::string text;
      for (size_t c = 0; c < row.size(); ++c) {
        if (options.rankOccurrenceIds && isOccurrenceId(columns, c)) {
          const long long id = std::atoll(row[c].c_str());
          row[c] = id == 0 ? "0" : "o" + std::to_string(std::distance(occurrenceIds.begin(), occurrenceIds.find(id)));
        }
        text += row[c] + "|";
      }
      out.push_back(std::move(text));
    }
    std::sort(out.begin(), out.end());
  }
  return dump;
}

std::string difference(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::string out;
  for (const auto& [from, to, sign] : {std::tuple{&a, &b, "-"}, std::tuple{&b, &a, "+"}}) {
    int shown = 0;
    for (const std::string& row : *from)
      if (!std::binary_search(to->begin(), to->end(), row) && shown++ < 3) out += std::string("\n ") + sign + row;
  }
  return out;
}

std::map<std::string, long long> sizes(const Dump& dump) {
  std::map<std::string, long long> out;
  for (const auto& [table, rows] : dump) out[table] = static_cast<long long>(rows.size());
  return out;
}

}  // namespace evd::test
