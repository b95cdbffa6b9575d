#include "Common/OutgoingProtocolMessage.h"

#include <cstring>
#include <utility>

#include "Platform/Com.h"

namespace plugincommon {

OutgoingProtocolMessage::OutgoingProtocolMessage(std::vector<BYTE> sendData, std::wstring commandType)
    : m_sendData(std::move(sendData)), m_commandType(std::move(commandType)) {}

ULONG OutgoingProtocolMessage::AddRef() { return ++m_refs; }

ULONG OutgoingProtocolMessage::Release() {
  const ULONG left = --m_refs;
  if (left == 0) delete this;
  return left;
}

HRESULT OutgoingProtocolMessage::CopyBytes(const std::vector<BYTE>& data, ULONG* count, BYTE** bytes) {
  if (count == nullptr || bytes == nullptr) return E_POINTER;
  *count = 0;
  *bytes = static_cast<BYTE*>(CoTaskMemAlloc(data.empty() ? 1 : data.size()));
  if (*bytes == nullptr) return E_OUTOFMEMORY;
  if (!data.empty()) std::memcpy(*bytes, data.data(), data.size());
  *count = static_cast<ULONG>(data.size());
  return S_OK;
}

HRESULT OutgoingProtocolMessage::GetSendData(ULONG* count, BYTE** bytes) { return CopyBytes(m_sendData, count, bytes); }

HRESULT OutgoingProtocolMessage::GetDestinationAddress(ULONG* count, BYTE** bytes) {
  return CopyBytes({}, count, bytes);
}

HRESULT OutgoingProtocolMessage::GetCommandType(LPWSTR* commandType) {
  if (commandType == nullptr) return E_POINTER;
  const std::size_t size = (m_commandType.size() + 1) * sizeof(wchar_t);
  *commandType = static_cast<LPWSTR>(CoTaskMemAlloc(size));
  if (*commandType == nullptr) return E_OUTOFMEMORY;
  std::memcpy(*commandType, m_commandType.c_str(), size);
  return S_OK;
}

HRESULT OutgoingProtocolMessage::GetExtraTimeout(LONG* extraTimeout) {
  if (extraTimeout == nullptr) return E_POINTER;
  *extraTimeout = 0;
  return S_OK;
}

HRESULT OutgoingProtocolMessage::GetRequireResponse(LONG* required) {
  if (required == nullptr) return E_POINTER;
  *required = 1;
  return S_OK;
}

}  // namespace plugincommon
