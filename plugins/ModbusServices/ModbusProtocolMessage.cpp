#include "ModbusServices/ModbusProtocolMessage.h"

#include <cstring>
#include <utility>

#include "Platform/Com.h"

namespace modbusservices {

namespace {

HRESULT CopyBytes(const std::vector<BYTE>& data, ULONG* count, BYTE** bytes) {
  if (count == nullptr || bytes == nullptr) return E_POINTER;
  *count = 0;
  *bytes = static_cast<BYTE*>(CoTaskMemAlloc(data.empty() ? 1 : data.size()));
  if (*bytes == nullptr) return E_OUTOFMEMORY;
  if (!data.empty()) std::memcpy(*bytes, data.data(), data.size());
  *count = static_cast<ULONG>(data.size());
  return S_OK;
}

}  // namespace

ModbusProtocolMessage::ModbusProtocolMessage(std::vector<BYTE> pdu, const wchar_t* commandType)
    : m_pdu(std::move(pdu)), m_commandType(commandType) {}

HRESULT ModbusProtocolMessage::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown || riid == IID_ITARVO_ProtocolMessage) {
    *ppv = static_cast<ITARVO_ProtocolMessage*>(this);
  } else if (riid == IID_ITARVO_ProtocolResponse) {
    *ppv = static_cast<ITARVO_ProtocolResponse*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG ModbusProtocolMessage::AddRef() { return ++m_refs; }

ULONG ModbusProtocolMessage::Release() {
  const ULONG left = --m_refs;
  if (left == 0) delete this;
  return left;
}

HRESULT ModbusProtocolMessage::GetSendData(ULONG* count, BYTE** bytes) { return CopyBytes(m_pdu, count, bytes); }

HRESULT ModbusProtocolMessage::GetDestinationAddress(ULONG* count, BYTE** bytes) {
  // Empty: the unit id of the controller's connection string.
  return CopyBytes({}, count, bytes);
}

HRESULT ModbusProtocolMessage::GetCommandType(LPWSTR* commandType) {
  if (commandType == nullptr) return E_POINTER;
  const std::size_t size = (m_commandType.size() + 1) * sizeof(wchar_t);
  *commandType = static_cast<LPWSTR>(CoTaskMemAlloc(size));
  if (*commandType == nullptr) return E_OUTOFMEMORY;
  std::memcpy(*commandType, m_commandType.c_str(), size);
  return S_OK;
}

HRESULT ModbusProtocolMessage::GetExtraTimeout(LONG* extraTimeout) {
  if (extraTimeout == nullptr) return E_POINTER;
  *extraTimeout = 0;
  return S_OK;
}

HRESULT ModbusProtocolMessage::GetRequireResponse(LONG* required) {
  if (required == nullptr) return E_POINTER;
  *required = 1;
  return S_OK;
}

HRESULT ModbusProtocolMessage::SetSendFailure(LONG, LONG) {
  const std::lock_guard<std::mutex> guard(m_lock);
  m_answered = true;
  m_status = E_FAIL;
  m_response.clear();
  return S_OK;
}

HRESULT ModbusProtocolMessage::GetReceiveData(ULONG* count, BYTE** bytes) {
  const std::lock_guard<std::mutex> guard(m_lock);
  return CopyBytes(m_response, count, bytes);
}

HRESULT ModbusProtocolMessage::SetResponse(HRESULT status, ULONG count, const BYTE* bytes) {
  if (bytes == nullptr && count != 0) return E_POINTER;
  const std::lock_guard<std::mutex> guard(m_lock);
  m_answered = true;
  m_status = status;
  m_response.assign(bytes, bytes + count);
  return S_OK;
}

HRESULT ModbusProtocolMessage::Outcome(std::vector<BYTE>& pdu) const {
  const std::lock_guard<std::mutex> guard(m_lock);
  pdu = m_response;
  return m_answered ? m_status : E_FAIL;
}

}  // namespace modbusservices
