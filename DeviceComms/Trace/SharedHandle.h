// SharedHandle.h: the handle of a named object the viewer created, as the
// trace mutex and the trace event keep it.
//
// Owns the handle it holds. Reset, Close and Take are called only with the trace
// lock held (the channel opens and closes); Get is called from any thread
// without it, which is why the handle is atomic. Allocates nothing.
#pragma once

#include <atomic>

#include "Platform/Handle.h"
#include "Platform/WinTypes.h"

class CQTMSharedHandle {
 public:
  CQTMSharedHandle() noexcept = default;
  ~CQTMSharedHandle() { Close(); }
  CQTMSharedHandle(const CQTMSharedHandle&) = delete;
  CQTMSharedHandle& operator=(const CQTMSharedHandle&) = delete;

  // Holds `handle` (null: none) instead of the one held before, which is
  // closed. True when a handle is held.
  bool Reset(HANDLE handle) {
    Close();
    m_handle.store(handle, std::memory_order_release);
    return handle != nullptr;
  }
  void Close() {
    HANDLE handle = Take();
    if (handle != nullptr) CloseHandle(handle);
  }
  // Gives up the handle without closing it: the caller closes it.
  HANDLE Take() { return m_handle.exchange(nullptr, std::memory_order_acq_rel); }
  HANDLE Get() const { return m_handle.load(std::memory_order_acquire); }

 private:
  std::atomic<HANDLE> m_handle{nullptr};
};
