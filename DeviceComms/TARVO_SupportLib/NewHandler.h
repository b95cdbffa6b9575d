// NewHandler.h: the allocation-failure handler bracket.
//
// The component's public operations install a handler that throws
// TVO_MemoryAllocError when `new` finds no memory, and put the caller's
// handler back on every way out. The handler is process-wide (as on Windows).
// The pair also holds the "new mode" (whether malloc calls the handler),
// which callers save and restore with it; it has no effect on Linux.
//
// Because the handler is process-wide, a plain save-and-restore per call
// breaks as soon as two threads are inside the library at once: the second
// saves the first one's throwing handler and puts it back last, leaving it
// installed for the whole host. TVO_NewHandlerScope therefore counts the open
// brackets of all threads: the first to open saves the host's handler and
// installs the throwing one, the last to close puts the host's handler back.
// The library's own error handling does not depend on which handler is in
// force: it also catches std::bad_alloc (FailTrace.h).
//
// Threads: every function here may be called from any thread; the bracket
// count and the saved pair are guarded by one internal mutex, taken for a
// few instructions and never while calling out.
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

// The counted bracket (see above). Every Open is matched by one Close.
BASECOMMS_API void OpenNewHandlerBracket();
BASECOMMS_API void CloseNewHandlerBracket();
// After a call out to the host (the result sink, the protocol layer's Send):
// undoes whatever handler the callee installed by putting the throwing one
// back while any bracket is open; changes nothing while none is.
BASECOMMS_API void RestoreNewHandlerAfterCallout();

// Opens the bracket on construction and closes it on destruction, so that
// the host's handler comes back however the scope is left.
class TVO_NewHandlerScope {
 public:
  TVO_NewHandlerScope() { OpenNewHandlerBracket(); }
  ~TVO_NewHandlerScope() { CloseNewHandlerBracket(); }
  TVO_NewHandlerScope(const TVO_NewHandlerScope&) = delete;
  TVO_NewHandlerScope& operator=(const TVO_NewHandlerScope&) = delete;
};

// Wraps one call out to the host: RestoreNewHandlerAfterCallout when left.
class TVO_CalloutScope {
 public:
  TVO_CalloutScope() = default;
  ~TVO_CalloutScope() { RestoreNewHandlerAfterCallout(); }
  TVO_CalloutScope(const TVO_CalloutScope&) = delete;
  TVO_CalloutScope& operator=(const TVO_CalloutScope&) = delete;
};
