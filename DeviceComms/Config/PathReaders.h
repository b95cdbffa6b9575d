// PathReaders.h: the configuration readers the component calls with a path.
//
// `source` is any host object that offers ITARVO_ConfigQuery (the device
// configuration). The readers ask it for the query interface, select the node
// at `path` with `flags` and read its text or the named attribute. True when
// the value was read; false on any failure, with `value` left as it was, so a
// caller that compares the value afterwards starts from an empty one. Every
// reference obtained is released and every task-memory text freed before
// return; nothing is traced or thrown. Stateless: callable from any thread.
#pragma once

#include <string>

#include "Platform/Unknown.h"
#include "Platform/WinTypes.h"

bool GetConfigText(std::wstring& value, const wchar_t* path, LONG flags, IUnknown* source);
bool GetConfigAttribute(std::wstring& value, const wchar_t* attributeName, const wchar_t* path, LONG flags,
                        IUnknown* source);
