#include "XmlConfig/XmlConfigSelect.h"

#include <new>
#include <vector>

#include "XmlConfig/HostText.h"
#include "XmlConfig/XmlConfigNode.h"
#include "XmlConfig/XmlConfigNodeList.h"

namespace hostconfig {

namespace {

constexpr LONG kExpandMacros = 1;

// The nodes of `path` in document order; a failing result for a bad path.
HRESULT Evaluate(const ConfigDocument& document, const ControllerConfig& controller, LONG flags, LPCWSTR path,
                 std::vector<pugi::xpath_node>& found) {
  if ((flags & ~kExpandMacros) != 0) return E_INVALIDARG;
  std::string query = ToUtf8(path);
  if (flags & kExpandMacros) query = ConfigDocument::ExpandMacros(query, controller);
  try {
    pugi::xpath_node_set nodes = document.Xml().select_nodes(query.c_str());
    nodes.sort();
    found.assign(nodes.begin(), nodes.end());
    return S_OK;
  } catch (const pugi::xpath_exception&) {
    return E_INVALIDARG;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace

HRESULT SelectConfigNode(const std::shared_ptr<const ConfigDocument>& document, const ControllerConfig& controller,
                         LONG flags, LPCWSTR path, ITARVO_ConfigNode** node) {
  if (node == nullptr) return E_POINTER;
  *node = nullptr;
  if (path == nullptr) return E_POINTER;
  std::vector<pugi::xpath_node> found;
  HRESULT hr = Evaluate(*document, controller, flags, path, found);
  if (FAILED(hr)) return hr;
  if (found.empty()) return E_FAIL;
  *node = new (std::nothrow) XmlConfigNode(document, found.front());
  return *node != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT SelectConfigNodes(const std::shared_ptr<const ConfigDocument>& document, const ControllerConfig& controller,
                          LONG flags, LPCWSTR path, ITARVO_ConfigNodeList** nodes) {
  if (nodes == nullptr) return E_POINTER;
  *nodes = nullptr;
  if (path == nullptr) return E_POINTER;
  std::vector<pugi::xpath_node> found;
  HRESULT hr = Evaluate(*document, controller, flags, path, found);
  if (FAILED(hr)) return hr;
  const bool empty = found.empty();
  *nodes = new (std::nothrow) XmlConfigNodeList(document, std::move(found));
  if (*nodes == nullptr) return E_OUTOFMEMORY;
  return empty ? S_FALSE : S_OK;
}

}  // namespace hostconfig
