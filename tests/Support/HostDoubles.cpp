#include "Support/HostDoubles.h"

#include <cstring>
#include <map>
#include <string>

namespace doubles {

HRESULT HandOutBytes(HRESULT result, const std::vector<BYTE>& bytes, ULONG* count, BYTE** out) {
  if (FAILED(result)) return result;
  *count = static_cast<ULONG>(bytes.size());
  *out = bytes.empty() ? nullptr : static_cast<BYTE*>(CoTaskMemAlloc(bytes.size()));
  if (*out != nullptr) std::memcpy(*out, bytes.data(), bytes.size());
  return S_OK;
}

HRESULT HandOutText(HRESULT result, const std::wstring& text, LPWSTR* out) {
  if (FAILED(result)) return result;
  *out = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
  if (*out == nullptr) return E_OUTOFMEMORY;
  std::wmemcpy(*out, text.c_str(), text.size() + 1);
  return S_OK;
}

namespace {
// Hands out what `path` names, with a reference for the caller (E_FAIL: nothing there).
template <typename Node>
HRESULT Select(const std::map<std::wstring, Node*>& nodes, LPCWSTR path, Node** node) {
  const auto it = nodes.find(path);
  *node = it != nodes.end() ? it->second : nullptr;
  if (*node == nullptr) return E_FAIL;
  (*node)->AddRef();
  return S_OK;
}
}  // namespace

HRESULT FakeDeviceConfig::SelectNode(LONG, LPCWSTR path, ITARVO_ConfigNode** node) {
  std::lock_guard<std::mutex> guard(lock);
  selectedPaths.emplace_back(path);
  return Select(nodes, path, node);
}

HRESULT FakeDeviceConfig::SelectNodes(LONG, LPCWSTR path, ITARVO_ConfigNodeList** list) {
  std::lock_guard<std::mutex> guard(lock);
  selectedPaths.emplace_back(path);
  const HRESULT hr = Select(nodeLists, path, list);
  if (SUCCEEDED(hr)) (*list)->Reset();
  return hr;
}

}  // namespace doubles
