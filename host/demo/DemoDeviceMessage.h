// DemoDeviceMessage.h: a device message of the demo program.
//
// A request as the application hands it over: a command number as its key
// and some data. Reference counted; destroyed by its last Release. Not shared
// between threads.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "BaseComms/BaseComms.h"

namespace demo {

class DemoDeviceMessage final : public ITARVO_DeviceMessage {
 public:
  // A new message with one reference for the caller.
  static DemoDeviceMessage* Create(int commandNo, std::vector<BYTE> data);

  DemoDeviceMessage(const DemoDeviceMessage&) = delete;
  DemoDeviceMessage& operator=(const DemoDeviceMessage&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetMessageKey(LPWSTR* key) override;
  HRESULT STDMETHODCALLTYPE GetData(ULONG* count, BYTE** bytes) override;

 private:
  DemoDeviceMessage(std::wstring key, std::vector<BYTE> data) : m_key(std::move(key)), m_data(std::move(data)) {}
  ~DemoDeviceMessage() = default;

  std::atomic<ULONG> m_refs{1};
  const std::wstring m_key;
  const std::vector<BYTE> m_data;
};

}  // namespace demo
