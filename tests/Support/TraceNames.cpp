#include "Support/TraceNames.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "Trace/TraceLayout.h"
#include "Trace/TraceReader.h"

namespace testsupport {

void UseOwnTraceNames() {
  // /proc/self/cmdline: the arguments, each ended by a NUL.
  std::ifstream commandLine("/proc/self/cmdline", std::ios::binary);
  std::string identity((std::istreambuf_iterator<char>(commandLine)), std::istreambuf_iterator<char>());
  char executable[4096];
  const ssize_t length = ::readlink("/proc/self/exe", executable, sizeof executable);
  if (length > 0) identity.append(executable, static_cast<std::size_t>(length));
  std::uint32_t hash = 2166136261u;  // FNV-1a: the same on every run and build
  for (const char c : identity) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;

  const char* given = std::getenv(qtmtrace::kSuffixVariable);
  char own[16];
  std::snprintf(own, sizeof own, "-%08x", static_cast<unsigned>(hash));
  const std::string suffix = std::string(given != nullptr ? given : "-bctest") + own;
  setenv(qtmtrace::kSuffixVariable, suffix.c_str(), 1);
}

void RemoveOwnTraceObjects() { CQTMTraceReader::RemoveChannel(qtmtrace::TraceNameSuffix()); }

}  // namespace testsupport
