#include "Trace/TraceLayout.h"

#include <cstdlib>

namespace qtmtrace {

const std::string& TraceNameSuffix() {
  // Never destroyed: the trace statics use it until the library unloads.
  static const std::string* suffix = [] {
    const char* value = std::getenv(kSuffixVariable);
    return new std::string(value != nullptr ? value : "");
  }();
  return *suffix;
}

std::string TraceObjectName(const char* baseName) { return std::string(baseName) + TraceNameSuffix(); }

}  // namespace qtmtrace
