#include "Support/FailingAllocations.h"

#include <cstdlib>
#include <new>

#if defined(__SANITIZE_THREAD__)
#define DOUBLES_REPLACE_NEW 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define DOUBLES_REPLACE_NEW 0
#endif
#endif
#ifndef DOUBLES_REPLACE_NEW
#define DOUBLES_REPLACE_NEW 1
#endif

namespace {
// Allocations this thread may still make; negative: no limit.
thread_local int t_allocationsLeft = -1;
}  // namespace

namespace doubles {

bool CanFailAllocations() { return DOUBLES_REPLACE_NEW != 0; }

FailAllocations::FailAllocations(int allowed) : m_previous(t_allocationsLeft) { t_allocationsLeft = allowed; }

FailAllocations::~FailAllocations() { t_allocationsLeft = m_previous; }

}  // namespace doubles

#if DOUBLES_REPLACE_NEW
// As the standard operator new: on failure the new-handler runs and the
// allocation is tried again, std::bad_alloc when there is no handler.
void* operator new(std::size_t size) {
  if (size == 0) size = 1;
  for (;;) {
    void* memory = nullptr;
    if (t_allocationsLeft != 0) {
      memory = std::malloc(size);
      if (memory != nullptr && t_allocationsLeft > 0) --t_allocationsLeft;
    }
    if (memory != nullptr) return memory;
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
    if (t_allocationsLeft == 0) throw std::bad_alloc();  // a handler that returns frees nothing here
  }
}
// Every other form that is not over-aligned goes through the two above, so
// that no allocator (a sanitizer's, say) sees memory of the other.
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& nothrow) noexcept {
  return ::operator new(size, nothrow);
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
#endif
