// XmlConfigSelect.h: evaluates a configuration path for one controller.
//
// Flags: 1 (every caller in the component passes 1) expands the macros
// "%CPU%" and "%Network%" for the controller before the path is evaluated
// as XPath 1.0; 0 evaluates it as it stands; other bits are reserved and give
// E_INVALIDARG. A path that is not valid XPath or gives no node set is
// E_INVALIDARG.
//
// SelectConfigNode: the first node in document order; E_FAIL (and null)
// when the path finds none. SelectConfigNodes: every node in document order;
// a path that finds none gives S_FALSE and an empty list, so that an empty
// set reads as "nothing configured" rather than as an error.
//
// Null arguments give E_POINTER. Stateless; any thread.
#pragma once

#include <memory>

#include "XmlConfig/ConfigDocument.h"
#include "Interfaces/ConfigTree.h"

namespace hostconfig {

HRESULT SelectConfigNode(const std::shared_ptr<const ConfigDocument>& document, const ControllerConfig& controller,
                         LONG flags, LPCWSTR path, ITARVO_ConfigNode** node);
HRESULT SelectConfigNodes(const std::shared_ptr<const ConfigDocument>& document, const ControllerConfig& controller,
                          LONG flags, LPCWSTR path, ITARVO_ConfigNodeList** nodes);

}  // namespace hostconfig
