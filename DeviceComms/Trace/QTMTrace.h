// QTMTrace.h: the trace library: formatted lines into the shared trace
// channel read by the trace viewer.
//
// A line is: the prefix (QTMTraceLinePrefix), "ERROR: " when the category
// starts with 'e', then the caller's text, which ends with "\n" (no line end
// is added). The viewer chooses categories with a filter: a category passes
// when each of its characters, upper-cased, is in the filter; the empty
// category always passes. Lines longer than 512 characters are dropped whole.
//
// Cost: with no viewer, or tracing switched off, a trace is three memory
// reads and takes no lock. The formatted traces are also macros of the same
// name (at the end of this file) that make this check at the call site, so
// that a trace switched off costs neither a call nor its arguments'
// evaluation (arguments must therefore not have side effects the caller
// needs). Otherwise the filter is read under the process's trace lock alone
// (briefly) and the line is formatted on the stack without any lock; only
// the copy into the ring holds the trace lock and the named trace mutex (the
// viewer's event is set after both are left). When the viewer lags more than 900 lines behind, a writer
// waits (1 ms at a time) until it catches up or switches tracing off, but
// never longer than kLineWaitMs (TraceLayout.h) for one line, mutex waits
// included (counted from the line's first wait): then the line is dropped
// and counted for the viewer, and until the viewer takes lines again
// further lines are dropped without waiting. When the ring is full and the
// viewer is gone (killed), tracing is switched
// off. No trace ever blocks without bound.
//
// Thread-safety: every function may be called from any thread. No function
// throws: a line that cannot be built (out of memory) is dropped.
#pragma once

#include <cstdarg>
#include <string>

#include "Trace/TraceSink.h"

#define QTM_TRACE_PRINTF(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))

// The central writer: formats one line in `category` (null = empty) and puts
// it into the channel.
void QTMTraceCategory(const char* category, const char* format, va_list arguments) QTM_TRACE_PRINTF(2, 0);
void QTMTraceCategoryF(const char* category, const char* format, ...) QTM_TRACE_PRINTF(2, 3);

// The component's own trace, category "ho". Every trace of the component
// goes through it.
void QTMTraceDevice(const char* format, ...) QTM_TRACE_PRINTF(1, 2);

// The filter test; reads the filter afresh at every call. False when the
// channel is not open.
bool QTMTraceIsEnabled(const char* category);

// The prefix of a line: "@" process name without folder and extension, in
// lower case; "I" thread id "(%02X)"; "N" milliseconds "(%05d)" modulo
// 10000; ": " after any of them. Each part only when its pseudo-category
// passes the filter; empty when none does.
std::string QTMTraceLinePrefix();

// Puts one finished line (at most 512 characters, else dropped) into the
// next slot and sets the trace event (waiting for room as said above).
void QTMTracePutLine(const char* line);

// Library load and unload; called by the static CQTMTraceInit. Open only
// opens the objects a viewer created (never creates any): without a viewer's
// channel at load, tracing stays off. Neither throws.
void QTMTraceOpenChannel();
void QTMTraceCloseChannel();

// Formatted traces with a fixed category: (function name, category).
#define QTM_TRACE_FIXED_CATEGORIES(X) \
  X(QTMTrace, "")                     \
  X(QTMTraceSo, "so")                 \
  X(QTMTraceMo, "mo")                 \
  X(QTMTraceAo, "ao")                 \
  X(QTMTraceXo, "xo")                 \
  X(QTMTraceRo, "ro")                 \
  X(QTMTraceWo, "wo")                 \
  X(QTMTraceLo, "lo")                 \
  X(QTMTraceTo, "to")                 \
  X(QTMTraceYo, "yo")                 \
  X(QTMTraceCo, "co")                 \
  X(QTMTraceZo, "zo")                 \
  X(QTMTraceUo, "uo")                 \
  X(QTMTraceGo, "go")                 \
  X(QTMTraceJo, "jo")                 \
  X(QTMTraceQo, "qo")                 \
  X(QTMTraceYd, "yd")                 \
  X(QTMTraceP, "p")                   \
  X(QTMTraceK, "k")                   \
  X(QTMTraceDollar, "$")              \
  X(QTMTraceError, "e")

#define QTM_TRACE_DECLARE(function, category) void function(const char* format, ...) QTM_TRACE_PRINTF(1, 2);
QTM_TRACE_FIXED_CATEGORIES(QTM_TRACE_DECLARE)
#undef QTM_TRACE_DECLARE

// Category "f": first a line holding only "\n", then the formatted line.
void QTMTraceF(const char* format, ...) QTM_TRACE_PRINTF(1, 2);

// The call-site check of each formatted trace: the function (reached through
// its parenthesised name, as here or with `&`) is called only when a line
// may be wanted, and checks again itself. Function-like macros: a name not
// followed by "(" is the function.
#define QTM_TRACE_CALL_IF_WANTED(function, ...) (qtmtrace::TraceWanted() ? (function)(__VA_ARGS__) : void())
#define QTMTraceCategoryF(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceCategoryF, __VA_ARGS__)
#define QTMTraceDevice(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceDevice, __VA_ARGS__)
#define QTMTraceF(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceF, __VA_ARGS__)
#define QTMTrace(...) QTM_TRACE_CALL_IF_WANTED(QTMTrace, __VA_ARGS__)
#define QTMTraceSo(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceSo, __VA_ARGS__)
#define QTMTraceMo(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceMo, __VA_ARGS__)
#define QTMTraceAo(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceAo, __VA_ARGS__)
#define QTMTraceXo(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceXo, __VA_ARGS__)
#define QTMTraceRo(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceRo, __VA_ARGS__)
#define QTMTraceWo(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceWo, __VA_ARGS__)
#define QTMTraceLo(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceLo, __VA_ARGS__)
#define QTMTraceTo(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceTo, __VA_ARGS__)
#define QTMTraceYo(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceYo, __VA_ARGS__)
#define QTMTraceCo(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceCo, __VA_ARGS__)
#define QTMTraceZo(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceZo, __VA_ARGS__)
#define QTMTraceUo(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceUo, __VA_ARGS__)
#define QTMTraceGo(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceGo, __VA_ARGS__)
#define QTMTraceJo(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceJo, __VA_ARGS__)
#define QTMTraceQo(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceQo, __VA_ARGS__)
#define QTMTraceYd(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceYd, __VA_ARGS__)
#define QTMTraceP(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceP, __VA_ARGS__)
#define QTMTraceK(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceK, __VA_ARGS__)
#define QTMTraceDollar(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceDollar, __VA_ARGS__)
#define QTMTraceError(...) QTM_TRACE_CALL_IF_WANTED(QTMTraceError, __VA_ARGS__)
