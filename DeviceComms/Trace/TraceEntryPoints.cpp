// The formatted traces with a fixed category (QTMTrace.h).
#include "Trace/QTMTrace.h"
#include "Trace/TraceSink.h"

#define QTM_TRACE_DEFINE(function, category)                       \
  void(function)(const char* format, ...) {                       \
    if (!qtmtrace::TraceWanted() || format == nullptr) return;      \
    va_list arguments;                                              \
    va_start(arguments, format);                                    \
    QTMTraceCategory(category, format, arguments);                  \
    va_end(arguments);                                              \
  }
QTM_TRACE_FIXED_CATEGORIES(QTM_TRACE_DEFINE)
#undef QTM_TRACE_DEFINE

void(QTMTraceF)(const char* format, ...) {
  if (!qtmtrace::TraceWanted() || format == nullptr) return;
  QTMTraceCategoryF("f", "\n");
  va_list arguments;
  va_start(arguments, format);
  QTMTraceCategory("f", format, arguments);
  va_end(arguments);
}
