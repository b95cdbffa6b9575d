// HostDeviceResult.h: the host's device results and their class.
//
// HostDeviceResult is what the component fills and hands to the result sink:
// the request it answers (one reference), a QTM result code, the complete
// flag and a copy of the data. Reference counted (HostObject.h); the last
// Release destroys it and releases the request. Threads: any; m_lock guards
// the fields, which SetResult writes on a component thread while the sink
// reads them on another.
//
// DeviceResultClass registers the class under CLSID_TARVO_DeviceResult for
// its lifetime, so that CoCreateInstance makes HostDeviceResults. Create it
// before the first component and destroy it after the last one.
#pragma once

#include <mutex>
#include <vector>

#include "HostObject.h"

namespace simline {

class HostDeviceResult final : public hostcom::HostObject<ITARVO_DeviceResult, IID_ITARVO_DeviceResult> {
 public:
  HostDeviceResult() = default;

  HRESULT STDMETHODCALLTYPE SetResult(ITARVO_DeviceMessage* message, LONG resultCode, LONG complete, ULONG count,
                                      const BYTE* bytes) override;
  HRESULT STDMETHODCALLTYPE GetComplete(LONG* complete) override;
  HRESULT STDMETHODCALLTYPE GetErrorCode(LONG* errorCode) override;
  HRESULT STDMETHODCALLTYPE GetDeviceMessage(ITARVO_DeviceMessage** message) override;

  std::vector<BYTE> Data() const;

 private:
  ~HostDeviceResult() override;

  mutable std::mutex m_lock;
  ITARVO_DeviceMessage* m_pMessage = nullptr;  // one reference
  LONG m_code = 0;
  LONG m_complete = 0;
  std::vector<BYTE> m_data;
};

class DeviceResultClass {
 public:
  DeviceResultClass();
  ~DeviceResultClass();
  DeviceResultClass(const DeviceResultClass&) = delete;
  DeviceResultClass& operator=(const DeviceResultClass&) = delete;

  bool Registered() const { return m_registered; }

 private:
  DWORD m_cookie = 0;
  bool m_registered = false;
};

}  // namespace simline
