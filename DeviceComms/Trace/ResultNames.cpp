#include "Trace/ResultNames.h"

#include <cstdarg>
#include <cstdio>

#include "Interfaces/QtmResults.h"
#include "Trace/QTMTrace.h"
#include "Trace/TraceChannel.h"

std::string QTMFormatResultLine(LONG result) {
  std::string line = "   Result: ";
  line += QtmIsError(result) ? "QTM_ERROR   " : "QTM_SUCCESS ";
  if (const char* category = QtmCategoryName(QtmCategoryOf(result))) {
    char padded[32];
    std::snprintf(padded, sizeof padded, "%-19s", category);
    line += padded;
  }
  if (const char* code = QtmCodeName(QtmCodeOf(result))) {
    line += code;
    line += '\n';
  }
  return line;
}

std::string QTMResultName(LONG result) {
  const char* category = QtmCategoryName(QtmCategoryOf(result));
  const char* code = QtmCodeName(QtmCodeOf(result));
  std::string name = QtmIsError(result) ? "QTM_ERROR " : "QTM_SUCCESS ";
  name += category != nullptr ? category : "?";
  name += ' ';
  name += code != nullptr ? code : "?";
  return name;
}

void QTMTraceResult(LONG result, ...) {
  if (!qtmtrace::TraceIsOn()) return;
  try {
    const std::string line = QTMFormatResultLine(result);
    va_list arguments;
    va_start(arguments, result);
    // The names hold no '%', so the line is a format without conversions.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wformat-nonliteral"
#endif
    QTMTraceCategory("f", line.c_str(), arguments);
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
    va_end(arguments);
    QTMTraceCategoryF("f", "\n");
  } catch (...) {
    // Out of memory: nothing is traced.
  }
}
