#include "XmlConfig/XmlConfigNode.h"

#include <utility>

#include "XmlConfig/HostText.h"

namespace hostconfig {

XmlConfigNode::XmlConfigNode(std::shared_ptr<const ConfigDocument> document, const pugi::xpath_node& node)
    : m_pDocument(std::move(document)), m_node(node) {}

HRESULT XmlConfigNode::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_ITARVO_ConfigNode) return E_NOINTERFACE;
  *ppv = static_cast<ITARVO_ConfigNode*>(this);
  AddRef();
  return S_OK;
}

ULONG XmlConfigNode::AddRef() { return ++m_refs; }

ULONG XmlConfigNode::Release() {
  ULONG left = --m_refs;
  if (left == 0) delete this;
  return left;
}

HRESULT XmlConfigNode::GetText(LPWSTR* text) {
  if (text == nullptr) return E_POINTER;
  *text = nullptr;
  const char* value = m_node.attribute() ? m_node.attribute().value() : m_node.node().text().get();
  return CopyToTaskMem(ToWide(value), text);
}

HRESULT XmlConfigNode::GetAttribute(LPCWSTR name, LPWSTR* value) {
  if (value == nullptr) return E_POINTER;
  *value = nullptr;
  if (name == nullptr) return E_POINTER;
  if (*name == L'\0') return E_INVALIDARG;
  pugi::xml_attribute attribute = m_node.node().attribute(ToUtf8(name).c_str());
  if (attribute.empty()) return E_FAIL;  // also for an attribute node: it has no attributes
  return CopyToTaskMem(ToWide(attribute.value()), value);
}

}  // namespace hostconfig
