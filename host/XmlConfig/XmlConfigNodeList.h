// XmlConfigNodeList.h: the nodes a path selected, as ITARVO_ConfigNodeList.
//
// Holds the selected nodes in document order and a position. Next hands out
// the node at the position (one reference) and moves on; past the end it
// gives E_FAIL and null. Reset goes back to the first node.
//
// Ownership: reference counted, created with one reference; keeps the
// document alive. Threads: m_lock guards m_position; the node set is fixed.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <pugixml.hpp>
#include <vector>

#include "HostObject.h"
#include "XmlConfig/ConfigDocument.h"
#include "Interfaces/ConfigTree.h"
#include "Platform/CriticalSection.h"

namespace hostconfig {

class XmlConfigNodeList final : public hostcom::HostObject<ITARVO_ConfigNodeList, IID_ITARVO_ConfigNodeList> {
 public:
  XmlConfigNodeList(std::shared_ptr<const ConfigDocument> document, std::vector<pugi::xpath_node> nodes);

  HRESULT STDMETHODCALLTYPE GetCount(LONG* count) override;
  HRESULT STDMETHODCALLTYPE Next(ITARVO_ConfigNode** node) override;
  HRESULT STDMETHODCALLTYPE Reset() override;

 private:
  ~XmlConfigNodeList() override;

  const std::shared_ptr<const ConfigDocument> m_pDocument;
  const std::vector<pugi::xpath_node> m_nodes;
  CRITICAL_SECTION m_lock;
  std::size_t m_position GUARDED_BY(m_lock) = 0;
};

}  // namespace hostconfig
