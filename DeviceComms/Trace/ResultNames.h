// ResultNames.h: the symbolic name of a QTM result code, traced.
//
// The names come from the tables of Interfaces/QtmResults.h. Thread-safety:
// the formatting is pure; the trace follows QTMTrace.h.
#pragma once

#include <string>

#include "Platform/WinTypes.h"

// "   Result: ", then "QTM_SUCCESS " or "QTM_ERROR   " (bit 15), then the
// category name padded with blanks to 19 characters (categories 0 to 10
// only), then the code name and "\n" (codes 0 to 36 only). Bits 16 to 31
// play no part.
std::string QTMFormatResultLine(LONG result);

// The name of a result in one word group, for the added trace lines:
// "QTM_ERROR QTM_C_DEVICE QTM_E_COMMS_FAILED" (the parts the tables name;
// a number outside them gives "?" for its part).
std::string QTMResultName(LONG result);

// Writes the result line in category "f", then a line holding only "\n".
// Further arguments are passed on with the line as format; since the line
// holds no conversions they have no effect.
void QTMTraceResult(LONG result, ...);
