#include <cstdio>
#include <string>
#include <string_view>

#include "tools/evdetect/commands.h"

namespace evdetect {
namespace {

// Length of the well-formed UTF-8 sequence at s[i], 0 when it is not one.
size_t utf8Length(std::string_view s, size_t i, unsigned* cp) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
  size_t len;
  unsigned v, min;
  if (b(0) < 0x80) { *cp = b(0); return 1; }
  if ((b(0) & 0xE0) == 0xC0) { len = 2; v = b(0) & 0x1Fu; min = 0x80; }
  else if ((b(0) & 0xF0) == 0xE0) { len = 3; v = b(0) & 0x0Fu; min = 0x800; }
  else if ((b(0) & 0xF8) == 0xF0) { len = 4; v = b(0) & 0x07u; min = 0x10000; }
  else return 0;
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((b(k) & 0xC0) != 0x80) return 0;
    v = (v << 6) | (b(k) & 0x3Fu);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *cp = v;
  return len;
}

void hexByte(std::string& out, unsigned char c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\x%02x", c);
  out += buf;
}

}  // namespace

std::string shown(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    unsigned cp = 0;
    const size_t len = utf8Length(text, i, &cp);
    if (len == 0) {
      hexByte(out, static_cast<unsigned char>(text[i]));
      ++i;
      continue;
    }
    if (cp == '\n') out += "\\n";
    else if (cp == '\r') out += "\\r";
    else if (cp == '\t') out += "\\t";
    else if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0))
      for (size_t k = 0; k < len; ++k) hexByte(out, static_cast<unsigned char>(text[i + k]));
    else out.append(text.substr(i, len));
    i += len;
  }
  return out;
}

namespace {
std::string g_secret;
}  // namespace

void hidePasswordOf(const std::string& db) {
  // The database layer masks passwords of URIs; a libpq "key=value" string
  // reaches error texts as it was given.
  if (db.find("://") != std::string::npos) return;
  for (size_t p = db.find("password"); p != std::string::npos; p = db.find("password", p + 1)) {
    if (p > 0 && db[p - 1] != ' ') continue;
    size_t i = db.find_first_not_of(' ', p + 8);
    if (i == std::string::npos || db[i] != '=') continue;
    i = db.find_first_not_of(' ', i + 1);
    if (i == std::string::npos) return;
    const bool quoted = db[i] == '\'';
    const size_t end = quoted ? db.find('\'', i + 1) : db.find(' ', i);
    g_secret = db.substr(quoted ? i + 1 : i, (end == std::string::npos ? db.size() : end) - (quoted ? i + 1 : i));
    return;
  }
}

void error(const std::string& message) {
  std::string m = message;
  if (!g_secret.empty())
    for (size_t p = m.find(g_secret); p != std::string::npos; p = m.find(g_secret, p + 3)) m.replace(p, g_secret.size(), "***");
  std::fprintf(stderr, "evdetect: %s\n", shown(m).c_str());
}

}  // namespace evdetect
