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
// thread; subclasses guard what the protocol layer writes.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "Interfaces/Protocol.h"

namespace plugincommon {

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

}  // namespace plugincommon
