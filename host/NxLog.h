// log_error of the host framework: a last-resort error line for places that
// have no alert-log scope (table bindings' constructors).
#pragma once

#include <functional>
#include <string>

void log_error(const char* file, int line, const char* format, ...) __attribute__((format(printf, 3, 4)));

// Where log_error lines go: standard error until the alert log takes them over.
void setLogErrorSink(std::function<void(const std::string&)> sink);
