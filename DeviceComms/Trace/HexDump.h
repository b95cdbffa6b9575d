// HexDump.h: hex dump lines and the request/response dump of the trace.
//
// A dump line shows up to 16 bytes: the offset of the first as "%04X: ",
// each byte as two hex digits and a blank, three blanks for each byte
// missing to 16, "  : ", each byte as itself when printable (0x20 to 0x7E,
// what isprint accepts in the C locale, whatever locale the host set) else
// ".", and "\n".
//
// Thread-safety: the formatting functions are pure; QTMTraceHexDump holds the
// trace lock for the whole dump, so no other trace of the process comes
// between its lines.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Platform/WinTypes.h"

enum class DumpDigits { kUpperCase, kLowerCase };

// One dump line of `count` (at most 16) bytes starting at `offset`.
std::string QTMFormatDumpLine(const BYTE* bytes, std::size_t count, std::size_t offset, DumpDigits digits);
// All dump lines of a buffer, 16 bytes each; none for length 0.
std::vector<std::string> QTMFormatDumpLines(const BYTE* bytes, std::size_t length, DumpDigits digits);

// When `category` passes the filter: the prefix + "REQUEST\n" or
// "RESPONSE\n", then the prefix + each dump line in lower-case hex. A
// negative length counts as 0. No "ERROR: " marker.
void QTMTraceHexDump(const char* category, const BYTE* bytes, LONG length, bool isRequest);

// QTMTraceHexDump in the categories "rd", "xd", "zd", "cd" and "qd".
void QTMTraceHexDumpRd(const BYTE* bytes, LONG length, bool isRequest);
void QTMTraceHexDumpXd(const BYTE* bytes, LONG length, bool isRequest);
void QTMTraceHexDumpZd(const BYTE* bytes, LONG length, bool isRequest);
void QTMTraceHexDumpCd(const BYTE* bytes, LONG length, bool isRequest);
void QTMTraceHexDumpQd(const BYTE* bytes, LONG length, bool isRequest);
