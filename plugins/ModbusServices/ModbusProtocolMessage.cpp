#include "ModbusServices/ModbusProtocolMessage.h"

#include <utility>

namespace modbusservices {

ModbusProtocolMessage::ModbusProtocolMessage(std::vector<BYTE> pdu, const wchar_t* commandType)
    : OutgoingProtocolMessage(std::move(pdu), commandType) {}

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
