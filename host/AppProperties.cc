#include "host/AppProperties.h"

#include <cstdlib>

int ApplProperty::getIntegerValue() const { return std::atoi(m_value.c_str()); }
