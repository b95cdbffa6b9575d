#include "DemoDeviceMessage.h"

#include <cstring>

namespace demo {

DemoDeviceMessage* DemoDeviceMessage::Create(int commandNo, std::vector<BYTE> data) {
  return new DemoDeviceMessage(std::to_wstring(commandNo), std::move(data));
}

HRESULT DemoDeviceMessage::GetMessageKey(LPWSTR* key) {
  if (key == nullptr) return E_POINTER;
  *key = static_cast<LPWSTR>(CoTaskMemAlloc((m_key.size() + 1) * sizeof(wchar_t)));
  if (*key == nullptr) return E_OUTOFMEMORY;
  std::wmemcpy(*key, m_key.c_str(), m_key.size() + 1);
  return S_OK;
}

HRESULT DemoDeviceMessage::GetData(ULONG* count, BYTE** bytes) {
  if (count == nullptr || bytes == nullptr) return E_POINTER;
  *count = static_cast<ULONG>(m_data.size());
  *bytes = nullptr;
  if (m_data.empty()) return S_OK;
  *bytes = static_cast<BYTE*>(CoTaskMemAlloc(m_data.size()));
  if (*bytes == nullptr) return E_OUTOFMEMORY;
  std::memcpy(*bytes, m_data.data(), m_data.size());
  return S_OK;
}

}  // namespace demo
