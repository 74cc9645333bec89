// XMLDecoder: the XML side of the message library, and the enumerations.
//
// Contract
// - unSerialize(text) reads a serialised message of any registered class
//   (the root element names it) and returns it as its typed class of
//   message_classes.h; the caller branches on getTagId() and narrows with
//   message_cast. nullptr (with the error code through the second form)
//   for input that is empty, too large, too deep, not well-formed, of an
//   unknown class, or that names a field or value its class does not have.
// - GetEnumString(tag, code) is the enumeration's name for the code, or the
//   code in decimal when the enumeration or the value is unknown.
// - FillAnnotation(enumDef, valueName, annotation) writes the display text
//   of an enumeration value into text field 0 of an annotation-text message
//   (type pair 27, 33). A value without display text leaves an empty text.
//   0, or a CNMessageError when the enumeration, the value or the message
//   class is wrong.
// - Nothing here throws; nothing here keeps state between calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "host/messages/CNMessageBase.h"

class XMLDecoder {
 public:
  static std::unique_ptr<CNMessageBase> unSerialize(std::string_view text);
  static int unSerialize(std::string_view text, std::unique_ptr<CNMessageBase>& out);
  // The same, with a description of the failure for a log line.
  static int unSerialize(std::string_view text, std::unique_ptr<CNMessageBase>& out, std::string& error);

  static std::string GetEnumString(uint32_t enumTagId, int64_t code);
  static int FillAnnotation(const CNClassDef* enumDef, std::string_view valueName, CNMessageBase& annotation);

  // Parses into `target` (whose class the root must name); used by
  // CNMessageBase::unserialize.
  static int parseInto(std::string_view text, CNMessageBase& target, std::string& error);
  static int write(const CNMessageBase& msg, std::string& out);
};
