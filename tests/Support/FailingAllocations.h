// FailingAllocations.h: makes one thread's allocations fail, for tests of
// what code does when memory runs out.
//
// A program that links this replaces the global operator new (the forms that
// the others are built on): it behaves as the standard one, and while a
// FailAllocations scope is active on a thread, that thread's allocations
// beyond the allowed number fail as an exhausted heap does: the installed
// new-handler runs (a component's throws TVO_MemoryAllocError), then
// std::bad_alloc is thrown. Plug-in modules the program loads use the same
// operator new. Other threads are never affected.
//
// ThreadSanitizer's runtime defines operator new itself, so under it nothing
// is replaced and CanFailAllocations() is false: tests skip.
#pragma once

namespace doubles {

bool CanFailAllocations();

class FailAllocations {
 public:
  // `allowed` more allocations of this thread succeed, then each one fails.
  explicit FailAllocations(int allowed = 0);
  ~FailAllocations();
  FailAllocations(const FailAllocations&) = delete;
  FailAllocations& operator=(const FailAllocations&) = delete;

 private:
  int m_previous;
};

}  // namespace doubles
