// XmlConfigNode.h: one node of the host configuration as ITARVO_ConfigNode.
//
// Wraps an element or an attribute that a path selected. GetText gives an
// element's text (its first text or CDATA child; empty when it has none) or
// an attribute's value; GetAttribute an element's attribute (E_FAIL when it
// has none of that name). Texts are returned as task memory.
//
// Ownership: reference counted, created with one reference; keeps the
// document alive. Immutable, so any thread may call it.
#pragma once

#include <atomic>
#include <memory>
#include <pugixml.hpp>

#include "HostObject.h"
#include "XmlConfig/ConfigDocument.h"
#include "Interfaces/ConfigTree.h"

namespace hostconfig {

class XmlConfigNode final : public hostcom::HostObject<ITARVO_ConfigNode, IID_ITARVO_ConfigNode> {
 public:
  XmlConfigNode(std::shared_ptr<const ConfigDocument> document, const pugi::xpath_node& node);

  HRESULT STDMETHODCALLTYPE GetText(LPWSTR* text) override;
  HRESULT STDMETHODCALLTYPE GetAttribute(LPCWSTR name, LPWSTR* value) override;

 private:
  ~XmlConfigNode() override = default;

  const std::shared_ptr<const ConfigDocument> m_pDocument;
  const pugi::xpath_node m_node;
};

}  // namespace hostconfig
