#include "XmlConfig/XmlConfigNode.h"

#include <utility>

#include "XmlConfig/HostText.h"

namespace hostconfig {

XmlConfigNode::XmlConfigNode(std::shared_ptr<const ConfigDocument> document, const pugi::xpath_node& node)
    : m_pDocument(std::move(document)), m_node(node) {}

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
