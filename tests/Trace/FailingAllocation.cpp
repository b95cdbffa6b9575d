// Allocation failure while the library loads, for the test that the library
// still loads (tracing then stays off).
//
// With BASECOMMS_TEST_FAIL_LOAD_ALLOCATIONS set, every operator new of this
// program throws std::bad_alloc from the first static constructors (priority
// 102, right after the trace names are chosen) until the library's static
// objects are built (priorities 1000 to 1004); from priority 1005 on,
// allocation works as usual. Without the variable this replacement only
// forwards to malloc and free.
#include <cstdlib>
#include <new>

#include "ChildProcess.h"

namespace {
bool g_failAllocations = false;  // written only by the static constructors below
}  // namespace

__attribute__((constructor(102))) static void FailAllocationsWhileTheLibraryLoads() {
  g_failAllocations = std::getenv(kFailLoadAllocationsVariable) != nullptr;
}

__attribute__((constructor(1005))) static void AllocateAgainOnceTheLibraryLoaded() { g_failAllocations = false; }

void* operator new(std::size_t size) {
  if (!g_failAllocations) {
    if (void* memory = std::malloc(size != 0 ? size : 1)) return memory;
  }
  throw std::bad_alloc();
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
