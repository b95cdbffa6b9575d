// HostText.h: text conversions and task-memory copies of the host objects.
//
// The XML document is UTF-8; the interfaces speak wide text (UTF-32 here).
// Pure functions, callable from any thread.
#pragma once

#include <string>

#include "Platform/WinTypes.h"

namespace hostconfig {

std::wstring ToWide(const char* utf8);
std::string ToUtf8(const wchar_t* wide);

// Hands `text` to the caller as task memory in *out. E_POINTER when out is
// null, E_OUTOFMEMORY (and *out null) when no memory is left.
HRESULT CopyToTaskMem(const std::wstring& text, LPWSTR* out);

}  // namespace hostconfig
