#include "Trace/HostLogSink.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Trace/TraceSink.h"

namespace qtmtrace {

std::atomic<bool> g_sinkOn{false};

namespace {

constexpr std::size_t kSinkFilterSize = 36;  // as the channel's filter
constexpr char kDefaultFilter[] = "HO";

BaseCommsTraceSink g_sink GUARDED_BY(g_traceLock) = nullptr;
void* g_sinkContext GUARDED_BY(g_traceLock) = nullptr;
char g_sinkFilter[kSinkFilterSize] GUARDED_BY(g_traceLock) = {};

void WriteToStandardError(void*, const char* line) {
  std::fputs(line, stderr);
  std::fflush(stderr);
}

// Installs the standard-error sink when the environment asks for it, once
// the trace objects it uses exist (they have priorities 1001 to 1004).
struct StandardErrorSwitch {
  StandardErrorSwitch() {
    const char* value = std::getenv("BASECOMMS_TRACE_STDERR");
    if (value == nullptr) return;
    const bool plain = *value == '\0' || std::strcmp(value, "1") == 0;
    BaseCommsSetTraceSink(&WriteToStandardError, nullptr, plain ? nullptr : value);
  }
};
StandardErrorSwitch g_standardErrorSwitch __attribute__((init_priority(1005)));

}  // namespace

bool SinkWants(const char* category) {
  return g_sink != nullptr && FilterAllows(g_sinkFilter, category);
}

void SinkPut(const char* line) {
  if (g_sink != nullptr) g_sink(g_sinkContext, line);
}

}  // namespace qtmtrace

void BaseCommsSetTraceSink(BaseCommsTraceSink sink, void* context, const char* filter) {
  using namespace qtmtrace;
  CQTMTraceLockGuard lock(g_traceLock);
  const char* chosen = filter != nullptr && *filter != '\0' ? filter : kDefaultFilter;
  std::size_t i = 0;
  for (; chosen[i] != '\0' && i + 1 < kSinkFilterSize; ++i) {
    g_sinkFilter[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(chosen[i])));
  }
  g_sinkFilter[i] = '\0';
  g_sink = sink;
  g_sinkContext = context;
  g_sinkOn.store(sink != nullptr, std::memory_order_relaxed);
}
