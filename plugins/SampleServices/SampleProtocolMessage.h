// SampleProtocolMessage.h: the protocol message the sample services send.
//
// A reference-counted COM object (created with one reference, destroyed by
// its last Release) holding the bytes to send and, once answered, the bytes
// received. Send data and command type are fixed at construction; the
// receive data and the send-failure flag are guarded by m_lock because the
// protocol layer answers on its own thread.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "Interfaces/Protocol.h"

namespace sample {

class SampleProtocolMessage final : public ITARVO_ProtocolMessage {
 public:
  SampleProtocolMessage(std::vector<BYTE> sendData, std::wstring commandType);

  SampleProtocolMessage(const SampleProtocolMessage&) = delete;
  SampleProtocolMessage& operator=(const SampleProtocolMessage&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetSendData(ULONG* count, BYTE** bytes) override;
  HRESULT STDMETHODCALLTYPE GetDestinationAddress(ULONG* count, BYTE** bytes) override;
  HRESULT STDMETHODCALLTYPE GetCommandType(LPWSTR* commandType) override;
  HRESULT STDMETHODCALLTYPE GetExtraTimeout(LONG* extraTimeout) override;
  HRESULT STDMETHODCALLTYPE GetRequireResponse(LONG* required) override;
  HRESULT STDMETHODCALLTYPE SetSendFailure(LONG reason, LONG detail) override;
  HRESULT STDMETHODCALLTYPE GetReceiveData(ULONG* count, BYTE** bytes) override;

  // What the simulated line answered (the host's protocol layer calls this).
  void SetReceiveData(std::vector<BYTE> data);
  bool SendFailed() const;

 private:
  ~SampleProtocolMessage() = default;

  std::atomic<ULONG> m_refs{1};
  const std::vector<BYTE> m_sendData;
  const std::wstring m_commandType;
  mutable std::mutex m_lock;
  std::vector<BYTE> m_receiveData;  // guarded by m_lock
  bool m_sendFailed = false;        // guarded by m_lock
};

}  // namespace sample
