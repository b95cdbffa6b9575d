#include "HostDeviceInfo.h"

namespace simline {

HostDeviceInfo* HostDeviceInfo::Create(ITARVO_DeviceConfig* config) { return new HostDeviceInfo(config); }

HostDeviceInfo::HostDeviceInfo(ITARVO_DeviceConfig* config) : m_pConfig(config) { m_pConfig->AddRef(); }

HostDeviceInfo::~HostDeviceInfo() { m_pConfig->Release(); }

HRESULT HostDeviceInfo::GetUnknown(REFIID riid, IUnknown** ppUnknown) {
  if (ppUnknown == nullptr) return E_POINTER;
  *ppUnknown = nullptr;
  if (riid != IID_ITARVO_DeviceConfig) return E_NOINTERFACE;
  // Lent: no reference for the caller. It stays valid while this object
  // lives, and a caller that keeps it takes a reference of its own.
  *ppUnknown = m_pConfig;
  return S_OK;
}

}  // namespace simline
