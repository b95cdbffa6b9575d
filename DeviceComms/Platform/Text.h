// Text.h: wide and 8-bit text.
//
// The ANSI code page (CP_ACP) is UTF-8 here. Wide characters are UTF-32
// (wchar_t is 32-bit on Linux); a value that is no Unicode scalar (a
// surrogate or above 0x10FFFF) cannot be converted and becomes the default
// character, '?'.
#pragma once

#include <string>
#include <string_view>

#include "Platform/WinTypes.h"

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;

// Win32 calling rules: a length of -1 converts up to and including the
// terminating NUL; an output size of 0 asks for the size needed. Returns the
// number of bytes (characters) written or needed, 0 on failure with the last
// error set (ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_PARAMETER).
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wide, int wideLength, LPSTR out, int outSize,
                        LPCCH defaultChar, LPBOOL usedDefaultChar);

// The C runtime's _wtoi: skips leading white space, reads an optional sign
// and decimal digits; no digits gives 0; out of range saturates.
int _wtoi(const wchar_t* text);

// WideCharToMultiByte of the whole text to CP_ACP.
std::string WideToAnsi(std::wstring_view wide);
