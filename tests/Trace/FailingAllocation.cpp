// Allocation failure while the library loads, for the test that the library
// still loads (tracing then stays off).
//
// With BASECOMMS_TEST_FAIL_LOAD_ALLOCATIONS set, the main thread's
// allocations fail (Support/FailingAllocations.h) from the first static
// constructors (priority 102, right after the trace names are chosen) until
// the library's static objects are built (priorities 1000 to 1004); from
// priority 1005 on, allocation works as usual.
#include <cstdlib>
#include <optional>

#include "ChildProcess.h"
#include "Support/FailingAllocations.h"

namespace {
std::optional<doubles::FailAllocations> g_failing;  // written only by the static constructors below
}  // namespace

__attribute__((constructor(102))) static void FailAllocationsWhileTheLibraryLoads() {
  if (std::getenv(kFailLoadAllocationsVariable) != nullptr) g_failing.emplace();
}

__attribute__((constructor(1005))) static void AllocateAgainOnceTheLibraryLoaded() { g_failing.reset(); }
