// DeviceConfig.h: the device configuration and its parallel limit.
#pragma once

#include "Interfaces/InterfaceIds.h"
#include "Platform/Unknown.h"

// The configuration of one device. QueryInterface also gives
// ITARVO_ParallelLimit and ITARVO_ConfigQuery where the host offers them.
// Texts are wide strings; `GetConfiguration` returns task memory that the
// caller frees with CoTaskMemFree. The component always passes the empty key,
// under which the device's configuration string stands.
struct ITARVO_DeviceConfig : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetConfiguration(LPCWSTR key, LPCWSTR text) = 0;
  // *text: a new task-memory text that the caller frees.
  virtual HRESULT STDMETHODCALLTYPE GetConfiguration(LPCWSTR key, LPWSTR* text) = 0;
  // With the comparison "SameTarget": *result (a value, nothing to free) is
  // 1 when `otherText` reaches the same physical target (line and
  // controller) as this configuration.
  virtual HRESULT STDMETHODCALLTYPE CompareConfiguration(LPCWSTR comparison, LPCWSTR otherText, LONG* result) = 0;
  // 1 after the component's Initialise, 0 at its UnInitialise.
  virtual HRESULT STDMETHODCALLTYPE Activate(LONG active) = 0;
};

struct ITARVO_ParallelLimit : IUnknown {
  // *limit: how many services of the target may be on the line at once.
  virtual HRESULT STDMETHODCALLTYPE GetParallelLimit(LONG* limit) = 0;
};
