// DeviceInfo.h: the host's description of one connected controller.
#pragma once

#include "Interfaces/InterfaceIds.h"
#include "Platform/Unknown.h"

struct ITARVO_DeviceInfo : IUnknown {
  // With IID_ITARVO_DeviceConfig gives the device configuration interface
  // (one reference, owned by the caller).
  virtual HRESULT STDMETHODCALLTYPE GetUnknown(REFIID riid, IUnknown** ppUnknown) = 0;
};
