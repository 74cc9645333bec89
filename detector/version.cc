#include "detector/version.h"
const char* evdetectorVersion() { return "0.1.0"; }
