// OutgoingProtocolMessage.h: what every plug-in's protocol message shares.
//
// A reference-counted COM object (created with one reference, destroyed by
// its last Release) holding the bytes to send and the command type, both
// fixed at construction, and answering the send-side questions of
// ITARVO_ProtocolMessage: no destination address of its own (the protocol
// layer delivers to the device the component is configured for), no extra
// time-out, a response required. A subclass adds how the answer comes back
// (QueryInterface, SetSendFailure, GetReceiveData and whatever interface the
// protocol layer answers through).
//
// Threads: the counted reference and the fixed members are safe from any
// thread; subclasses guard what the protocol layer writes. Header-only, so
// that a plug-in links nothing.
#pragma once

#include <atomic>
#include <cstring>
#include <utility>
#include <string>
#include <vector>

#include "Interfaces/Protocol.h"
#include "Platform/Com.h"

namespace pluginkit {

class OutgoingProtocolMessage : public ITARVO_ProtocolMessage {
 public:
  OutgoingProtocolMessage(std::vector<BYTE> sendData, std::wstring commandType);
  OutgoingProtocolMessage(const OutgoingProtocolMessage&) = delete;
  OutgoingProtocolMessage& operator=(const OutgoingProtocolMessage&) = delete;

  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetSendData(ULONG* count, BYTE** bytes) override;
  HRESULT STDMETHODCALLTYPE GetDestinationAddress(ULONG* count, BYTE** bytes) override;
  HRESULT STDMETHODCALLTYPE GetCommandType(LPWSTR* commandType) override;
  HRESULT STDMETHODCALLTYPE GetExtraTimeout(LONG* extraTimeout) override;
  HRESULT STDMETHODCALLTYPE GetRequireResponse(LONG* required) override;

  // `data` as a task-memory copy for an out-argument pair (never a null
  // buffer, also for no data).
  static HRESULT CopyBytes(const std::vector<BYTE>& data, ULONG* count, BYTE** bytes);

 protected:
  virtual ~OutgoingProtocolMessage() = default;

 private:
  std::atomic<ULONG> m_refs{1};
  const std::vector<BYTE> m_sendData;
  const std::wstring m_commandType;
};

inline OutgoingProtocolMessage::OutgoingProtocolMessage(std::vector<BYTE> sendData, std::wstring commandType)
    : m_sendData(std::move(sendData)), m_commandType(std::move(commandType)) {}

inline ULONG OutgoingProtocolMessage::AddRef() { return ++m_refs; }

inline ULONG OutgoingProtocolMessage::Release() {
  const ULONG left = --m_refs;
  if (left == 0) delete this;
  return left;
}

inline HRESULT OutgoingProtocolMessage::CopyBytes(const std::vector<BYTE>& data, ULONG* count, BYTE** bytes) {
  if (count == nullptr || bytes == nullptr) return E_POINTER;
  *count = 0;
  *bytes = static_cast<BYTE*>(CoTaskMemAlloc(data.empty() ? 1 : data.size()));
  if (*bytes == nullptr) return E_OUTOFMEMORY;
  if (!data.empty()) std::memcpy(*bytes, data.data(), data.size());
  *count = static_cast<ULONG>(data.size());
  return S_OK;
}

inline HRESULT OutgoingProtocolMessage::GetSendData(ULONG* count, BYTE** bytes) { return CopyBytes(m_sendData, count, bytes); }

inline HRESULT OutgoingProtocolMessage::GetDestinationAddress(ULONG* count, BYTE** bytes) {
  return CopyBytes({}, count, bytes);
}

inline HRESULT OutgoingProtocolMessage::GetCommandType(LPWSTR* commandType) {
  if (commandType == nullptr) return E_POINTER;
  const std::size_t size = (m_commandType.size() + 1) * sizeof(wchar_t);
  *commandType = static_cast<LPWSTR>(CoTaskMemAlloc(size));
  if (*commandType == nullptr) return E_OUTOFMEMORY;
  std::memcpy(*commandType, m_commandType.c_str(), size);
  return S_OK;
}

inline HRESULT OutgoingProtocolMessage::GetExtraTimeout(LONG* extraTimeout) {
  if (extraTimeout == nullptr) return E_POINTER;
  *extraTimeout = 0;
  return S_OK;
}

inline HRESULT OutgoingProtocolMessage::GetRequireResponse(LONG* required) {
  if (required == nullptr) return E_POINTER;
  *required = 1;
  return S_OK;
}

}  // namespace pluginkit
