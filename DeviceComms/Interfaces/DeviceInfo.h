// DeviceInfo.h: the host's description of one connected controller.
#pragma once

#include "Interfaces/InterfaceIds.h"
#include "Platform/Unknown.h"

struct ITARVO_DeviceInfo : IUnknown {
  // With IID_ITARVO_DeviceConfig gives the device configuration interface.
  // *ppUnknown is lent, WITHOUT a reference for the caller: it stays valid
  // while the host keeps this device information. A caller that keeps it
  // takes its own reference (the component AddRefs it in Initialise and
  // releases it once in UnInitialise). On failure *ppUnknown is null.
  virtual HRESULT STDMETHODCALLTYPE GetUnknown(REFIID riid, IUnknown** ppUnknown) = 0;
};
