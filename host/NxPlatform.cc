#include "host/NxPlatform.h"

#include <mutex>

namespace {
std::mutex& focusMutex() {
  static std::mutex m;
  return m;
}
std::string& focusName() {
  static std::string name = NXPI_Focus::kDefaultFocus;
  return name;
}
}  // namespace

std::string NXPI_Focus::getFocus() {
  try {
    std::lock_guard<std::mutex> lk(focusMutex());
    return focusName();
  } catch (...) {
    return kDefaultFocus;
  }
}

void NXPI_Focus::setFocus(const std::string& name) {
  try {
    std::lock_guard<std::mutex> lk(focusMutex());
    focusName() = name.empty() ? std::string(kDefaultFocus) : name;
  } catch (...) {
  }
}
