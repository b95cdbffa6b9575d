// NewHandler.h: the allocation-failure handler bracket.
//
// The component's public operations install a handler that throws
// TVO_MemoryAllocError when `new` finds no memory, and put the caller's
// handler back on every way out. The handler is process-wide (as on Windows).
// The pair also holds the "new mode" (whether malloc calls the handler),
// which callers save and restore with it; it has no effect on Linux.
#pragma once

#include <new>

#include "Platform/Export.h"

struct TVO_NewHandlerPair {
  std::new_handler handler = nullptr;
  int newMode = 0;
};

// Installs the throwing handler (new mode 1); returns what was in force.
BASECOMMS_API TVO_NewHandlerPair SetNewHandlerWithThrowError();
// Puts a saved pair back.
BASECOMMS_API void ResetNewHandler(const TVO_NewHandlerPair& previous);
// What is in force now, unchanged.
BASECOMMS_API TVO_NewHandlerPair QueryCurrentNewHandler();

// Opens the bracket on construction and closes it on destruction, so that
// the previous handler comes back however the scope is left.
class TVO_NewHandlerScope {
 public:
  TVO_NewHandlerScope() : m_previous(SetNewHandlerWithThrowError()) {}
  ~TVO_NewHandlerScope() { ResetNewHandler(m_previous); }
  TVO_NewHandlerScope(const TVO_NewHandlerScope&) = delete;
  TVO_NewHandlerScope& operator=(const TVO_NewHandlerScope&) = delete;

 private:
  TVO_NewHandlerPair m_previous;
};
