// DeviceMessages.h: the application's requests.
#pragma once

#include "Interfaces/InterfaceIds.h"
#include "Platform/Unknown.h"

// One request of the application. Its key is the command number in decimal.
// Both getters hand out task memory that the caller frees.
struct ITARVO_DeviceMessage : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetMessageKey(LPWSTR* key) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetData(ULONG* count, BYTE** bytes) = 0;
};

// A batch of requests, walked with Reset and Next.
struct ITARVO_DeviceMessageAccessor : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetCount(LONG* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  // The next message, with one reference for the caller.
  virtual HRESULT STDMETHODCALLTYPE Next(ITARVO_DeviceMessage** message) = 0;
};
