// XmlDeviceConfig.h: the reference host's device configuration of one
// controller, backed by a host configuration document.
//
// One COM object with three interfaces:
//   ITARVO_DeviceConfig  the device configuration string under the empty key
//                        (initially built from the controller's Line, Address
//                        and Gateway; SetConfiguration replaces it with any
//                        well-formed string), "SameTarget" comparison, Activate.
//   ITARVO_ParallelLimit the controller's ParallelLimit (1 when not given).
//   ITARVO_ConfigQuery   paths over the document with the controller's macros
//                        (see XmlConfigSelect.h).
// Keys other than the empty one give E_INVALIDARG; null pointers E_POINTER.
//
// "SameTarget": the other text reaches the same target when both strings are
// well formed and name the same LINE, the same ADDR and the same route (the
// "DEV"/"GDEV" entry, empty for a direct connection).
//
// Ownership: reference counted, created with one reference; keeps the
// document alive. Threads: any; m_lock guards m_configuration, m_identity
// and m_active.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "XmlConfig/ConfigDocument.h"
#include "Interfaces/ConfigTree.h"
#include "Interfaces/DeviceConfig.h"
#include "Platform/CriticalSection.h"

namespace hostconfig {

class XmlDeviceConfig final : public ITARVO_DeviceConfig, public ITARVO_ParallelLimit, public ITARVO_ConfigQuery {
 public:
  // The object for the controller named `controllerName` (one reference in
  // *out); E_INVALIDARG when the document has no such controller.
  static HRESULT Create(const std::shared_ptr<const ConfigDocument>& document, const std::string& controllerName,
                        ITARVO_DeviceConfig** out);

  XmlDeviceConfig(const XmlDeviceConfig&) = delete;
  XmlDeviceConfig& operator=(const XmlDeviceConfig&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE SetConfiguration(LPCWSTR key, LPCWSTR text) override;
  HRESULT STDMETHODCALLTYPE GetConfiguration(LPCWSTR key, LPWSTR* text) override;
  HRESULT STDMETHODCALLTYPE CompareConfiguration(LPCWSTR comparison, LPCWSTR otherText, LONG* result) override;
  HRESULT STDMETHODCALLTYPE Activate(LONG active) override;

  HRESULT STDMETHODCALLTYPE GetParallelLimit(LONG* limit) override;

  HRESULT STDMETHODCALLTYPE SelectNode(LONG flags, LPCWSTR path, ITARVO_ConfigNode** node) override;
  HRESULT STDMETHODCALLTYPE SelectNodes(LONG flags, LPCWSTR path, ITARVO_ConfigNodeList** nodes) override;

  // 1 between Activate(1) and Activate(0), else 0.
  LONG IsActive() const;

  // What "SameTarget" compares of a configuration string, parsed once per
  // text (a registration compares one text with every target's device).
  struct TargetIdentity {
    bool wellFormed = false;
    std::wstring line;
    std::wstring address;
    std::wstring route;  // "DEV" or "GDEV"; empty for a direct connection
    static TargetIdentity Of(const std::wstring& text);
    bool SameAs(const TargetIdentity& other) const;
  };

 private:
  XmlDeviceConfig(std::shared_ptr<const ConfigDocument> document, const ControllerConfig& controller);
  ~XmlDeviceConfig();

  std::atomic<ULONG> m_refs{1};
  const std::shared_ptr<const ConfigDocument> m_pDocument;
  const ControllerConfig& m_controller;  // inside *m_pDocument
  mutable CRITICAL_SECTION m_lock;
  std::wstring m_configuration GUARDED_BY(m_lock);
  TargetIdentity m_identity GUARDED_BY(m_lock);  // of m_configuration
  LONG m_active GUARDED_BY(m_lock) = 0;
};

}  // namespace hostconfig
