// PackedVersion.h: versions major.minor.build packed into 32 bits.
//
// Bits 16-23 hold major, 8-15 minor, 0-7 build, each reduced to its low 8
// bits; bits 24-31 are zero. Packed versions compare as unsigned numbers
// (major, then minor, then build). Used for the release and runtime versions
// of a controller and for the support versions of services. Pure functions.
#pragma once

#include <string>

#include "Platform/WinTypes.h"

constexpr DWORD PackVersion(int major, int minor, int build) {
  return ((static_cast<DWORD>(major) & 0xFFu) << 16) | ((static_cast<DWORD>(minor) & 0xFFu) << 8) |
         (static_cast<DWORD>(build) & 0xFFu);
}

// Reads "%d.%d.%d" as swscanf does: each field may have leading white space
// and a sign; reading stops at the first field that is missing or not a
// number, and fields not read count as 0 ("1.2" is 1.2.0, "x" is 0.0.0).
// Digits beyond the range of int wrap rather than invoke undefined behaviour;
// only the low 8 bits of each field are kept anyway. Null gives 0.
DWORD ParsePackedVersion(const wchar_t* text);

// "major.minor.build" in decimal.
std::wstring FormatPackedVersion(DWORD version);
