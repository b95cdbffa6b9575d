#include "SampleServices/SampleProtocolMessage.h"

#include <utility>

namespace sample {

SampleProtocolMessage::SampleProtocolMessage(std::vector<BYTE> sendData, std::wstring commandType)
    : OutgoingProtocolMessage(std::move(sendData), std::move(commandType)) {}

HRESULT SampleProtocolMessage::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_ITARVO_ProtocolMessage) return E_NOINTERFACE;
  *ppv = static_cast<ITARVO_ProtocolMessage*>(this);
  AddRef();
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
