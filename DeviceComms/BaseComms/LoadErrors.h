// LoadErrors.h: why a message service could not be created, for the host.
//
// When a request fails because no service could be made for its device
// message (nothing configured for the command, no version fits the runtime
// version, the plug-in module cannot be loaded or is refused, the class is
// missing or of another interface, its factory failed, or the instance
// refused the message), the component traces the reason on a FAIL line of
// its own right after the request's FAIL line and keeps it as the component's
// and the process's last load error. A host reads it with
// BaseCommsGetLastLoadError, typically after a request was refused with
// E_NOTIMPL / QTM_E_INVALID_COMMAND. A failed Initialise leaves its reason
// the same way (the service table cannot be read or is wrong: which call,
// node or attribute; the device information or the result sink lacks an
// interface; a thread cannot start). Running out of memory is never such a
// failure: it is reported as E_OUTOFMEMORY and leaves no load error.
//
// Ownership: the texts are copies kept by the library; a component's text is
// dropped when the component is destroyed.
//
// Threads: every function may be called from any thread; one process-wide
// lock (a leaf: nothing else is taken while it is held) guards the texts.
#pragma once

#include <string>

#include "Platform/Export.h"
#include "Platform/WinTypes.h"

class ParallelCommunication;

// Copies the last load error of `pComponent` (null: the last one of any
// component of the process) into `buffer`, cut to `size` - 1 characters and
// NUL-terminated (nothing is written when `buffer` is null or `size` is 0),
// and returns the full length of the text without its NUL; 0 when there was
// no load error.
BASECOMMS_API ULONG BaseCommsGetLastLoadError(const ParallelCommunication* pComponent, char* buffer, ULONG size);

// The same, as a string.
inline std::string BaseCommsLastLoadError(const ParallelCommunication* pComponent) {
  std::string text(BaseCommsGetLastLoadError(pComponent, nullptr, 0), '\0');
  if (!text.empty()) BaseCommsGetLastLoadError(pComponent, text.data(), static_cast<ULONG>(text.size() + 1));
  return text;
}

// For the component: traces "FAIL: Reason(...)" and keeps `reason` as the
// component's and the process's last load error. Never throws; a text that
// cannot be kept (out of memory) is lost.
void ReportServiceLoadFailure(const ParallelCommunication* pComponent, const std::string& reason) noexcept;
// Drops the component's text (its destructor).
void ForgetLoadError(const ParallelCommunication* pComponent) noexcept;
