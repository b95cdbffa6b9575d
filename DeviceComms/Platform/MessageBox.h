// MessageBox.h: the Win32 message box, for headless processes.
//
// A library must not block a server process on a dialog nobody sees. The
// default handler writes "caption: text" to standard error and returns IDOK
// at once. A host with a user interface installs its own handler.
#pragma once

#include "Platform/Export.h"
#include "Platform/WinTypes.h"

inline constexpr UINT MB_OK = 0x00000000u;
inline constexpr UINT MB_ICONERROR = 0x00000010u;
inline constexpr int IDOK = 1;

using MessageBoxHandler = int (*)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// Installs `handler` (null restores the default) and returns the previous
// one (null when it was the default).
// Safe to call from any thread.
BASECOMMS_API MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
