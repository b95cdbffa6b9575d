// FailTrace.h: the component's FAIL lines for caught errors, written once.
//
// "FAIL: Code(%x), File(%s), Line(%d)\n" for a TVO_RuntimeError (or a failure
// code), and the lines the worker threads write for any other exception
// before they go on. Callers pass __FILE__ and __LINE__ of the catch.
#pragma once

#include <exception>

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

// Runs one step of a worker thread. Nothing escapes it: a TVO_RuntimeError
// (so also an allocation failure) or any other exception is traced, and the
// thread goes on with its loop.
template <typename Step>
void RunThreadStep(Step&& step, const char* file, int line) noexcept {
  try {
    step();
  } catch (const TVO_RuntimeError& error) {
    TraceCaught(error, file, line);
  } catch (const std::exception& error) {
    QTMTraceDevice("FAIL: Exception(%s), File(%s), Line(%d)\n", error.what(), file, line);
  } catch (...) {
    QTMTraceDevice("FAIL: Exception(unknown), File(%s), Line(%d)\n", file, line);
  }
}
