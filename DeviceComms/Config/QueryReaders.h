// QueryReaders.h: read the text or an attribute of the node at a path.
//
// The path is handed to ITARVO_ConfigQuery::SelectNode as a task-memory copy
// with `flags` unchanged; the selected node is read with GetNodeText or
// GetNodeAttribute and released before return. False on any failure (null
// query or path, no task memory, no node at the path, a failing read), with
// `value` left as it was. The query's reference stays the caller's.
#pragma once

#include <string>

#include "Interfaces/ConfigTree.h"
#include "Platform/WinTypes.h"

bool SelectNodeText(std::wstring& value, const wchar_t* path, LONG flags, ITARVO_ConfigQuery* query);
bool SelectNodeAttribute(std::wstring& value, const wchar_t* attributeName, const wchar_t* path, LONG flags,
                         ITARVO_ConfigQuery* query);
