// NodeReaders.h: read the text or an attribute of a configuration node.
//
// Both return true when the value was read and false on any failure (null
// node or name, no task memory for the copy of the name, a failing host
// call), leaving `value` as it was. The attribute name is handed to the host
// as a task-memory copy, freed right after the call; the text the host
// returns is copied into `value` and freed. The node's reference stays the
// caller's. Stateless: callable from any thread the node allows.
#pragma once

#include <string>

#include "Interfaces/ConfigTree.h"

bool GetNodeText(std::wstring& value, ITARVO_ConfigNode* node);
bool GetNodeAttribute(std::wstring& value, const wchar_t* attributeName, ITARVO_ConfigNode* node);
