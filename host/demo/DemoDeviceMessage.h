// DemoDeviceMessage.h: a device message of the demo program.
//
// A request as the application hands it over: a command number as its key
// and some data. Reference counted (HostObject.h); destroyed by its last
// Release. Threads: any; nothing changes after construction.
#pragma once

#include <string>
#include <vector>

#include "HostObject.h"

namespace demo {

class DemoDeviceMessage final : public hostcom::HostObject<ITARVO_DeviceMessage, IID_ITARVO_DeviceMessage> {
 public:
  // A new message with one reference for the caller.
  static DemoDeviceMessage* Create(int commandNo, std::vector<BYTE> data);

  HRESULT STDMETHODCALLTYPE GetMessageKey(LPWSTR* key) override;
  HRESULT STDMETHODCALLTYPE GetData(ULONG* count, BYTE** bytes) override;

 private:
  DemoDeviceMessage(std::wstring key, std::vector<BYTE> data) : m_key(std::move(key)), m_data(std::move(data)) {}
  ~DemoDeviceMessage() override = default;

  const std::wstring m_key;
  const std::vector<BYTE> m_data;
};

}  // namespace demo
