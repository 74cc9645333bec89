#include <gtest/gtest.h>

#include <fstream>
#include <limits>
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

// Serialise, read back and serialise again; never null.
std::unique_ptr<CNMessageBase> roundTrip(const CNMessageBase& m) {
  const std::string text = serialized(m);
  std::unique_ptr<CNMessageBase> back;
  std::string error;
  EXPECT_EQ(CN_OK, XMLDecoder::unSerialize(text, back, error)) << error << "\n" << text;
  if (!back) return std::make_unique<CNMessageBase>(0, 0);
  EXPECT_EQ(text, serialized(*back));
  return back;
}

// Raw content, or a text field, of a small message; N copies of an item.
std::string msg(const std::string& type, const std::string& body) {
  return "<message type=\"" + type + "\">" + body + "</message>";
}
std::string inText(const std::string& body) { return msg("30,444", "<text field=\"3\">" + body + "</text>"); }
std::string repeated(const std::string& item, std::size_t n) {
  std::string s;
  while (n--) s += item;
  return s;
}
TEST(MessageRegistry, KeysTypePairsAndFieldsAreUnique) {
  std::set<uint32_t> keys;
  std::set<std::pair<int, int>> types;
  for (const CNClassDef* c : CNAllClasses()) {
    EXPECT_TRUE(keys.insert(c->classKey).second) << c->name;
    if (c->isEnum) continue;
    EXPECT_TRUE(types.insert({c->type.major, c->type.minor}).second) << c->name;
    ASSERT_NE(nullptr, c->make);
    EXPECT_EQ(c, c->make()->classDef());
    // A field table line copied without its number or key changed would
    // make two fields answer as one.
    std::set<std::pair<int, int>> numbers;
    std::set<uint32_t> fieldKeys;
    for (const CNFieldDef& f : c->fields) {
      EXPECT_TRUE(numbers.insert({static_cast<int>(CNFamilyOf(f.kind)), f.number}).second) << c->name << "." << f.name;
      EXPECT_TRUE(f.key == 0 || fieldKeys.insert(f.key).second) << c->name << "." << f.name;
      if (f.kind == CNFieldKind::Object || (f.kind == CNFieldKind::ObjectList && f.classKey != 0)) {
        EXPECT_NE(nullptr, CNFindClass(f.classKey)) << c->name << "." << f.name << " takes an unknown class";
      }
    }
  }
}

TEST(MessageRoundTrip, ValuesListsEntryClassesAndOneCanonicalForm) {
  App::LogMonitoringAlert lm;  // int32 fields and one int64 field
  ASSERT_EQ(CN_OK, lm.setint32(1, std::numeric_limits<int32_t>::min()));
  ASSERT_EQ(CN_OK, lm.setint64(29, std::numeric_limits<int64_t>::min()));
  EXPECT_EQ(CN_ERR_BAD_VALUE, lm.setint64(8, int64_t{1} << 31));  // lineNum is 32-bit
  std::unique_ptr<CNMessageBase> back = roundTrip(lm);
  EXPECT_EQ(std::numeric_limits<int32_t>::min(), back->getint32(1));
  EXPECT_EQ(std::numeric_limits<int64_t>::min(), back->getint64(29));
  App::FileSystemQuotaAlert q;
  ASSERT_EQ(CN_OK, q.setint64(4, 0));
  EXPECT_TRUE(roundTrip(q)->isSet(4)) << "a zero that was set stays set";
  const std::string text = "  a & b < \"q\" ' one\r\ntwo\rthree\t ]]> <![CDATA[";
  App::QueryResultColumnValuePair pair;
  ASSERT_EQ(CN_OK, pair.setstring(2, text));
  EXPECT_EQ(text, roundTrip(pair)->getstring(2));

  App::ExternalQueryResult r;
  for (const std::vector<std::string>& list : {std::vector<std::string>{"client-a", "", "a<b"}, {}}) {
    ASSERT_EQ(CN_OK, r.setstringlist(1, list));
    back = roundTrip(r);
    ASSERT_NE(nullptr, back->getstringlist(1)) << "an empty list that was set stays set";
    EXPECT_EQ(list, *back->getstringlist(1));
  }
  // A list of any class names each entry's class, and reads it back typed.
  App::NtAdminAlertAdditionalInfo info;
  ASSERT_EQ(CN_OK, info.addlistobject(3, std::make_unique<App::ExternalQueryResult>()));
  auto entry = std::make_unique<App::NtAdminAlertEntry>();
  entry->setint64(1, 5);
  ASSERT_EQ(CN_OK, info.addlistobject(3, std::move(entry)));
  back = roundTrip(info);
  const CNMessageList* list = back->getlistobject(3);
  ASSERT_TRUE(list && list->size() == 2u);
  EXPECT_NE(nullptr, message_cast<App::ExternalQueryResult>((*list)[0].get()));
  EXPECT_EQ(5, (*list)[1]->getint64(1));

  // Two hand-written forms of one entity: different layout, field order,
  // naming by key instead of number, a comment and a CDATA section.
  auto ma = XMLDecoder::unSerialize(msg("30,1880", "<int field=\"8\">7</int><int field=\"1\">5</int>"));
  auto mb = XMLDecoder::unSerialize(
      "<?xml version=\"1.0\"?>\n<!-- hand written -->\n<message class=\"507417001\">\n"
      "  <int key=\"4371981\"> 5 </int>\n  <int field=\"8\"><![CDATA[7]]></int>\n</message>\n");
  ASSERT_TRUE(ma && mb);
  EXPECT_EQ(serialized(*ma), serialized(*mb));
}

TEST(MessageFieldAccess, KeyedReadsAndFamilies) {
  App::SIDBLowDiskSpaceAlertAdditionalInfo m;
  ASSERT_EQ(CN_OK, m.setstring(4, "SP-Gold"));
  ASSERT_EQ(CN_OK, m.setint64(20, 10240));
  EXPECT_EQ("", m.getstring(4, 7, 504331080, 7639064)) << "key of field 3";
  EXPECT_EQ(10240, m.getint64(20, 504331080, 2090695));

  App::LogMonitoringAlert lm;
  ASSERT_EQ(CN_OK, lm.unserialize("<message type=\"35,80\"><text field=\"7\">matched</text>"
                                  "<int field=\"8\">1402</int></message>"));
  EXPECT_EQ("matched", lm.getstring(7));
  EXPECT_FALSE(lm.isSet(CNFieldFamily::Integer, 7));
  EXPECT_TRUE(lm.isSet(8)) << "the short form asks every family";
  EXPECT_TRUE(lm.isSet(7, 600063440, 0)) << "keyless fields answer key 0";
  lm.clearField(7);
  EXPECT_FALSE(lm.isSet(7));
  EXPECT_EQ(CN_ERR_UNKNOWN_FIELD, lm.setstring(1, "x"));
  CNMessageBase classless(99, 99);
  std::string out = "stale";
  EXPECT_EQ(CN_ERR_NO_CLASS, classless.serialize(out));
  EXPECT_TRUE(out.empty());
}

TEST(MessageNestedObjects, BindOnlyTheDeclaredClassAndMarkWhenAsked) {
  App::StickyAlertsEntity m;
  EXPECT_EQ(nullptr, m.getObjectAccessor(true, true, 1, 1, 504730115, 10347491, 18, 47)) << "wrong nested type";
  EXPECT_TRUE(m.empty()) << "failed binds create nothing";

  CNMessageBase* sub = m.getObjectAccessor(true, true, 1, 1, 504730115, 10347491, 18, 46);
  ASSERT_NE(nullptr, sub);
  EXPECT_NE(nullptr, message_cast<App::DDBEntity>(sub));
  EXPECT_TRUE(m.isSet(1)) << "markSet";

  // An unmarked object counts once filled.
  Api::UserAndUserGroupAlertInfo users;
  CNMessageBase* user = users.getObjectAccessor(true, false, 1, 1, 1989592098, 3599307, 18, 15);
  ASSERT_NE(nullptr, user);
  EXPECT_FALSE(users.isSet(1));
  ASSERT_EQ(CN_OK, user->setint64(0, 501));
  EXPECT_TRUE(users.isSet(1, 1989592098, 3599307));

  App::QueryResultEntity e;
  EXPECT_EQ(CN_ERR_WRONG_CLASS, e.addlistobject(1, std::make_unique<App::ExternalQueryResult>()));
  EXPECT_EQ(CN_ERR_UNKNOWN_FIELD, e.addlistobject(2, std::make_unique<App::QueryResultColumnValuePair>()));
  EXPECT_EQ(nullptr, e.getlistobject(1));
  // A caller that pushes a stranger into the list itself gets no text out.
  ASSERT_EQ(CN_OK, e.addlistobject(1, std::make_unique<App::QueryResultColumnValuePair>()));
  e.getlistobject(1)->push_back(std::make_unique<App::ExternalQueryResult>());
  std::string out;
  EXPECT_EQ(CN_ERR_WRONG_CLASS, e.serialize(out));
}

TEST(MessageDecoder, TypedUnserializeTakesItsOwnClassAndLeavesNothingOnFailure) {
  App::DDBOfflineAlertAdditionalInfo m;
  EXPECT_EQ(CN_ERR_WRONG_CLASS, m.unserialize("<message type=\"30,1880\"/>"));
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
  const CNClassDef* def = CNMessageBase::GetClassDef(355897660);
  ASSERT_NE(nullptr, def);
  CNMessageBase annotation(27, 33);
  ASSERT_EQ(CN_OK, XMLDecoder::FillAnnotation(def, "Succeeded", annotation));
  EXPECT_EQ("Updated successfully", annotation.getstring(0));
  ASSERT_EQ(CN_OK, XMLDecoder::FillAnnotation(def, "Killed", annotation));
  EXPECT_EQ("", annotation.getstring(0)) << "a value without display text replaces the previous one";
  EXPECT_EQ(CN_ERR_UNKNOWN_VALUE, XMLDecoder::FillAnnotation(def, "NoSuchValue", annotation));
}

std::string zentraChain(int depth) {
  return msg("27,40", repeated("<list field=\"12\"><object>", depth - 1) + "<text field=\"18\">leaf</text>" +
                          repeated("</object></list>", depth - 1));
}

// The limits themselves are accepted; one step beyond is refused with a reason.
TEST(MessageBadInput, IsRefusedWithAReason) {
  struct Case {
    const char* what;
    std::string text;
    int code;
  };
  const std::vector<Case> cases = {
      {"empty", "", CN_ERR_EMPTY_INPUT},
      {"NUL byte", std::string("<message type=\"30,1880\">\0</message>", 34), CN_ERR_MALFORMED},
      {"NUL reference wrapping 32 bits", inText("&#x100000000;"), CN_ERR_MALFORMED},
      // XML 1.0 characters only, and no entities but the five predefined.
      {"surrogate reference", inText("&#xD800;"), CN_ERR_MALFORMED},
      {"U+FFFE reference", inText("&#65534;"), CN_ERR_MALFORMED},
      {"byte that is not UTF-8", inText("\xff"), CN_ERR_MALFORMED},
      {"control character in a comment", msg("30,444", "<!-- \x02 -->"), CN_ERR_MALFORMED},
      {"no class", "<message/>", CN_ERR_BAD_STRUCTURE},
      {"unknown type pair", "<message type=\"30,9999\"/>", CN_ERR_UNKNOWN_CLASS},
      {"type and class disagree", "<message type=\"30,1880\" class=\"513549765\"/>", CN_ERR_WRONG_CLASS},
      {"unknown field", msg("30,1880", "<int field=\"4\">1</int>"), CN_ERR_UNKNOWN_FIELD},
      {"field twice", msg("30,1880", "<int field=\"1\">1</int><int key=\"4371981\">2</int>"), CN_ERR_DUPLICATE_FIELD},
      {"int64 overflow", msg("30,1880", "<int field=\"1\">9223372036854775808</int>"), CN_ERR_BAD_VALUE},
      {"object of another class", msg("40,42", "<object field=\"1\" type=\"18,61\"/>"), CN_ERR_WRONG_CLASS},
      {"list entry of another class", msg("30,1402", "<list field=\"1\"><object type=\"30,1155\"/></list>"),
       CN_ERR_WRONG_CLASS},
      {"nested too deep", zentraChain(kCNMaxDepth + 1), CN_ERR_TOO_DEEP},
      {"very deep nesting of unknown elements", msg("27,40", repeated("<a>", 100000) + repeated("</a>", 100000)),
       CN_ERR_BAD_STRUCTURE},
      {"too many elements", msg("30,1155", "<list field=\"1\">" + repeated("<text/>", kCNMaxNodes + 1) + "</list>"),
       CN_ERR_TOO_MANY_NODES},
      {"too many tags", msg("27,40", repeated("<a/>", 2 * kCNMaxNodes + 10)), CN_ERR_TOO_MANY_NODES},
      {"too large", inText(std::string(kCNMaxInputBytes, 'x')), CN_ERR_TOO_LARGE},
      {"deepest nesting", zentraChain(kCNMaxDepth), CN_OK},
      {"largest input", inText(std::string(kCNMaxInputBytes - inText("").size(), 'x')), CN_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<CNMessageBase> out;
    std::string error;
    const int rc = XMLDecoder::unSerialize(c.text, out, error);
    EXPECT_EQ(c.code, rc) << CNMessageErrorText(rc) << ": " << error;
    EXPECT_EQ(c.code == CN_OK, out != nullptr);
    EXPECT_EQ(c.code == CN_OK, error.empty());
  }
  std::unique_ptr<CNMessageBase> m = XMLDecoder::unSerialize(
      "\xEF\xBB\xBF<?xml version=\"1.0\"?><message type=\"30,444\"><!-- & <!DOCTYPE --><text field=\"3\">"
      "&#x10FFFF;&#xFFFD;&#9;&#13;&apos;&quot;<![CDATA[&nbsp; <?pi?>]]></text></message>");
  ASSERT_NE(nullptr, m);
  EXPECT_EQ("\xf4\x8f\xbf\xbf\xef\xbf\xbd\t\r'\"&nbsp; <?pi?>", m->getstring(3));
}

TEST(MessageBadInput, SerializeRefusesWhatCouldNotBeReadBack) {
  App::AuxcopyFallenBehindAlertInfo bell, large;
  ASSERT_EQ(CN_OK, bell.setstring(3, "bell\x07"));
  ASSERT_EQ(CN_OK, large.setstring(3, std::string(kCNMaxInputBytes, 'x')));
  App::ExternalQueryResult wide;  // the list element and its entries count as nodes
  ASSERT_EQ(CN_OK, wide.setstringlist(1, std::vector<std::string>(kCNMaxNodes, "")));
  NXGui::ZentraTreeNode deep;
  CNMessageBase* node = &deep;
  for (int i = 1; i <= kCNMaxDepth; ++i) {
    auto child = std::make_unique<NXGui::ZentraTreeNode>();
    CNMessageBase* next = child.get();
    ASSERT_EQ(CN_OK, node->addlistobject(12, std::move(child)));
    node = next;
  }
  const std::pair<const CNMessageBase*, int> cases[] = {
      {&bell, CN_ERR_BAD_VALUE}, {&large, CN_ERR_TOO_LARGE}, {&wide, CN_ERR_TOO_MANY_NODES}, {&deep, CN_ERR_TOO_DEEP}};
  for (const auto& [m, code] : cases) {
    std::string out = "stale";
    EXPECT_EQ(code, m->serialize(out)) << CNMessageErrorText(code);
    EXPECT_TRUE(out.empty());
  }
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

// Every example reads, round-trips and shows fields, and every class has one.
TEST(MessageDocs, ExamplesReadAndCoverEveryClass) {
  const std::vector<std::string> examples = docExamples();
  ASSERT_GE(examples.size(), 15u);
  std::set<uint32_t> seen;
  for (const std::string& text : examples) {
    SCOPED_TRACE(text);
    std::unique_ptr<CNMessageBase> m;
    std::string error;
    ASSERT_EQ(CN_OK, XMLDecoder::unSerialize(text, m, error)) << error;
    EXPECT_FALSE(m->empty()) << "an example should show fields";
    collectClasses(*m, seen);
    roundTrip(*m);
  }
  for (const CNClassDef* c : CNAllClasses())
    EXPECT_TRUE(c->isEnum || seen.count(c->classKey)) << c->name << " has no example in docs/messages.md";
}

}  // namespace
