// Text conversion of the host framework.
#pragma once

#include <string>

class FXString {
 public:
  // The stored form of a text value: the bytes of TEXT as they are (null
  // gives ""). Text that is not valid UTF-8 is kept byte for byte rather
  // than repaired or refused, so a value always reaches its column exactly
  // as the event carried it; what to show for such bytes is the reader's
  // concern.
  static std::string ToString(const char* text);
};
