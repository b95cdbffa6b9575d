#include "XmlConfig/XmlConfigNodeList.h"

#include <new>
#include <utility>

#include "XmlConfig/XmlConfigNode.h"

namespace hostconfig {

XmlConfigNodeList::XmlConfigNodeList(std::shared_ptr<const ConfigDocument> document,
                                     std::vector<pugi::xpath_node> nodes)
    : m_pDocument(std::move(document)), m_nodes(std::move(nodes)) {
  InitializeCriticalSection(&m_lock);
}

XmlConfigNodeList::~XmlConfigNodeList() { DeleteCriticalSection(&m_lock); }

HRESULT XmlConfigNodeList::GetCount(LONG* count) {
  if (count == nullptr) return E_POINTER;
  *count = static_cast<LONG>(m_nodes.size());
  return S_OK;
}

HRESULT XmlConfigNodeList::Next(ITARVO_ConfigNode** node) {
  if (node == nullptr) return E_POINTER;
  *node = nullptr;
  pugi::xpath_node selected;
  {
    CriticalSectionLock lock(m_lock);
    if (m_position >= m_nodes.size()) return E_FAIL;
    selected = m_nodes[m_position];
    ++m_position;
  }
  *node = new (std::nothrow) XmlConfigNode(m_pDocument, selected);
  return *node != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT XmlConfigNodeList::Reset() {
  CriticalSectionLock lock(m_lock);
  m_position = 0;
  return S_OK;
}

}  // namespace hostconfig
