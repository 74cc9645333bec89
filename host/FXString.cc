#include "host/FXString.h"

std::string FXString::ToString(const char* text) {
  try {
    return text ? std::string(text) : std::string();
  } catch (...) {
    return std::string();
  }
}
