#include "db/sql_format.h"

#include <cctype>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Db::detail {
namespace {

bool isIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@'; }

// One parsed printf conversion.
struct Spec {
  std::string text;  // the whole conversion as written, "%-5lld"
  char conv = 0;
  int length = 0;    // 0 none, 1 l, 2 ll, -1 h, -2 hh, 3 z/j/t, 4 L
  bool hasPrecision = false;
  int precision = 0;
};

// Parses the conversion starting at f ('%'); returns its end.
const char* parseSpec(const char* f, Spec& s, va_list* ap) {
  const char* start = f++;
  while (*f && std::strchr("-+ #0'", *f)) ++f;
  if (*f == '*') { (void)va_arg(*ap, int); ++f; } else while (std::isdigit(static_cast<unsigned char>(*f))) ++f;
  if (*f == '.') {
    ++f;
    s.hasPrecision = true;
    if (*f == '*') { s.precision = va_arg(*ap, int); ++f; }
    else { s.precision = std::atoi(f); while (std::isdigit(static_cast<unsigned char>(*f))) ++f; }
  }
  if (f[0] == 'h' && f[1] == 'h') { s.length = -2; f += 2; }
  else if (f[0] == 'h') { s.length = -1; ++f; }
  else if (f[0] == 'l' && f[1] == 'l') { s.length = 2; f += 2; }
  else if (f[0] == 'l') { s.length = 1; ++f; }
  else if (f[0] == 'q') { s.length = 2; ++f; }
  else if (f[0] == 'z' || f[0] == 'j' || f[0] == 't') { s.length = 3; ++f; }
  else if (f[0] == 'L') { s.length = 4; ++f; }
  s.conv = *f;
  if (*f) ++f;
  s.text.assign(start, f);
  return f;
}

// Pulls one argument for SPEC and turns it into a typed value.
bool takeArg(const Spec& s, va_list* ap, Param& out) {
  switch (s.conv) {
    case 'd': case 'i': {
      long long v;
      if (s.length == 2) v = va_arg(*ap, long long);
      else if (s.length == 1) v = va_arg(*ap, long);
      else if (s.length == 3) v = va_arg(*ap, ssize_t);
      else v = va_arg(*ap, int);
      if (s.length == -1) v = static_cast<short>(v);
      if (s.length == -2) v = static_cast<signed char>(v);
      out = Param::integer(v);
      return true;
    }
    case 'u': case 'x': case 'X': case 'o': {
      unsigned long long v;
      if (s.length == 2) v = va_arg(*ap, unsigned long long);
      else if (s.length == 1) v = va_arg(*ap, unsigned long);
      else if (s.length == 3) v = va_arg(*ap, size_t);
      else v = va_arg(*ap, unsigned int);
      if (s.length == -1) v = static_cast<unsigned short>(v);
      if (s.length == -2) v = static_cast<unsigned char>(v);
      if (v > static_cast<unsigned long long>(LLONG_MAX)) out = Param::text(std::to_string(v));
      else out = Param::integer(static_cast<long long>(v));
      return true;
    }
    case 'c': out = Param::text(std::string(1, static_cast<char>(va_arg(*ap, int)))); return true;
    case 'f': case 'F': case 'g': case 'G': case 'e': case 'E':
      out = Param::real(s.length == 4 ? static_cast<double>(va_arg(*ap, long double)) : va_arg(*ap, double));
      return true;
    case 's': {
      const char* v = va_arg(*ap, const char*);
      std::string t = v ? v : "";
      if (s.hasPrecision && s.precision >= 0 && t.size() > static_cast<size_t>(s.precision)) t.resize(s.precision);
      out = Param::text(std::move(t));
      return true;
    }
    case 'p': {
      const auto* dt = static_cast<const DB_DATETIME*>(va_arg(*ap, const void*));
      out = dt ? Param::datetime(*dt) : Param::datetime(DB_DATETIME());
      return true;
    }
    default: return false;
  }
}

// Text of a value as printf would have written it inside a literal.
std::string renderForLiteral(const Spec& s, const Param& p) {
  char buf[128];
  switch (p.kind) {
    case Param::Int:
      if (s.conv == 'x' || s.conv == 'X' || s.conv == 'o') {
        const auto v = static_cast<unsigned long long>(p.i);
        if (s.conv == 'x') std::snprintf(buf, sizeof buf, "%llx", v);
        else if (s.conv == 'X') std::snprintf(buf, sizeof buf, "%llX", v);
        else std::snprintf(buf, sizeof buf, "%llo", v);
        return buf;
      }
      return std::to_string(p.i);
    case Param::Real: std::snprintf(buf, sizeof buf, "%g", p.d); return buf;
    case Param::DateTime: { DB_DATETIME d; d = p.dt; return d.toString(true); }
    default: return p.s;
  }
}

void appendStatic(std::string& sql, const char* b, const char* e) {
  // Outside quotes: N'..' prefixes are handled by the caller; hex literals
  // become decimal so PostgreSQL (which lacks them before 16) accepts them.
  for (const char* p = b; p < e; ++p) {
    if (p[0] == '0' && p + 2 < e + 1 && (p[1] == 'x' || p[1] == 'X') && p + 2 < e &&
        std::isxdigit(static_cast<unsigned char>(p[2])) && (p == b || !isIdentChar(p[-1])) &&
        (sql.empty() || !isIdentChar(sql.back()))) {
      const char* q = p + 2;
      unsigned long long v = 0;
      while (q < e && std::isxdigit(static_cast<unsigned char>(*q))) {
        v = v * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(*q)) ? *q - '0'
                                                                                       : (std::tolower(*q) - 'a' + 10));
        ++q;
      }
      if (q == e || !isIdentChar(*q)) {
        sql += std::to_string(v);
        p = q - 1;
        continue;
      }
    }
    sql += *p;
  }
}

}  // namespace

int translateFormat(const char* format, va_list apIn, std::string& sql, std::vector<Param>& params,
                    std::string* error) {
  va_list ap;
  va_copy(ap, apIn);
  sql.clear();
  const char* f = format ? format : "";
  const char* run = f;  // start of static text not yet copied
  int rc = 0;
  auto bad = [&](const std::string& why) {
    if (error) *error = "bad SQL format \"" + std::string(format ? format : "") + "\": " + why;
    rc = DB_ERR_FORMAT;
  };
  while (*f && rc == 0) {
    if (*f == '%') {
      if (f[1] == '%') { appendStatic(sql, run, f); sql += '%'; f += 2; run = f; continue; }
      appendStatic(sql, run, f);
      Spec s;
      f = parseSpec(f, s, &ap);
      Param p;
      if (!takeArg(s, &ap, p)) { bad("unsupported conversion " + s.text); break; }
      params.push_back(std::move(p));
      sql += '?';
      run = f;
      continue;
    }
    if (*f == '\'') {
      // Wide-literal prefix: drop the N that stands alone before the quote.
      const char* litStart = f;
      bool wide = f > format && (f[-1] == 'N' || f[-1] == 'n') && (f - 1 == format || !isIdentChar(f[-2]));
      appendStatic(sql, run, wide ? f - 1 : f);
      std::string value;
      bool hasConversion = false;
      ++f;
      for (;;) {
        if (*f == '\0') { bad("unterminated quoted text"); break; }
        if (*f == '\'') {
          if (f[1] == '\'') { value += '\''; f += 2; continue; }
          ++f;
          break;
        }
        if (*f == '%') {
          if (f[1] == '%') { value += '%'; f += 2; continue; }
          Spec s;
          f = parseSpec(f, s, &ap);
          Param p;
          if (!takeArg(s, &ap, p)) { bad("unsupported conversion " + s.text); break; }
          value += renderForLiteral(s, p);
          hasConversion = true;
          continue;
        }
        value += *f++;
      }
      if (rc) break;
      if (hasConversion) {
        params.push_back(Param::text(std::move(value)));
        sql += '?';
      } else {
        // A fixed literal stays in the statement text, quotes doubled again.
        sql += '\'';
        for (char c : value) { sql += c; if (c == '\'') sql += '\''; }
        sql += '\'';
      }
      (void)litStart;
      run = f;
      continue;
    }
    ++f;
  }
  if (rc == 0) appendStatic(sql, run, f);
  va_end(ap);
  return rc;
}

int valuesToParams(const std::string& sql, const std::vector<Param>& params, std::vector<Param>& out,
                   std::string* error) {
  size_t next = 0;
  size_t i = 0;
  auto skipSpace = [&] { while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i; };
  while (true) {
    skipSpace();
    if (i >= sql.size()) break;
    if (sql[i] == '?') {
      if (next >= params.size()) break;
      out.push_back(params[next++]);
      ++i;
    } else if (sql[i] == '\'') {
      std::string v;
      ++i;
      while (i < sql.size()) {
        if (sql[i] == '\'') { if (i + 1 < sql.size() && sql[i + 1] == '\'') { v += '\''; i += 2; continue; } ++i; break; }
        v += sql[i++];
      }
      out.push_back(Param::text(std::move(v)));
    } else {
      size_t start = i;
      while (i < sql.size() && sql[i] != ',') ++i;
      std::string tok = sql.substr(start, i - start);
      while (!tok.empty() && std::isspace(static_cast<unsigned char>(tok.back()))) tok.pop_back();
      if (tok == "NULL" || tok == "null") { out.push_back(Param()); }
      else {
        char* end = nullptr;
        long long v = std::strtoll(tok.c_str(), &end, 10);
        if (tok.empty() || *end != '\0') {
          if (error) *error = "bad values list item \"" + tok + "\"";
          return DB_ERR_FORMAT;
        }
        out.push_back(Param::integer(v));
      }
    }
    skipSpace();
    if (i < sql.size() && sql[i] == ',') ++i;
  }
  return 0;
}

std::string finalizeSql(const std::string& sql, Dialect dialect) {
  std::string out;
  out.reserve(sql.size() + 16);
  int n = 0;
  char quote = 0;
  for (size_t i = 0; i < sql.size(); ++i) {
    char c = sql[i];
    if (quote) { out += c; if (c == quote) quote = 0; continue; }
    if (c == '\'' || c == '"') { quote = c; out += c; continue; }
    if (c == '?' && dialect == Dialect::PostgreSQL) { out += '$'; out += std::to_string(++n); continue; }
    if (c == '$' && dialect == Dialect::SQLite && i + 1 < sql.size() &&
        std::isdigit(static_cast<unsigned char>(sql[i + 1]))) {
      out += '?';
      continue;
    }
    out += c;
  }
  return out;
}

bool isTransactionControl(const std::string& sql) {
  size_t p = sql.find_first_not_of(" \t\n");
  if (p == std::string::npos) return false;
  std::string word;
  while (p < sql.size() && std::isalpha(static_cast<unsigned char>(sql[p])))
    word += static_cast<char>(std::toupper(static_cast<unsigned char>(sql[p++])));
  return word == "BEGIN" || word == "COMMIT" || word == "END" || word == "ROLLBACK" || word == "SAVEPOINT" ||
         word == "RELEASE";
}

}  // namespace Db::detail
