// libFuzzer target of the message library: whatever the input, reading must
// end in a message or an error code, and whatever was read must write out,
// read back and write out again to the same canonical text.
//
//   clang++ -std=c++20 -fsanitize=fuzzer,address -I. -Iinclude \
//       fuzz/messages_fuzz.cc host/messages/*.cc -lpugixml -o /tmp/fzm
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "host/messages/CNMessageBase.h"
#include "host/messages/XMLDecoder.h"
#include "host/messages/message_classes.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// Reads every field of a message the way the handlers do, through both the
// short and the keyed forms, and walks into nested objects and lists.
void readAll(CNMessageBase& m, int depth) {
  const CNClassDef* def = m.classDef();
  if (!def || depth > kCNMaxDepth) return;
  for (const CNFieldDef& f : def->fields) {
    (void)m.isSet(f.number);
    (void)m.isSet(f.number, def->classKey, f.key);
    switch (f.kind) {
      case CNFieldKind::Int32:
      case CNFieldKind::Int64:
        (void)m.getint64(f.number, def->classKey, f.key);
        (void)m.getint32(f.number);
        break;
      case CNFieldKind::Text:
        (void)m.getstring(f.number, f.slot, def->classKey, f.key);
        break;
      case CNFieldKind::Object: {
        const CNClassDef* nested = CNFindClass(f.classKey);
        if (!nested) break;
        CNMessageBase* sub = m.getObjectAccessor(false, false, f.number, f.slot, def->classKey, f.key,
                                                 nested->type.major, nested->type.minor);
        if (sub) readAll(*sub, depth + 1);
        break;
      }
      case CNFieldKind::ObjectList:
        if (CNMessageList* list = m.getlistobject(f.number))
          for (auto& item : *list) readAll(*item, depth + 1);
        break;
      case CNFieldKind::TextList:
        (void)m.getstringlist(f.number);
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  std::unique_ptr<CNMessageBase> msg;
  std::string error;
  const int rc = XMLDecoder::unSerialize(text, msg, error);
  check((rc == CN_OK) == (msg != nullptr));
  check(rc == CN_OK || !error.empty());

  // The same text read into a typed object of a fixed class: either the same
  // result or a refusal that leaves the object empty.
  App::QueryResultsContainer container;
  const int typed = container.unserialize(text);
  if (typed != CN_OK) check(container.empty());
  if (msg && msg->getTagId() == App::QueryResultsContainer::kClassKey) check(typed == CN_OK);

  if (!msg) return 0;
  readAll(*msg, 1);

  // Escapes and the canonical attributes can make the text longer than the
  // input, so an input near the size limit may write out too large; nothing
  // else may fail.
  std::string first;
  const int written = msg->serialize(first);
  if (written == CN_ERR_TOO_LARGE) return 0;
  check(written == CN_OK);
  std::unique_ptr<CNMessageBase> again;
  check(XMLDecoder::unSerialize(first, again) == CN_OK);
  std::string second;
  check(again->serialize(second) == CN_OK);
  check(first == second);

  std::unique_ptr<CNMessageBase> copy = msg->clone();
  std::string third;
  check(copy->serialize(third) == CN_OK && third == first);
  return 0;
}
