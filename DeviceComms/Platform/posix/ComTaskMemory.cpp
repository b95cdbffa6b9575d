#include <atomic>
#include <cstdlib>

#include "Platform/Com.h"

namespace {
std::atomic<LONG> g_blocksInUse{0};
}

LPVOID CoTaskMemAlloc(SIZE_T size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block != nullptr) g_blocksInUse.fetch_add(1, std::memory_order_relaxed);
  return block;
}

LPVOID CoTaskMemRealloc(LPVOID block, SIZE_T size) {
  if (block == nullptr) return CoTaskMemAlloc(size);
  // As with realloc, a failure leaves the old block allocated.
  return std::realloc(block, size == 0 ? 1 : size);
}

void CoTaskMemFree(LPVOID block) {
  if (block == nullptr) return;
  g_blocksInUse.fetch_sub(1, std::memory_order_relaxed);
  std::free(block);
}

LONG CoTaskMemBlocksInUse() { return g_blocksInUse.load(std::memory_order_relaxed); }
