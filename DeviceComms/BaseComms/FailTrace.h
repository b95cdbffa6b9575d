// FailTrace.h: the component's FAIL lines for caught errors, written once.
//
// "FAIL: Code(%x), File(%s), Line(%d)\n" for a TVO_RuntimeError (or a failure
// code), and the lines the worker threads write for any other exception
// before they go on. Callers pass __FILE__ and __LINE__ of the catch.
#pragma once

#include <exception>
#include <new>

#include "Platform/ComResults.h"
#include "Platform/WinTypes.h"
#include "TARVO_SupportLib/TVO_Error.h"
#include "Trace/QTMTrace.h"

// Traces the code and gives it back.
inline LONG TraceFailCode(LONG code, const char* file, int line) {
  QTMTraceDevice("FAIL: Code(%x), File(%s), Line(%d)\n", static_cast<unsigned>(code), file, line);
  return code;
}

inline LONG TraceCaught(const TVO_RuntimeError& error, const char* file, int line) {
  return TraceFailCode(error.GetErrorCode(), file, line);
}

// For a catch (...) block of a public operation or a thread loop: traces the
// FAIL line of the exception in flight and gives its code. A TVO_RuntimeError
// gives its own code. A std::bad_alloc gives E_OUTOFMEMORY: the new-handler is
// process-wide, so another thread may have put back a handler that does not
// throw TVO_MemoryAllocError while this call's bracket was open, and an
// allocation failure must mean the same whichever handler was in force.
// Anything else (a plug-in or host object that threw) gives E_FAIL and a
// second line naming what was thrown.
inline LONG TraceCaughtException(const char* file, int line) noexcept {
  try {
    throw;
  } catch (const TVO_RuntimeError& error) {
    return TraceCaught(error, file, line);
  } catch (const std::bad_alloc&) {
    return TraceFailCode(E_OUTOFMEMORY, file, line);
  } catch (const std::exception& error) {
    QTMTraceDevice("FAIL: Exception(%s), File(%s), Line(%d)\n", error.what(), file, line);
    return TraceFailCode(E_FAIL, file, line);
  } catch (...) {
    QTMTraceDevice("FAIL: Exception(unknown), File(%s), Line(%d)\n", file, line);
    return TraceFailCode(E_FAIL, file, line);
  }
}

// The code TraceCaughtException gives, without any trace line: for the
// operations that trace nothing (SetMode, GetMode).
inline LONG CaughtExceptionCode() noexcept {
  try {
    throw;
  } catch (const TVO_RuntimeError& error) {
    return error.GetErrorCode();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

// Runs one step of a worker thread. Nothing escapes it: whatever is thrown
// is traced, and the thread goes on with its loop.
template <typename Step>
void RunThreadStep(Step&& step, const char* file, int line) noexcept {
  try {
    step();
  } catch (...) {
    TraceCaughtException(file, line);
  }
}
