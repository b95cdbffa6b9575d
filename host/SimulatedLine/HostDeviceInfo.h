// HostDeviceInfo.h: the host's description of one connected controller.
//
// GetUnknown lends the controller's device configuration (the
// XmlDeviceConfig of the host configuration): no reference for the caller,
// valid while this object lives; a caller that keeps it (the component)
// takes a reference of its own. Ownership: reference counted
// (HostObject.h); holds one reference on the device configuration until it is
// destroyed. Threads: any; nothing changes after construction.
#pragma once

#include "HostObject.h"

namespace simline {

class HostDeviceInfo final : public hostcom::HostObject<ITARVO_DeviceInfo, IID_ITARVO_DeviceInfo> {
 public:
  // A new object with one reference for the caller; takes its own reference
  // on `config`.
  static HostDeviceInfo* Create(ITARVO_DeviceConfig* config);

  HRESULT STDMETHODCALLTYPE GetUnknown(REFIID riid, IUnknown** ppUnknown) override;

 private:
  explicit HostDeviceInfo(ITARVO_DeviceConfig* config);
  ~HostDeviceInfo() override;

  ITARVO_DeviceConfig* const m_pConfig;  // one reference
};

}  // namespace simline
