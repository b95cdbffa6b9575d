#include "SampleServices/SampleProtocolMessage.h"

#include <cstring>
#include <utility>

#include "Platform/Com.h"

namespace sample {

namespace {

HRESULT CopyBytes(const std::vector<BYTE>& data, ULONG* count, BYTE** bytes) {
  if (count == nullptr || bytes == nullptr) return E_POINTER;
  *count = 0;
  *bytes = static_cast<BYTE*>(CoTaskMemAlloc(data.size()));
  if (*bytes == nullptr) return E_OUTOFMEMORY;
  if (!data.empty()) std::memcpy(*bytes, data.data(), data.size());
  *count = static_cast<ULONG>(data.size());
  return S_OK;
}

}  // namespace

SampleProtocolMessage::SampleProtocolMessage(std::vector<BYTE> sendData, std::wstring commandType)
    : m_sendData(std::move(sendData)), m_commandType(std::move(commandType)) {}

HRESULT SampleProtocolMessage::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_ITARVO_ProtocolMessage) return E_NOINTERFACE;
  *ppv = static_cast<ITARVO_ProtocolMessage*>(this);
  AddRef();
  return S_OK;
}

ULONG SampleProtocolMessage::AddRef() { return ++m_refs; }

ULONG SampleProtocolMessage::Release() {
  ULONG left = --m_refs;
  if (left == 0) delete this;
  return left;
}

HRESULT SampleProtocolMessage::GetSendData(ULONG* count, BYTE** bytes) { return CopyBytes(m_sendData, count, bytes); }

HRESULT SampleProtocolMessage::GetDestinationAddress(ULONG* count, BYTE** bytes) {
  // The line delivers to the device the component is configured for.
  return CopyBytes({}, count, bytes);
}

HRESULT SampleProtocolMessage::GetCommandType(LPWSTR* commandType) {
  if (commandType == nullptr) return E_POINTER;
  const std::size_t size = (m_commandType.size() + 1) * sizeof(wchar_t);
  *commandType = static_cast<LPWSTR>(CoTaskMemAlloc(size));
  if (*commandType == nullptr) return E_OUTOFMEMORY;
  std::memcpy(*commandType, m_commandType.c_str(), size);
  return S_OK;
}

HRESULT SampleProtocolMessage::GetExtraTimeout(LONG* extraTimeout) {
  if (extraTimeout == nullptr) return E_POINTER;
  *extraTimeout = 0;
  return S_OK;
}

HRESULT SampleProtocolMessage::GetRequireResponse(LONG* required) {
  if (required == nullptr) return E_POINTER;
  *required = 1;
  return S_OK;
}

HRESULT SampleProtocolMessage::SetSendFailure(LONG, LONG) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_sendFailed = true;
  return S_OK;
}

HRESULT SampleProtocolMessage::GetReceiveData(ULONG* count, BYTE** bytes) {
  std::lock_guard<std::mutex> lock(m_lock);
  return CopyBytes(m_receiveData, count, bytes);
}

void SampleProtocolMessage::SetReceiveData(std::vector<BYTE> data) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_receiveData = std::move(data);
}

bool SampleProtocolMessage::SendFailed() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_sendFailed;
}

}  // namespace sample
