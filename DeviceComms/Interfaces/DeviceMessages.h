// DeviceMessages.h: the application's requests.
#pragma once

#include "Interfaces/InterfaceIds.h"
#include "Platform/Unknown.h"

// One request of the application. Its key is the command number in decimal.
struct ITARVO_DeviceMessage : IUnknown {
  // *key: a new task-memory text that the caller frees with CoTaskMemFree.
  virtual HRESULT STDMETHODCALLTYPE GetMessageKey(LPWSTR* key) = 0;
  // *count bytes at *bytes: a new task-memory buffer (null when there are no
  // bytes) that the caller frees with CoTaskMemFree, also after a failing
  // result when the callee left one there.
  virtual HRESULT STDMETHODCALLTYPE GetData(ULONG* count, BYTE** bytes) = 0;
};

// A batch of requests, walked with Reset and Next.
struct ITARVO_DeviceMessageAccessor : IUnknown {
  // *count: how many messages Next gives from the start.
  virtual HRESULT STDMETHODCALLTYPE GetCount(LONG* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  // *message: the next message, lent WITHOUT a reference for the caller; it
  // stays valid while the host keeps the batch. A caller that keeps it takes
  // its own reference (the component AddRefs each message it registers and
  // releases it once when the message leaves the registry). A failing result
  // past the end.
  virtual HRESULT STDMETHODCALLTYPE Next(ITARVO_DeviceMessage** message) = 0;
};
