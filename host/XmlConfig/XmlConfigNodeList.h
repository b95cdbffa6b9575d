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

#include "XmlConfig/ConfigDocument.h"
#include "Interfaces/ConfigTree.h"
#include "Platform/CriticalSection.h"

namespace hostconfig {

class XmlConfigNodeList final : public ITARVO_ConfigNodeList {
 public:
  XmlConfigNodeList(std::shared_ptr<const ConfigDocument> document, std::vector<pugi::xpath_node> nodes);

  XmlConfigNodeList(const XmlConfigNodeList&) = delete;
  XmlConfigNodeList& operator=(const XmlConfigNodeList&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetCount(LONG* count) override;
  HRESULT STDMETHODCALLTYPE Next(ITARVO_ConfigNode** node) override;
  HRESULT STDMETHODCALLTYPE Reset() override;

 private:
  ~XmlConfigNodeList();

  std::atomic<ULONG> m_refs{1};
  const std::shared_ptr<const ConfigDocument> m_pDocument;
  const std::vector<pugi::xpath_node> m_nodes;
  CRITICAL_SECTION m_lock;
  std::size_t m_position GUARDED_BY(m_lock) = 0;
};

}  // namespace hostconfig
