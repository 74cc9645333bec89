#include "host/AppProperties.h"

#include <cstdlib>

int ApplProperty::getIntegerValue() const { return std::atoi(value_.c_str()); }
