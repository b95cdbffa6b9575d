#include "BaseComms/LoadErrors.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "Platform/CriticalSection.h"
#include "Platform/ThreadAnnotations.h"
#include "Trace/QTMTrace.h"

namespace {

// The kept texts; `lock` guards the rest.
struct LoadErrors {
  LoadErrors() { InitializeCriticalSection(&lock); }
  ~LoadErrors() { DeleteCriticalSection(&lock); }
  LoadErrors(const LoadErrors&) = delete;
  LoadErrors& operator=(const LoadErrors&) = delete;

  CRITICAL_SECTION lock;
  std::map<const ParallelCommunication*, std::string> byComponent GUARDED_BY(lock);
  std::string last GUARDED_BY(lock);
};

LoadErrors& TheLoadErrors() {
  // Never destroyed: components may be destroyed while statics are.
  static LoadErrors* instance = new LoadErrors();
  return *instance;
}

// Trace lines over 512 characters are dropped whole, so a long reason (deep
// module paths, a long dlerror text) is cut for the trace; the kept text is whole.
constexpr int kTracedReasonLength = 400;

}  // namespace

ULONG BaseCommsGetLastLoadError(const ParallelCommunication* pComponent, char* buffer, ULONG size) {
  LoadErrors& errors = TheLoadErrors();
  CriticalSectionLock lock(errors.lock);
  const std::string* text = &errors.last;
  static const std::string none;
  if (pComponent != nullptr) {
    auto found = errors.byComponent.find(pComponent);
    text = found != errors.byComponent.end() ? &found->second : &none;
  }
  if (buffer != nullptr && size > 0) {
    const std::size_t copied = std::min<std::size_t>(text->size(), size - 1);
    std::memcpy(buffer, text->data(), copied);
    buffer[copied] = '\0';
  }
  return static_cast<ULONG>(text->size());
}

void ReportServiceLoadFailure(const ParallelCommunication* pComponent, const std::string& reason) noexcept {
  QTMTraceDevice("FAIL: Reason(%.*s)\n", kTracedReasonLength, reason.c_str());
  try {
    LoadErrors& errors = TheLoadErrors();
    CriticalSectionLock lock(errors.lock);
    errors.last = reason;
    errors.byComponent[pComponent] = reason;
  } catch (...) {
    // The text is diagnostics only; the request's failure stands without it.
  }
}

void ForgetLoadError(const ParallelCommunication* pComponent) noexcept {
  try {
    LoadErrors& errors = TheLoadErrors();
    CriticalSectionLock lock(errors.lock);
    errors.byComponent.erase(pComponent);
  } catch (...) {
    // Only the first use allocates; with nothing kept there is nothing to drop.
  }
}
