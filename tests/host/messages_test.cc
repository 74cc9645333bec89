#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/messages/CNMessageBase.h"
#include "host/messages/XMLDecoder.h"
#include "host/messages/message_classes.h"

namespace {

std::string serialized(const CNMessageBase& m) {
  std::string out;
  EXPECT_EQ(CN_OK, m.serialize(out));
  return out;
}

// Serialise, read back into a fresh object of the same class, serialise again.
// Never null: a text that does not read back gives a classless message, whose
// defaults fail the checks that follow.
std::unique_ptr<CNMessageBase> roundTrip(const CNMessageBase& m, std::string* textOut = nullptr) {
  const std::string text = serialized(m);
  if (textOut) *textOut = text;
  std::unique_ptr<CNMessageBase> back;
  std::string error;
  EXPECT_EQ(CN_OK, XMLDecoder::unSerialize(text, back, error)) << error << "\n" << text;
  if (!back) return std::make_unique<CNMessageBase>(0, 0);
  EXPECT_EQ(text, serialized(*back));
  return back;
}

TEST(MessageRegistry, TableIsConsistent) {
  std::set<uint32_t> keys;
  std::set<std::pair<int, int>> types;
  for (const CNClassDef* c : CNAllClasses()) {
    SCOPED_TRACE(c->name);
    EXPECT_TRUE(keys.insert(c->classKey).second) << "class key used twice";
    if (c->isEnum) continue;
    EXPECT_TRUE(types.insert({c->type.major, c->type.minor}).second) << "type pair used twice";
    ASSERT_NE(nullptr, c->make);
    std::unique_ptr<CNMessageBase> made = c->make();
    EXPECT_EQ(c, made->classDef());
    std::set<std::pair<int, int>> numbers;
    std::set<uint32_t> fieldKeys;
    for (const CNFieldDef& f : c->fields) {
      SCOPED_TRACE(f.name);
      EXPECT_TRUE(numbers.insert({static_cast<int>(CNFamilyOf(f.kind)), f.number}).second)
          << "number used twice in a family";
      if (f.key) {
        EXPECT_TRUE(fieldKeys.insert(f.key).second) << "field key used twice";
      }
      if (f.kind == CNFieldKind::Object || (f.kind == CNFieldKind::ObjectList && f.classKey)) {
        const CNClassDef* nested = CNFindClass(f.classKey);
        ASSERT_NE(nullptr, nested);
        EXPECT_FALSE(nested->isEnum);
      }
    }
  }
}

TEST(MessageRoundTrip, IntegersKeepTheirExtremesAndTextsEveryCharacter) {
  App::LogMonitoringAlert lm;  // int32 fields and one int64 field
  ASSERT_EQ(CN_OK, lm.setint32(1, std::numeric_limits<int32_t>::min()));
  ASSERT_EQ(CN_OK, lm.setint32(2, std::numeric_limits<int32_t>::max()));
  ASSERT_EQ(CN_OK, lm.setint64(29, std::numeric_limits<int64_t>::min()));
  EXPECT_EQ(CN_ERR_BAD_VALUE, lm.setint64(8, int64_t{1} << 31));  // lineNum is 32-bit
  EXPECT_FALSE(lm.isSet(CNFieldFamily::Integer, 8));

  std::unique_ptr<CNMessageBase> back = roundTrip(lm);
  EXPECT_EQ(std::numeric_limits<int32_t>::min(), back->getint32(1));
  EXPECT_EQ(std::numeric_limits<int32_t>::max(), back->getint64(2));
  EXPECT_EQ(std::numeric_limits<int64_t>::min(), back->getint64(29));

  App::FileSystemQuotaAlert q;
  ASSERT_EQ(CN_OK, q.setint64(1, std::numeric_limits<int64_t>::max()));
  ASSERT_EQ(CN_OK, q.setint64(4, 0));
  back = roundTrip(q);
  EXPECT_EQ(std::numeric_limits<int64_t>::max(), back->getint64(1));
  EXPECT_TRUE(back->isSet(4)) << "a zero that was set stays set";

  const std::vector<std::string> texts = {"", "  a & b < c > \"q\" 'single'  ", "one\r\ntwo\rthree\tend",
                                          "]]> <![CDATA[ not a section"};
  for (const std::string& t : texts) {
    SCOPED_TRACE(t);
    App::QueryResultColumnValuePair pair;
    ASSERT_EQ(CN_OK, pair.setstring(2, t));
    back = roundTrip(pair);
    EXPECT_TRUE(back->isSet(2));
    EXPECT_EQ(t, back->getstring(2));
  }
}

TEST(MessageRoundTrip, ListsKeepOrderEmptyEntriesAndEachEntrysClass) {
  App::ExternalQueryResult r;
  ASSERT_EQ(CN_OK, r.setstringlist(1, {"client-a", "", "3", "a<b"}));
  std::unique_ptr<CNMessageBase> back = roundTrip(r);
  ASSERT_NE(nullptr, back->getstringlist(1));
  EXPECT_EQ((std::vector<std::string>{"client-a", "", "3", "a<b"}), *back->getstringlist(1));
  ASSERT_EQ(CN_OK, r.setstringlist(1, {}));
  back = roundTrip(r);
  ASSERT_NE(nullptr, back->getstringlist(1)) << "an empty list that was set stays set";
  EXPECT_TRUE(back->getstringlist(1)->empty());

  // A list of any class names each entry's class, and reads it back typed.
  App::NtAdminAlertAdditionalInfo info;
  auto row = std::make_unique<App::ExternalQueryResult>();
  row->setstringlist(1, {"x"});
  ASSERT_EQ(CN_OK, info.addlistobject(3, std::move(row)));
  auto entry = std::make_unique<App::NtAdminAlertEntry>();
  entry->setint64(1, 5);
  ASSERT_EQ(CN_OK, info.addlistobject(3, std::move(entry)));
  std::string text;
  back = roundTrip(info, &text);
  EXPECT_NE(std::string::npos, text.find("<object type=\"30,1155\" class=\"901000005\">"));
  const CNMessageList* list = back->getlistobject(3);
  ASSERT_NE(nullptr, list);
  ASSERT_EQ(2u, list->size());
  EXPECT_NE(nullptr, message_cast<App::ExternalQueryResult>((*list)[0].get()));
  EXPECT_EQ(5, (*list)[1]->getint64(1));
}

TEST(MessageRoundTrip, SerialisedFormIsCanonical) {
  // Two hand-written forms of one entity: different layout, field order,
  // naming by key instead of number, a comment and a CDATA section.
  const std::string a =
      "<message type=\"30,1880\" class=\"507417001\"><int field=\"8\" key=\"179639\">7</int>"
      "<int field=\"1\" key=\"4371981\">5</int></message>";
  const std::string b =
      "<?xml version=\"1.0\"?>\n<!-- hand written -->\n<message class=\"507417001\">\n"
      "  <int key=\"4371981\"> 5 </int>\n  <int field=\"8\"><![CDATA[7]]></int>\n</message>\n";
  auto ma = XMLDecoder::unSerialize(a);
  auto mb = XMLDecoder::unSerialize(b);
  ASSERT_NE(nullptr, ma);
  ASSERT_NE(nullptr, mb);
  EXPECT_EQ(serialized(*ma), serialized(*mb));
  EXPECT_EQ(
      "<message type=\"30,1880\" class=\"507417001\"><int field=\"1\" key=\"4371981\">5</int>"
      "<int field=\"8\" key=\"179639\">7</int></message>",
      serialized(*ma));
}

// Keyed reads answer only when every number agrees; the families share
// numbers without mixing fields.
TEST(MessageFieldAccess, KeyedReadsAndFamilies) {
  App::SIDBLowDiskSpaceAlertAdditionalInfo m;
  ASSERT_EQ(CN_OK, m.setstring(4, "SP-Gold"));
  ASSERT_EQ(CN_OK, m.setint64(20, 10240));
  EXPECT_EQ("", m.getstring(4, 4, 504331080, 7482296)) << "wrong slot";
  EXPECT_EQ("", m.getstring(4, 7, 504331081, 7482296)) << "wrong class key";
  EXPECT_EQ("", m.getstring(4, 7, 504331080, 7639064)) << "key of field 3";
  EXPECT_EQ(10240, m.getint64(20, 504331080, 2090695));
  EXPECT_TRUE(m.isSet(20, 504331080, 2090695));

  App::LogMonitoringAlert lm;
  ASSERT_EQ(CN_OK, lm.unserialize("<message type=\"35,80\"><text field=\"7\">matched</text>"
                                  "<int field=\"8\">1402</int></message>"));
  EXPECT_EQ("matched", lm.getstring(7));
  EXPECT_FALSE(lm.isSet(CNFieldFamily::Integer, 7));
  EXPECT_EQ(1402, lm.getint64(8));
  EXPECT_TRUE(lm.isSet(8)) << "the short form asks every family";
  EXPECT_TRUE(lm.isSet(7, 600063440, 0)) << "keyless fields answer key 0";
  lm.clearField(7);
  EXPECT_FALSE(lm.isSet(7));
}

TEST(MessageFieldAccess, UnsetAndUnknownFieldsReadAsDefaults) {
  App::DPAlertAdditionalInfo m;
  EXPECT_EQ(0, m.getint64(1, 513549765, 1496726));
  EXPECT_EQ(nullptr, m.getObjectAccessor(1));
  EXPECT_EQ(CN_ERR_UNKNOWN_FIELD, m.setint64(5, 1));
  EXPECT_EQ(CN_ERR_UNKNOWN_FIELD, m.setstring(1, "x"));

  // An enumeration has no type pair and cannot be a message.
  EXPECT_EQ(nullptr, CNMessageBase(CNFindClass(kUpdateStatusEnumTag)).classDef());
  CNMessageBase classless(99, 99);
  EXPECT_EQ(CN_ERR_NO_CLASS, classless.unserialize("<message type=\"99,99\"/>"));
  std::string out = "stale";
  EXPECT_EQ(CN_ERR_NO_CLASS, classless.serialize(out));
  EXPECT_TRUE(out.empty());
}

TEST(MessageNestedObjects, AccessorBindsOnlyTheDeclaredNestedClassAndMarksWhenAsked) {
  App::StickyAlertsEntity m;
  EXPECT_EQ(nullptr, m.getObjectAccessor(true, true, 1, 1, 504730115, 10347491, 18, 47)) << "wrong nested type";
  EXPECT_EQ(nullptr, m.getObjectAccessor(true, true, 1, 2, 504730115, 10347491, 18, 46)) << "wrong slot";
  EXPECT_EQ(nullptr, m.getObjectAccessor(true, true, 1, 1, 504730116, 10347491, 18, 46)) << "wrong class key";
  EXPECT_EQ(nullptr, m.getObjectAccessor(false, false, 1, 1, 504730115, 10347491, 18, 46)) << "absent, no create";
  EXPECT_TRUE(m.empty()) << "failed binds create nothing";

  CNMessageBase* sub = m.getObjectAccessor(true, true, 1, 1, 504730115, 10347491, 18, 46);
  ASSERT_NE(nullptr, sub);
  EXPECT_NE(nullptr, message_cast<App::DDBEntity>(sub));
  EXPECT_TRUE(m.isSet(1)) << "markSet";
  EXPECT_EQ(sub, m.getObjectAccessor(false, false, 1, 1, 504730115, 10347491, 18, 46)) << "same object again";

  // An unmarked object counts once filled.
  Api::UserAndUserGroupAlertInfo users;
  CNMessageBase* user = users.getObjectAccessor(true, false, 1, 1, 1989592098, 3599307, 18, 15);
  ASSERT_NE(nullptr, user);
  EXPECT_FALSE(users.isSet(1));
  EXPECT_EQ("<message type=\"118,254\" class=\"1989592098\"/>", serialized(users));
  ASSERT_EQ(CN_OK, user->setint64(0, 501));
  EXPECT_TRUE(users.isSet(1, 1989592098, 3599307));
  const std::unique_ptr<CNMessageBase> back = roundTrip(users);
  const CNMessageBase* u = back->getObjectAccessor(1);
  ASSERT_NE(nullptr, u);
  EXPECT_EQ(501, u->getint64(0, 310399918, 2829894));
}

TEST(MessageNestedObjects, CopiesAreDeep) {
  Workflow::AlertContainer a;
  ASSERT_EQ(CN_OK, a.unserialize("<message type=\"40,42\"><object field=\"1\"><object field=\"1\">"
                                 "<int field=\"0\">7</int></object></object></message>"));
  Workflow::AlertContainer b(a);
  std::unique_ptr<CNMessageBase> c = a.clone();
  EXPECT_NE(nullptr, message_cast<Workflow::AlertContainer>(c.get()));
  a.getObjectAccessor(1)->getObjectAccessor(1)->setint64(0, 8);
  EXPECT_EQ(7, b.getObjectAccessor(1)->getObjectAccessor(1)->getint64(0));
  EXPECT_EQ(7, c->getObjectAccessor(1)->getObjectAccessor(1)->getint64(0));
}

TEST(MessageNestedObjects, ListsTakeOnlyTheirEntryClass) {
  App::QueryResultEntity e;
  EXPECT_EQ(CN_ERR_WRONG_CLASS, e.addlistobject(1, std::make_unique<App::ExternalQueryResult>()));
  EXPECT_EQ(CN_ERR_WRONG_CLASS, e.addlistobject(1, nullptr));
  EXPECT_EQ(CN_ERR_UNKNOWN_FIELD, e.addlistobject(2, std::make_unique<App::QueryResultColumnValuePair>()));
  EXPECT_EQ(nullptr, e.getlistobject(1));
  // A caller that pushes a stranger into the list itself gets no text out.
  ASSERT_EQ(CN_OK, e.addlistobject(1, std::make_unique<App::QueryResultColumnValuePair>()));
  e.getlistobject(1)->push_back(std::make_unique<App::ExternalQueryResult>());
  std::string out;
  EXPECT_EQ(CN_ERR_WRONG_CLASS, e.serialize(out));
}

TEST(MessageDecoder, TypedUnserializeTakesItsOwnClassAndLeavesNothingOnFailure) {
  App::NTBackupAlertAdditionalInfo info;
  EXPECT_EQ(CN_ERR_WRONG_CLASS, info.unserialize("<message type=\"30,1879\"/>"));
  EXPECT_EQ(CN_OK, info.unserialize("<message type=\"30,1880\"/>"));

  App::DDBOfflineAlertAdditionalInfo m;
  ASSERT_EQ(CN_OK, m.unserialize("<message type=\"30,1847\"><int field=\"1\">17</int></message>"));
  // A failure half-way keeps neither the fields read so far nor the old content.
  EXPECT_EQ(CN_ERR_BAD_VALUE, m.unserialize("<message type=\"30,1847\"><int field=\"2\">3</int>"
                                            "<int field=\"3\">three</int></message>"));
  EXPECT_TRUE(m.empty());
  EXPECT_FALSE(m.getLastError().empty());
}

TEST(MessageDecoder, EnumerationNamesAndAnnotations) {
  EXPECT_EQ("Succeeded", XMLDecoder::GetEnumString(355897660, 2));
  EXPECT_EQ("42", XMLDecoder::GetEnumString(355897660, 42)) << "unknown code";
  EXPECT_EQ("2", XMLDecoder::GetEnumString(507417001, 2)) << "not an enumeration";

  const CNClassDef* def = CNMessageBase::GetClassDef(355897660);
  ASSERT_NE(nullptr, def);
  CNMessageBase annotation(27, 33);
  ASSERT_EQ(CN_OK, XMLDecoder::FillAnnotation(def, "Succeeded", annotation));
  EXPECT_EQ("Updated successfully", annotation.getstring(0));
  ASSERT_EQ(CN_OK, XMLDecoder::FillAnnotation(def, "Killed", annotation));
  EXPECT_EQ("", annotation.getstring(0)) << "a value without display text replaces the previous one";

  EXPECT_EQ(CN_ERR_UNKNOWN_VALUE, XMLDecoder::FillAnnotation(def, "NoSuchValue", annotation));
  EXPECT_EQ(CN_ERR_UNKNOWN_CLASS,
            XMLDecoder::FillAnnotation(CNMessageBase::GetClassDef(507417001), "Succeeded", annotation));
  App::ExternalQueryResult other;
  EXPECT_EQ(CN_ERR_WRONG_CLASS, XMLDecoder::FillAnnotation(def, "Succeeded", other));
}

std::string zentraChain(int depth) {
  std::string s = "<message type=\"27,40\">";
  for (int i = 1; i < depth; ++i) s += "<list field=\"12\"><object>";
  s += "<text field=\"18\">leaf</text>";
  for (int i = 1; i < depth; ++i) s += "</object></list>";
  return s + "</message>";
}

// Raw content, a text field or an integer field of small messages.
std::string msg(const std::string& type, const std::string& body) {
  return "<message type=\"" + type + "\">" + body + "</message>";
}
std::string inText(const std::string& body) { return msg("30,444", "<text field=\"3\">" + body + "</text>"); }
std::string inBackup(const std::string& body) { return msg("30,1880", body); }
std::string intField(const std::string& value) { return inBackup("<int field=\"1\">" + value + "</int>"); }
std::string repeated(const std::string& item, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += item;
  return s;
}
// N empty entries of a text list.
std::string textList(std::size_t n) {
  return msg("30,1155", "<list field=\"1\">" + repeated("<text/>", n) + "</list>");
}

TEST(MessageBadInput, IsRefusedWithAReason) {
  const std::string ok = intField("5");
  struct Case {
    const char* what;
    std::string text;
    int code;
  };
  const std::vector<Case> cases = {
      {"empty", "", CN_ERR_EMPTY_INPUT},
      {"blank", "   \n", CN_ERR_MALFORMED},
      {"truncated", ok.substr(0, ok.size() - 5), CN_ERR_MALFORMED},
      {"NUL byte", std::string("<message type=\"30,1880\">\0</message>", 34), CN_ERR_MALFORMED},
      {"NUL reference wrapping 32 bits", inText("&#x100000000;"), CN_ERR_MALFORMED},
      // XML 1.0 characters only, and no entities but the five predefined.
      {"surrogate reference", inText("&#xD800;"), CN_ERR_MALFORMED},
      {"U+FFFE reference", inText("&#65534;"), CN_ERR_MALFORMED},
      {"byte that is not UTF-8", inText("\xff"), CN_ERR_MALFORMED},
      {"encoded surrogate", inText("\xed\xa0\x80"), CN_ERR_MALFORMED},
      {"control character in a comment", msg("30,444", "<!-- \x02 -->"), CN_ERR_MALFORMED},
      {"undeclared entity", inText("&nbsp;"), CN_ERR_MALFORMED},
      {"entity declared in a DOCTYPE", "<!DOCTYPE message [<!ENTITY e \"x\">]>" + inText("&e;"), CN_ERR_MALFORMED},
      {"processing instruction", msg("30,444", "<?run rm?>"), CN_ERR_MALFORMED},
      {"declaration not first", "<!-- c --><?xml version=\"1.0\"?><message type=\"30,444\"/>", CN_ERR_MALFORMED},
      {"other root", "<msg type=\"30,1880\"/>", CN_ERR_BAD_STRUCTURE},
      {"two roots", ok + ok, CN_ERR_BAD_STRUCTURE},
      {"text after root", ok + "tail", CN_ERR_BAD_STRUCTURE},
      {"no class", "<message/>", CN_ERR_BAD_STRUCTURE},
      {"unknown type pair", "<message type=\"30,9999\"/>", CN_ERR_UNKNOWN_CLASS},
      {"unknown class key", "<message class=\"12345\"/>", CN_ERR_UNKNOWN_CLASS},
      {"enumeration as class", "<message class=\"355897660\"/>", CN_ERR_UNKNOWN_CLASS},
      {"type and class disagree", "<message type=\"30,1880\" class=\"513549765\"/>", CN_ERR_WRONG_CLASS},
      {"bad type pair", "<message type=\"30;1880\"/>", CN_ERR_BAD_VALUE},
      {"huge class key", "<message class=\"99999999999\"/>", CN_ERR_BAD_VALUE},
      {"unknown field", inBackup("<int field=\"4\">1</int>"), CN_ERR_UNKNOWN_FIELD},
      {"key of another field", inBackup("<int field=\"1\" key=\"4663322\">1</int>"), CN_ERR_UNKNOWN_FIELD},
      {"wrong family", inBackup("<text field=\"1\">1</text>"), CN_ERR_UNKNOWN_FIELD},
      {"unnamed field", inBackup("<int>1</int>"), CN_ERR_BAD_STRUCTURE},
      {"field twice", inBackup("<int field=\"1\">1</int><int key=\"4371981\">2</int>"), CN_ERR_DUPLICATE_FIELD},
      {"int64 overflow", intField("9223372036854775808"), CN_ERR_BAD_VALUE},
      {"int32 overflow", msg("35,80", "<int field=\"8\">2147483648</int>"), CN_ERR_BAD_VALUE},
      {"not a number", intField("12abc"), CN_ERR_BAD_VALUE},
      {"field number overflow", inBackup("<int field=\"4294967297\">1</int>"), CN_ERR_BAD_VALUE},
      {"element in a text", inText("a<b/>c"), CN_ERR_BAD_STRUCTURE},
      {"unknown element", inBackup("<long field=\"1\">1</long>"), CN_ERR_BAD_STRUCTURE},
      {"text among fields", inBackup("stray<int field=\"1\">1</int>"), CN_ERR_BAD_STRUCTURE},
      {"unknown attribute", "<message type=\"30,1880\" version=\"2\"/>", CN_ERR_BAD_STRUCTURE},
      {"attribute twice", "<message type=\"30,1880\" type=\"30,1880\"/>", CN_ERR_BAD_STRUCTURE},
      {"object of another class", msg("40,42", "<object field=\"1\" type=\"18,61\"/>"), CN_ERR_WRONG_CLASS},
      {"list entry of another class", msg("30,1402", "<list field=\"1\"><object type=\"30,1155\"/></list>"),
       CN_ERR_WRONG_CLASS},
      {"any-class entry without class", msg("30,2507", "<list field=\"3\"><object/></list>"), CN_ERR_BAD_STRUCTURE},
      {"text in an object list", msg("30,1402", "<list field=\"1\"><text>a</text></list>"), CN_ERR_BAD_STRUCTURE},
      {"object in a text list", msg("30,1155", "<list field=\"1\"><object/></list>"), CN_ERR_BAD_STRUCTURE},
      {"attribute on a text entry", msg("30,1155", "<list field=\"1\"><text field=\"1\">a</text></list>"),
       CN_ERR_BAD_STRUCTURE},
      {"nested too deep", zentraChain(kCNMaxDepth + 1), CN_ERR_TOO_DEEP},
      {"very deep nesting of unknown elements", msg("27,40", repeated("<a>", 100000) + repeated("</a>", 100000)),
       CN_ERR_BAD_STRUCTURE},
      {"too many elements", textList(kCNMaxNodes + 1), CN_ERR_TOO_MANY_NODES},
      {"too many tags", msg("27,40", repeated("<a/>", 2 * kCNMaxNodes + 10)), CN_ERR_TOO_MANY_NODES},
      {"too large", inText(std::string(kCNMaxInputBytes, 'x')), CN_ERR_TOO_LARGE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<CNMessageBase> out;
    std::string error;
    const int rc = XMLDecoder::unSerialize(c.text, out, error);
    EXPECT_EQ(c.code, rc) << CNMessageErrorText(rc) << ": " << error;
    EXPECT_EQ(nullptr, out);
    EXPECT_FALSE(error.empty());
  }
}

TEST(MessageBadInput, LimitsThemselvesAreAccepted) {
  EXPECT_NE(nullptr, XMLDecoder::unSerialize(zentraChain(kCNMaxDepth)));
  // The edges of the character rules, the declaration, and what comments and
  // CDATA may hold.
  std::unique_ptr<CNMessageBase> m = XMLDecoder::unSerialize(
      "\xEF\xBB\xBF<?xml version=\"1.0\"?><message type=\"30,444\"><!-- & <!DOCTYPE --><text field=\"3\">"
      "&#x10FFFF;&#xFFFD;&#9;&#13;&apos;&quot;<![CDATA[&nbsp; <?pi?>]]></text></message>");
  ASSERT_NE(nullptr, m);
  EXPECT_EQ("\xf4\x8f\xbf\xbf\xef\xbf\xbd\t\r'\"&nbsp; <?pi?>", m->getstring(3));
  EXPECT_NE(nullptr, XMLDecoder::unSerialize(textList(kCNMaxNodes - 1)));
  EXPECT_NE(nullptr, XMLDecoder::unSerialize(inText(std::string(kCNMaxInputBytes - inText("").size(), 'x'))));
}

TEST(MessageBadInput, SerializeRefusesWhatCouldNotBeReadBack) {
  App::AuxcopyFallenBehindAlertInfo m;
  std::string out;
  ASSERT_EQ(CN_OK, m.setstring(3, "bell\x07"));
  EXPECT_EQ(CN_ERR_BAD_VALUE, m.serialize(out));
  ASSERT_EQ(CN_OK, m.setstring(3, std::string(kCNMaxInputBytes, 'x')));
  EXPECT_EQ(CN_ERR_TOO_LARGE, m.serialize(out));
  EXPECT_TRUE(out.empty());

  App::ExternalQueryResult wide;
  ASSERT_EQ(CN_OK, wide.setstringlist(1, std::vector<std::string>(kCNMaxNodes, "")));
  EXPECT_EQ(CN_ERR_TOO_MANY_NODES, wide.serialize(out)) << "the list element and its entries count";
  ASSERT_EQ(CN_OK, wide.setstringlist(1, std::vector<std::string>(kCNMaxNodes - 1, "")));
  ASSERT_EQ(CN_OK, wide.serialize(out));
  EXPECT_NE(nullptr, XMLDecoder::unSerialize(out));

  NXGui::ZentraTreeNode root;
  CNMessageBase* node = &root;
  for (int i = 1; i <= kCNMaxDepth; ++i) {
    auto child = std::make_unique<NXGui::ZentraTreeNode>();
    CNMessageBase* next = child.get();
    ASSERT_EQ(CN_OK, node->addlistobject(12, std::move(child)));
    node = next;
  }
  EXPECT_EQ(CN_ERR_TOO_DEEP, root.serialize(out));
}

std::vector<std::string> docExamples() {
  std::ifstream in(std::string(EVD_SOURCE_DIR) + "/docs/messages.md");
  EXPECT_TRUE(in.good()) << "cannot open docs/messages.md";
  std::vector<std::string> blocks;
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    if (!inside && line == "```xml") {
      inside = true;
      blocks.emplace_back();
    } else if (inside && line == "```") inside = false;
    else if (inside) blocks.back() += line + "\n";
  }
  EXPECT_FALSE(inside) << "unterminated example";
  return blocks;
}

void collectClasses(const CNMessageBase& m, std::set<uint32_t>& seen) {
  seen.insert(m.getTagId());
  for (const CNFieldDef& f : m.classDef()->fields) {
    if (f.kind == CNFieldKind::Object) {
      if (const CNMessageBase* sub = m.getObjectAccessor(f.number)) collectClasses(*sub, seen);
    } else if (f.kind == CNFieldKind::ObjectList) {
      if (const CNMessageList* list = m.getlistobject(f.number))
        for (const auto& item : *list) collectClasses(*item, seen);
    }
  }
}

// Every example reads, round-trips and shows fields, every class has one, and
// the examples answer the calls the alert handlers make: keyed values, marked
// and unmarked nested objects, a list inside an object.
TEST(MessageDocs, ExamplesReadCoverEveryClassAndAnswerTheHandlersCalls) {
  const std::vector<std::string> examples = docExamples();
  ASSERT_GE(examples.size(), 15u);
  std::set<uint32_t> seen;
  std::map<uint32_t, std::unique_ptr<CNMessageBase>> byClass;
  for (const std::string& text : examples) {
    SCOPED_TRACE(text);
    std::unique_ptr<CNMessageBase> m;
    std::string error;
    ASSERT_EQ(CN_OK, XMLDecoder::unSerialize(text, m, error)) << error;
    EXPECT_FALSE(m->empty()) << "an example should show fields";
    collectClasses(*m, seen);
    roundTrip(*m);
    byClass.emplace(m->getTagId(), std::move(m));
  }
  for (const CNClassDef* c : CNAllClasses())
    if (!c->isEnum) {
      EXPECT_TRUE(seen.count(c->classKey)) << c->name << " has no example in docs/messages.md";
    }
  for (uint32_t tag : {507417001u, 683636389u, 1989592098u, 511611432u})
    ASSERT_TRUE(byClass.count(tag)) << "no example of class " << tag;
  auto get = [&](uint32_t tag) -> CNMessageBase& { return *byClass.at(tag); };
  EXPECT_EQ(5368709120, get(507417001).getint64(1, 507417001, 4371981));
  CNMessageBase* info = get(683636389).getObjectAccessor(true, true, 1, 1, 683636389, 1824703, 40, 37);
  ASSERT_NE(nullptr, info);
  CNMessageBase* entity = info->getObjectAccessor(true, true, 1, 1, 684268386, 10347491, 18, 61);
  ASSERT_NE(nullptr, entity);
  EXPECT_EQ(1234, entity->getint64(0, 313419938, 8711482));
  CNMessageBase* group = get(1989592098).getObjectAccessor(true, false, 2, 2, 1989592098, 15319412, 18, 16);
  ASSERT_NE(nullptr, group);
  EXPECT_EQ("Backup Operators", group->getstring(1, 1, 314401367, 11064863));
  const CNMessageBase* details = get(511611432).getObjectAccessor(2);
  ASSERT_NE(nullptr, details);
  ASSERT_NE(nullptr, details->getlistobject(7));
  EXPECT_EQ("Media not available", (*details->getlistobject(7))[0]->getstring(2));
}

}  // namespace
