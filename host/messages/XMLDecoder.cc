// The XML form of messages (docs/messages.md):
//
//   <message type="30,1880" class="507417001">
//     <int field="1" key="4371981">12</int>
//     <text field="3">a text</text>
//     <object field="1"> ...fields of the nested class... </object>
//     <list field="9"><object> ... </object><object> ... </object></list>
//     <list field="1"><text>a</text><text>b</text></list>
//   </message>
//
// The element names the accessor family, `field` and/or `key` the field, the
// class fixes everything else. Reading is strict: whatever the class does not
// know is an error, so a hand-written description with a typo fails loudly
// instead of reading as "not set".
#include "host/messages/XMLDecoder.h"

#include <charconv>
#include <climits>
#include <cstring>
#include <limits>
#include <pugixml.hpp>
#include <utility>

#include "host/messages/message_classes.h"

// The reader and the writer work on the field values directly.
struct CNMessageAccess {
  static const CNClassDef* def(const CNMessageBase& m) { return m.m_def; }
  static auto& values(CNMessageBase& m) { return m.m_values; }
  static const auto& values(const CNMessageBase& m) { return m.m_values; }
  template <class V>
  static bool isSet(const V& v) {
    return CNMessageBase::valueIsSet(v);
  }
  static void reset(CNMessageBase& m) { m.resetValues(); }
};

namespace {

using A = CNMessageAccess;

constexpr unsigned kParseFlags =
    pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol | pugi::parse_ws_pcdata | pugi::parse_fragment;

// ---- input screening ----------------------------------------------------------

// The characters an XML 1.0 document may hold, raw or as a reference.
bool isXmlChar(uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

// Length of the well-formed UTF-8 sequence at text[i] (its code point in
// *cp), or 0 for an ill-formed one: overlong forms, surrogates and values
// past U+10FFFF are ill-formed.
std::size_t utf8At(std::string_view text, std::size_t i, uint32_t* cp) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char c = b(0);
  std::size_t len;
  uint32_t v, min;
  if (c < 0x80) { *cp = c; return 1; }
  if ((c & 0xE0) == 0xC0) { len = 2; v = c & 0x1F; min = 0x80; }
  else if ((c & 0xF0) == 0xE0) { len = 3; v = c & 0x0F; min = 0x800; }
  else if ((c & 0xF8) == 0xF0) { len = 4; v = c & 0x07; min = 0x10000; }
  else return 0;
  if (i + len > text.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    if ((b(k) & 0xC0) != 0x80) return 0;
    v = (v << 6) | (b(k) & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *cp = v;
  return len;
}

// The reference at text[i] ('&'): its length when it is one of the five
// predefined entities or a character reference to an XML character, else 0.
// No document type is read, so no other entity exists.
std::size_t referenceAt(std::string_view text, std::size_t i) {
  const std::size_t semi = text.find(';', i);
  if (semi == std::string_view::npos || semi - i > 12) return 0;
  const std::string_view name = text.substr(i + 1, semi - i - 1);
  if (name == "amp" || name == "lt" || name == "gt" || name == "apos" || name == "quot") return semi - i + 1;
  if (name.size() < 2 || name[0] != '#') return 0;
  const bool hex = name[1] == 'x';
  const std::string_view digits = name.substr(hex ? 2 : 1);
  if (digits.empty()) return 0;
  uint32_t value = 0;
  for (const char c : digits) {
    uint32_t d;
    if (c >= '0' && c <= '9') d = static_cast<uint32_t>(c - '0');
    else if (hex && c >= 'a' && c <= 'f') d = static_cast<uint32_t>(c - 'a' + 10);
    else if (hex && c >= 'A' && c <= 'F') d = static_cast<uint32_t>(c - 'A' + 10);
    else return 0;
    value = value * (hex ? 16u : 10u) + d;
    if (value > 0x10FFFF) return 0;  // before it can wrap
  }
  return isXmlChar(value) ? semi - i + 1 : 0;
}

// Refuses, before the parser sees it, whatever XML 1.0 forbids or we do not
// read: characters outside the XML character set (raw, as ill-formed UTF-8 or
// as a reference), references to entities that are not predefined, document
// type declarations (entity definitions) and processing instructions other
// than the leading <?xml ...?> declaration. The parser would skip or keep
// those silently, turning a bad text into a different message.
int screen(std::string_view text, std::string& error) {
  if (text.empty()) {
    error = "empty input";
    return CN_ERR_EMPTY_INPUT;
  }
  if (text.size() > kCNMaxInputBytes) {
    error = "input of " + std::to_string(text.size()) + " bytes, at most " + std::to_string(kCNMaxInputBytes);
    return CN_ERR_TOO_LARGE;
  }
  const auto bad = [&](const std::string& what, std::size_t at) {
    error = what + " at offset " + std::to_string(at);
    return CN_ERR_MALFORMED;
  };
  // Every node of the parsed tree starts at a '<' (or sits between two), so
  // counting them bounds the parser's memory before it allocates anything.
  std::size_t tags = 0;
  const std::size_t bom = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  for (std::size_t i = 0; i < text.size();) {
    uint32_t cp = 0;
    const std::size_t len = utf8At(text, i, &cp);
    if (len == 0) return bad("byte that is not UTF-8", i);
    if (!isXmlChar(cp)) return bad(cp == 0 ? "NUL character" : "character not allowed in XML", i);
    const std::string_view rest = text.substr(i);
    if (cp == '<' && ++tags > 2 * kCNMaxNodes + 2) {
      error = "more than " + std::to_string(kCNMaxNodes) + " elements";
      return CN_ERR_TOO_MANY_NODES;
    }
    // Comments and CDATA sections hold any characters, references included.
    std::string_view close;
    if (rest.substr(0, 4) == "<!--") close = "-->";
    else if (rest.substr(0, 9) == "<![CDATA[") close = "]]>";
    if (!close.empty()) {
      const std::size_t end = text.find(close, i + 4);
      if (end == std::string_view::npos) return bad("unterminated comment or CDATA section", i);
      for (std::size_t j = i + 4; j < end;) {
        const std::size_t l = utf8At(text, j, &cp);
        if (l == 0) return bad("byte that is not UTF-8", j);
        if (!isXmlChar(cp)) return bad(cp == 0 ? "NUL character" : "character not allowed in XML", j);
        j += l;
      }
      i = end + close.size();
      continue;
    }
    if (rest.substr(0, 2) == "<!") return bad("document type declaration (not allowed)", i);
    if (rest.substr(0, 2) == "<?") {
      const bool declaration = i == bom && rest.size() > 5 && rest.substr(0, 5) == "<?xml" &&
                               (rest[5] == ' ' || rest[5] == '\t' || rest[5] == '\r' || rest[5] == '\n');
      if (!declaration) return bad("processing instruction (not allowed)", i);
    }
    if (cp == '&') {
      const std::size_t ref = referenceAt(text, i);
      if (ref == 0) return bad("undeclared entity or reference to a character not allowed in XML", i);
      i += ref;
      continue;
    }
    i += len;
  }
  return CN_OK;
}

// ---- small parsers ----------------------------------------------------------------

bool parseUnsigned(const char* s, uint32_t& out) {
  const std::size_t n = std::strlen(s);
  if (n == 0 || s[0] < '0' || s[0] > '9') return false;
  auto r = std::from_chars(s, s + n, out);
  return r.ec == std::errc() && r.ptr == s + n;
}

bool parseNumber(const char* s, int& out) {
  uint32_t v = 0;
  if (!parseUnsigned(s, v) || v > static_cast<uint32_t>(INT_MAX)) return false;
  out = static_cast<int>(v);
  return true;
}

bool parseTypePair(const char* s, CNTypePair& out) {
  const char* comma = std::strchr(s, ',');
  if (!comma) return false;
  const std::string major(s, comma);
  return parseNumber(major.c_str(), out.major) && parseNumber(comma + 1, out.minor);
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool parseInt64(std::string_view s, int64_t& out) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// Input texts quoted in error descriptions, cut so that a hostile attribute
// cannot make the caller's log line huge.
std::string cut(const char* s) {
  constexpr std::size_t kMax = 40;
  const std::size_t n = std::strlen(s);
  return n <= kMax ? std::string(s) : std::string(s, kMax) + "...";
}

bool allSpace(const char* s) {
  for (; *s; ++s)
    if (!isSpace(*s)) return false;
  return true;
}

// ---- reading --------------------------------------------------------------------

struct Attrs {
  const char* field = nullptr;
  const char* key = nullptr;
  const char* type = nullptr;
  const char* cls = nullptr;
};

enum AttrMask : unsigned { kField = 1, kKey = 2, kType = 4, kClass = 8 };

class Reader {
 public:
  explicit Reader(std::string& error) : m_error(error) {}

  int readRoot(const pugi::xml_document& doc, const CNClassDef*& def, pugi::xml_node& root) {
    bool stray = false;
    for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling()) {
      if (n.type() == pugi::node_element) {
        if (root) return fail(CN_ERR_BAD_STRUCTURE, "more than one root element");
        root = n;
      } else if (!isBlank(n)) {
        stray = true;
      }
    }
    if (!root) return fail(CN_ERR_MALFORMED, "no root element");
    if (stray) return fail(CN_ERR_BAD_STRUCTURE, "text outside the root element");
    if (std::strcmp(root.name(), "message") != 0)
      return fail(CN_ERR_BAD_STRUCTURE, "root element <" + cut(root.name()) + ">, expected <message>");
    Attrs a;
    if (int rc = readAttrs(root, kType | kClass, a)) return rc;
    if (!a.type && !a.cls) return fail(CN_ERR_BAD_STRUCTURE, "<message> names no type or class");
    return resolveClass(a, nullptr, def);
  }

  // Fills `msg` (of class `def`) from the children of `el`.
  int readFields(const pugi::xml_node& el, CNMessageBase& msg, int depth) {
    const CNClassDef& def = *A::def(msg);
    std::vector<bool> seen(def.fields.size(), false);
    for (pugi::xml_node n = el.first_child(); n; n = n.next_sibling()) {
      if (n.type() != pugi::node_element) {
        if (isBlank(n)) continue;
        return fail(CN_ERR_BAD_STRUCTURE, std::string("text among the fields of ") + def.name);
      }
      if (int rc = countNode()) return rc;
      CNFieldFamily family;
      const char* name = n.name();
      if (!std::strcmp(name, "int"))
        family = CNFieldFamily::Integer;
      else if (!std::strcmp(name, "text"))
        family = CNFieldFamily::Text;
      else if (!std::strcmp(name, "object"))
        family = CNFieldFamily::Object;
      else if (!std::strcmp(name, "list"))
        family = CNFieldFamily::List;
      else
        return fail(CN_ERR_BAD_STRUCTURE, "unknown element <" + cut(name) + "> in " + def.name);

      Attrs a;
      if (int rc =
              readAttrs(n, family == CNFieldFamily::Object ? (kField | kKey | kType | kClass) : (kField | kKey), a))
        return rc;
      const CNFieldDef* fd = nullptr;
      if (int rc = resolveField(def, family, a, fd)) return rc;
      const std::size_t idx = static_cast<std::size_t>(fd - def.fields.data());
      if (seen[idx])
        return fail(CN_ERR_DUPLICATE_FIELD, std::string("field ") + fd->name + " of " + def.name + " given twice");
      seen[idx] = true;

      auto& v = A::values(msg)[idx];
      switch (fd->kind) {
        case CNFieldKind::Int32:
        case CNFieldKind::Int64: {
          std::string s;
          if (int rc = readText(n, s)) return rc;
          int64_t x = 0;
          if (!parseInt64(s, x))
            return fail(CN_ERR_BAD_VALUE,
                        std::string("field ") + fd->name + " of " + def.name + ": not a 64-bit integer");
          if (fd->kind == CNFieldKind::Int32 &&
              (x < std::numeric_limits<int32_t>::min() || x > std::numeric_limits<int32_t>::max()))
            return fail(CN_ERR_BAD_VALUE,
                        std::string("field ") + fd->name + " of " + def.name + ": not a 32-bit integer");
          v.data = x;
          break;
        }
        case CNFieldKind::Text: {
          std::string s;
          if (int rc = readText(n, s)) return rc;
          v.data = std::move(s);
          break;
        }
        case CNFieldKind::Object: {
          std::unique_ptr<CNMessageBase> nested;
          if (int rc = readObject(n, a, fd->classKey, depth + 1, nested)) return rc;
          v.data = std::move(nested);
          break;
        }
        case CNFieldKind::ObjectList: {
          CNMessageList list;
          if (int rc = readObjectList(n, *fd, depth, list)) return rc;
          v.data = std::move(list);
          break;
        }
        case CNFieldKind::TextList: {
          std::vector<std::string> list;
          if (int rc = readTextList(n, list)) return rc;
          v.data = std::move(list);
          break;
        }
      }
      v.set = true;
    }
    return CN_OK;
  }

 private:
  int fail(int code, std::string text) {
    m_error = std::move(text);
    return code;
  }

  int countNode() {
    if (++m_nodes > kCNMaxNodes)
      return fail(CN_ERR_TOO_MANY_NODES, "more than " + std::to_string(kCNMaxNodes) + " elements");
    return CN_OK;
  }

  static bool isBlank(const pugi::xml_node& n) { return n.type() == pugi::node_pcdata && allSpace(n.value()); }

  int readAttrs(const pugi::xml_node& el, unsigned allowed, Attrs& a) {
    for (pugi::xml_attribute at = el.first_attribute(); at; at = at.next_attribute()) {
      const char* name = at.name();
      const char** slot = nullptr;
      if ((allowed & kField) && !std::strcmp(name, "field"))
        slot = &a.field;
      else if ((allowed & kKey) && !std::strcmp(name, "key"))
        slot = &a.key;
      else if ((allowed & kType) && !std::strcmp(name, "type"))
        slot = &a.type;
      else if ((allowed & kClass) && !std::strcmp(name, "class"))
        slot = &a.cls;
      if (!slot)
        return fail(CN_ERR_BAD_STRUCTURE, "unexpected attribute " + cut(name) + " on <" + cut(el.name()) + ">");
      if (*slot)
        return fail(CN_ERR_BAD_STRUCTURE, "attribute " + cut(name) + " given twice on <" + cut(el.name()) + ">");
      *slot = at.value();
    }
    return CN_OK;
  }

  // The class named by type and/or class attributes; both must agree, and
  // with `expected` when the field fixes the class.
  int resolveClass(const Attrs& a, const CNClassDef* expected, const CNClassDef*& def) {
    const CNClassDef* byType = nullptr;
    const CNClassDef* byKey = nullptr;
    if (a.type) {
      CNTypePair tp;
      if (!parseTypePair(a.type, tp)) return fail(CN_ERR_BAD_VALUE, "bad type pair \"" + cut(a.type) + "\"");
      byType = CNFindClass(tp);
      if (!byType || byType->isEnum) return fail(CN_ERR_UNKNOWN_CLASS, "unknown type pair " + cut(a.type));
    }
    if (a.cls) {
      uint32_t key = 0;
      if (!parseUnsigned(a.cls, key)) return fail(CN_ERR_BAD_VALUE, "bad class key \"" + cut(a.cls) + "\"");
      byKey = CNFindClass(key);
      if (!byKey || byKey->isEnum) return fail(CN_ERR_UNKNOWN_CLASS, "unknown class key " + cut(a.cls));
    }
    if (byType && byKey && byType != byKey)
      return fail(CN_ERR_WRONG_CLASS,
                  "type pair " + cut(a.type) + " and class key " + cut(a.cls) + " name different classes");
    def = byType ? byType : byKey;
    if (!def) def = expected;
    if (expected && def != expected)
      return fail(CN_ERR_WRONG_CLASS, std::string(def->name) + " where " + expected->name + " is expected");
    return def ? CN_OK : fail(CN_ERR_BAD_STRUCTURE, "object names no class");
  }

  int resolveField(const CNClassDef& def, CNFieldFamily family, const Attrs& a, const CNFieldDef*& fd) {
    int number = -1;
    if (a.field && !parseNumber(a.field, number))
      return fail(CN_ERR_BAD_VALUE, "bad field number \"" + cut(a.field) + "\"");
    if (a.key) {
      uint32_t key = 0;
      if (!parseUnsigned(a.key, key)) return fail(CN_ERR_BAD_VALUE, "bad field key \"" + cut(a.key) + "\"");
      fd = def.fieldByKey(key);
      if (!fd || CNFamilyOf(fd->kind) != family || (a.field && fd->number != number))
        return fail(CN_ERR_UNKNOWN_FIELD, "no such field (key " + cut(a.key) + ") in " + def.name);
      return CN_OK;
    }
    if (!a.field)
      return fail(CN_ERR_BAD_STRUCTURE, std::string("a field of ") + def.name + " names neither field nor key");
    fd = def.field(family, number);
    if (!fd) return fail(CN_ERR_UNKNOWN_FIELD, "no such field (" + cut(a.field) + ") in " + def.name);
    return CN_OK;
  }

  int readText(const pugi::xml_node& el, std::string& out) {
    for (pugi::xml_node n = el.first_child(); n; n = n.next_sibling()) {
      if (n.type() != pugi::node_pcdata && n.type() != pugi::node_cdata)
        return fail(CN_ERR_BAD_STRUCTURE, "element inside <" + cut(el.name()) + ">");
      out += n.value();
    }
    return CN_OK;
  }

  int readObject(const pugi::xml_node& el, const Attrs& a, uint32_t classKey, int depth,
                 std::unique_ptr<CNMessageBase>& out) {
    if (depth > kCNMaxDepth) return fail(CN_ERR_TOO_DEEP, "messages nested deeper than " + std::to_string(kCNMaxDepth));
    const CNClassDef* expected = classKey ? CNFindClass(classKey) : nullptr;
    if (classKey && !expected) return fail(CN_ERR_UNKNOWN_CLASS, "class of a nested field is not registered");
    const CNClassDef* def = nullptr;
    if (int rc = resolveClass(a, expected, def)) return rc;
    out = def->make ? def->make() : std::make_unique<CNMessageBase>(def);
    return readFields(el, *out, depth);
  }

  int readObjectList(const pugi::xml_node& el, const CNFieldDef& fd, int depth, CNMessageList& list) {
    for (pugi::xml_node n = el.first_child(); n; n = n.next_sibling()) {
      if (n.type() != pugi::node_element) {
        if (isBlank(n)) continue;
        return fail(CN_ERR_BAD_STRUCTURE, "text inside a list of objects");
      }
      if (int rc = countNode()) return rc;
      if (std::strcmp(n.name(), "object") != 0)
        return fail(CN_ERR_BAD_STRUCTURE, "<" + cut(n.name()) + "> in a list of objects");
      Attrs a;
      if (int rc = readAttrs(n, kType | kClass, a)) return rc;
      std::unique_ptr<CNMessageBase> item;
      if (int rc = readObject(n, a, fd.classKey, depth + 1, item)) return rc;
      list.push_back(std::move(item));
    }
    return CN_OK;
  }

  int readTextList(const pugi::xml_node& el, std::vector<std::string>& list) {
    for (pugi::xml_node n = el.first_child(); n; n = n.next_sibling()) {
      if (n.type() != pugi::node_element) {
        if (isBlank(n)) continue;
        return fail(CN_ERR_BAD_STRUCTURE, "text outside <text> in a list of texts");
      }
      if (int rc = countNode()) return rc;
      if (std::strcmp(n.name(), "text") != 0)
        return fail(CN_ERR_BAD_STRUCTURE, "<" + cut(n.name()) + "> in a list of texts");
      if (n.first_attribute()) return fail(CN_ERR_BAD_STRUCTURE, "attribute on a list entry");
      std::string s;
      if (int rc = readText(n, s)) return rc;
      list.push_back(std::move(s));
    }
    return CN_OK;
  }

  std::string& m_error;
  std::size_t m_nodes = 0;
};

int parseDocument(std::string_view text, pugi::xml_document& doc, std::string& error) {
  if (int rc = screen(text, error)) return rc;
  // Editors may prefix a hand-written description with a byte-order mark.
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  pugi::xml_parse_result r = doc.load_buffer(text.data(), text.size(), kParseFlags, pugi::encoding_utf8);
  if (r.status == pugi::status_out_of_memory) {
    error = "out of memory";
    return CN_ERR_OUT_OF_MEMORY;
  }
  if (!r) {
    error = std::string(r.description()) + " at offset " + std::to_string(r.offset);
    return CN_ERR_MALFORMED;
  }
  return CN_OK;
}

// ---- writing --------------------------------------------------------------------

void appendEscaped(std::string& out, const std::string& s) {
  for (char c : s) {
    const unsigned char u = static_cast<unsigned char>(c);
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        // Raw CR would be folded into LF on reading; other control characters
        // would not survive editors. Tab and LF stay as they are.
        if (u < 0x20 && c != '\t' && c != '\n') {
          out += "&#";
          out += std::to_string(u);
          out += ';';
        } else {
          out += c;
        }
    }
  }
}

void appendFieldAttrs(std::string& out, const CNFieldDef& fd) {
  out += " field=\"";
  out += std::to_string(fd.number);
  out += '"';
  if (fd.key) {
    out += " key=\"";
    out += std::to_string(fd.key);
    out += '"';
  }
}

void appendClassAttrs(std::string& out, const CNClassDef& def) {
  out += " type=\"";
  out += std::to_string(def.type.major);
  out += ',';
  out += std::to_string(def.type.minor);
  out += "\" class=\"";
  out += std::to_string(def.classKey);
  out += '"';
}

// Writes the canonical form, refusing whatever the reader would refuse: too
// deep, too many elements, too large, or a text with NUL.
class Writer {
 public:
  explicit Writer(std::string& out) : m_o(out) {}

  int message(const CNMessageBase& m) {
    m_o += "<message";
    appendClassAttrs(m_o, *A::def(m));
    return body(m, 1, "message");
  }

 private:
  int count() { return ++m_nodes > kCNMaxNodes ? CN_ERR_TOO_MANY_NODES : CN_OK; }

  // The fields of `m` and the closing tag, or "/>" when there are none.
  int body(const CNMessageBase& m, int depth, const char* element) {
    const std::size_t mark = m_o.size();
    m_o += '>';
    if (int rc = fields(m, depth)) return rc;
    if (m_o.size() == mark + 1) {
      m_o.back() = '/';
      m_o += '>';
    } else {
      m_o += "</";
      m_o += element;
      m_o += '>';
    }
    return m_o.size() > kCNMaxInputBytes ? CN_ERR_TOO_LARGE : CN_OK;
  }

  int fields(const CNMessageBase& m, int depth) {
    const CNClassDef& def = *A::def(m);
    for (std::size_t i = 0; i < def.fields.size(); ++i) {
      const CNFieldDef& fd = def.fields[i];
      const auto& v = A::values(m)[i];
      if (!A::isSet(v)) continue;
      if (int rc = count()) return rc;
      switch (fd.kind) {
        case CNFieldKind::Int32:
        case CNFieldKind::Int64: {
          const int64_t* x = std::get_if<int64_t>(&v.data);
          m_o += "<int";
          appendFieldAttrs(m_o, fd);
          m_o += '>';
          m_o += std::to_string(x ? *x : 0);
          m_o += "</int>";
          break;
        }
        case CNFieldKind::Text: {
          const std::string* t = std::get_if<std::string>(&v.data);
          if (int rc = text(t ? *t : std::string(), &fd)) return rc;
          break;
        }
        case CNFieldKind::Object: {
          auto* p = std::get_if<std::unique_ptr<CNMessageBase>>(&v.data);
          const CNMessageBase* nested = p ? p->get() : nullptr;
          if (nested && (!A::def(*nested) || A::def(*nested)->classKey != fd.classKey)) return CN_ERR_WRONG_CLASS;
          if (int rc = object(nested, depth + 1, &fd, false)) return rc;
          break;
        }
        case CNFieldKind::ObjectList: {
          m_o += "<list";
          appendFieldAttrs(m_o, fd);
          const CNMessageList* l = std::get_if<CNMessageList>(&v.data);
          if (!l || l->empty()) {
            m_o += "/>";
            break;
          }
          m_o += '>';
          for (const auto& item : *l) {
            if (!item || !A::def(*item)) return CN_ERR_BAD_VALUE;
            if (fd.classKey && A::def(*item)->classKey != fd.classKey) return CN_ERR_WRONG_CLASS;
            if (int rc = count()) return rc;
            if (int rc = object(item.get(), depth + 1, nullptr, fd.classKey == 0)) return rc;
          }
          m_o += "</list>";
          break;
        }
        case CNFieldKind::TextList: {
          m_o += "<list";
          appendFieldAttrs(m_o, fd);
          const std::vector<std::string>* l = std::get_if<std::vector<std::string>>(&v.data);
          if (!l || l->empty()) {
            m_o += "/>";
            break;
          }
          m_o += '>';
          for (const std::string& t : *l) {
            if (int rc = count()) return rc;
            if (int rc = text(t, nullptr)) return rc;
          }
          m_o += "</list>";
          break;
        }
      }
      if (m_o.size() > kCNMaxInputBytes) return CN_ERR_TOO_LARGE;
    }
    return CN_OK;
  }

  int object(const CNMessageBase* m, int depth, const CNFieldDef* fd, bool withClass) {
    if (depth > kCNMaxDepth) return CN_ERR_TOO_DEEP;
    m_o += "<object";
    if (fd) appendFieldAttrs(m_o, *fd);
    if (withClass && m) appendClassAttrs(m_o, *A::def(*m));
    if (!m) {
      m_o += "/>";
      return CN_OK;
    }
    return body(*m, depth, "object");
  }

  int text(const std::string& t, const CNFieldDef* fd) {
    // A text the reader would refuse (NUL, other characters outside XML's
    // set, ill-formed UTF-8) is refused here too: what is written reads back.
    for (std::size_t i = 0; i < t.size();) {
      uint32_t cp = 0;
      const std::size_t len = utf8At(t, i, &cp);
      if (len == 0 || !isXmlChar(cp)) return CN_ERR_BAD_VALUE;
      i += len;
    }
    // Escapes only lengthen a text, so a text beyond the limit is refused
    // before it is copied.
    if (m_o.size() + t.size() > kCNMaxInputBytes) return CN_ERR_TOO_LARGE;
    m_o += "<text";
    if (fd) appendFieldAttrs(m_o, *fd);
    if (t.empty()) {
      m_o += "/>";
      return CN_OK;
    }
    m_o += '>';
    appendEscaped(m_o, t);
    m_o += "</text>";
    return CN_OK;
  }

  std::string& m_o;
  std::size_t m_nodes = 0;
};

}  // namespace

int XMLDecoder::write(const CNMessageBase& msg, std::string& out) {
  out.clear();
  if (!A::def(msg)) return CN_ERR_NO_CLASS;
  try {
    std::string s;
    Writer w(s);
    if (int rc = w.message(msg)) return rc;
    out = std::move(s);
    return CN_OK;
  } catch (...) {
    return CN_ERR_OUT_OF_MEMORY;
  }
}

int XMLDecoder::parseInto(std::string_view text, CNMessageBase& target, std::string& error) {
  A::reset(target);
  const CNClassDef* targetDef = A::def(target);
  if (!targetDef) {
    error = "message has no registered class";
    return CN_ERR_NO_CLASS;
  }
  try {
    pugi::xml_document doc;
    if (int rc = parseDocument(text, doc, error)) return rc;
    Reader reader(error);
    const CNClassDef* def = nullptr;
    pugi::xml_node root;
    if (int rc = reader.readRoot(doc, def, root)) return rc;
    if (def != targetDef) {
      error = std::string(def->name) + " where " + targetDef->name + " is expected";
      return CN_ERR_WRONG_CLASS;
    }
    // Read into a scratch message so that a failure half-way leaves the
    // target empty.
    CNMessageBase scratch(def);
    if (int rc = reader.readFields(root, scratch, 1)) return rc;
    A::values(target) = std::move(A::values(scratch));
    return CN_OK;
  } catch (...) {
    return CN_ERR_OUT_OF_MEMORY;
  }
}

int XMLDecoder::unSerialize(std::string_view text, std::unique_ptr<CNMessageBase>& out, std::string& error) {
  out.reset();
  try {
    pugi::xml_document doc;
    if (int rc = parseDocument(text, doc, error)) return rc;
    Reader reader(error);
    const CNClassDef* def = nullptr;
    pugi::xml_node root;
    if (int rc = reader.readRoot(doc, def, root)) return rc;
    std::unique_ptr<CNMessageBase> msg = def->make ? def->make() : std::make_unique<CNMessageBase>(def);
    if (int rc = reader.readFields(root, *msg, 1)) return rc;
    out = std::move(msg);
    return CN_OK;
  } catch (...) {
    out.reset();
    error = "out of memory";
    return CN_ERR_OUT_OF_MEMORY;
  }
}

int XMLDecoder::unSerialize(std::string_view text, std::unique_ptr<CNMessageBase>& out) {
  std::string error;
  return unSerialize(text, out, error);
}

std::unique_ptr<CNMessageBase> XMLDecoder::unSerialize(std::string_view text) {
  std::unique_ptr<CNMessageBase> out;
  unSerialize(text, out);
  return out;
}

std::string XMLDecoder::GetEnumString(uint32_t enumTagId, int64_t code) {
  try {
    const CNClassDef* def = CNFindClass(enumTagId);
    const CNEnumValue* v = def && def->isEnum ? def->value(code) : nullptr;
    return v ? std::string(v->name) : std::to_string(code);
  } catch (...) {
    return std::string();
  }
}

int XMLDecoder::FillAnnotation(const CNClassDef* enumDef, std::string_view valueName, CNMessageBase& annotation) {
  if (!enumDef || !enumDef->isEnum) return CN_ERR_UNKNOWN_CLASS;
  if (annotation.getTagId() != NXMeta::AnnotationText::kClassKey) return CN_ERR_WRONG_CLASS;
  const CNEnumValue* v = enumDef->value(valueName);
  if (!v) return CN_ERR_UNKNOWN_VALUE;
  try {
    return annotation.setstring(0, v->annotation);
  } catch (...) {
    return CN_ERR_OUT_OF_MEMORY;
  }
}
