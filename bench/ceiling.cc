#include "bench/ceiling.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

namespace evd::bench {
namespace {

bool firstWordIs(const std::string& sql, const char* word) {
  size_t i = 0;
  while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
  const size_t n = std::strlen(word);
  return sql.size() - i >= n && strncasecmp(sql.c_str() + i, word, n) == 0 &&
         (sql.size() - i == n || !std::isalnum(static_cast<unsigned char>(sql[i + n])));
}

bool containsWord(const std::string& sql, const char* word) {
  std::string upper(sql.size(), ' ');
  std::transform(sql.begin(), sql.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  return upper.find(word) != std::string::npos;
}

// An INSERT of plain rows: its text up to and with "VALUES " and its row
// count. False for anything else (an id read back, a conflict clause).
bool plainInsert(const Statement& s, std::string* head, size_t* rows) {
  if (!firstWordIs(s.sql, "INSERT") || createsOccurrence(s.sql) || containsWord(s.sql, "RETURNING") ||
      containsWord(s.sql, "ON CONFLICT"))
    return false;
  const size_t values = s.sql.find(" VALUES ");
  if (values == std::string::npos) return false;
  *head = s.sql.substr(0, values + 8);
  *rows = 0;
  int depth = 0;
  for (size_t i = values + 8; i < s.sql.size(); ++i) {
    const char c = s.sql[i];
    if (c == '\'') {
      i = s.sql.find('\'', i + 1);
      if (i == std::string::npos) return false;
    } else if (c == '(') {
      if (depth++ == 0) ++*rows;
    } else if (c == ')') {
      --depth;
    }
  }
  return *rows > 0 && s.values.size() % *rows == 0;
}

// The INSERT of ROWS rows of VALUES (row after row), with this backend's placeholders.
Statement insertOf(const std::string& head, size_t rows, std::vector<Value> values, bool postgres) {
  Statement st;
  st.sql = head;
  const size_t columns = values.size() / rows;
  size_t n = 0;
  for (size_t r = 0; r < rows; ++r) {
    st.sql += r ? ", (" : "(";
    for (size_t c = 0; c < columns; ++c) {
      const std::string ph = postgres ? "$" + std::to_string(++n) : "?";
      st.sql += (c ? ", " : "") + ph;
      st.placeholders.push_back(ph);
    }
    st.sql += ")";
  }
  st.values = std::move(values);
  return st;
}

}  // namespace

Sequence ceilingOf(const Sequence& captured, bool multiRow, bool postgres) {
  Sequence out;
  std::map<std::string, size_t> merged;  // multi-row: a table's INSERT in OUT
  std::vector<size_t> rowsOf;            // rows of each statement of OUT
  for (const Statement& s : captured) {
    if (!firstWordIs(s.sql, "INSERT") && !firstWordIs(s.sql, "UPDATE") && !firstWordIs(s.sql, "DELETE")) continue;
    std::string head;
    size_t rows = 0;
    if (!plainInsert(s, &head, &rows)) {
      out.push_back(s);
      rowsOf.push_back(0);
      continue;
    }
    const size_t columns = s.values.size() / rows;
    if (!multiRow) {
      for (size_t r = 0; r < rows; ++r) {
        std::vector<Value> one(s.values.begin() + static_cast<long>(r * columns),
                               s.values.begin() + static_cast<long>((r + 1) * columns));
        out.push_back(insertOf(head, 1, std::move(one), postgres));
        rowsOf.push_back(1);
      }
      continue;
    }
    const auto [it, first] = merged.emplace(head, out.size());
    if (first) {
      out.push_back(insertOf(head, rows, s.values, postgres));
      rowsOf.push_back(rows);
      continue;
    }
    std::vector<Value> values = out[it->second].values;
    values.insert(values.end(), s.values.begin(), s.values.end());
    rowsOf[it->second] += rows;
    out[it->second] = insertOf(head, rowsOf[it->second], std::move(values), postgres);
  }
  return out;
}

}  // namespace evd::bench
