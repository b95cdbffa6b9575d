// SampleProtocolMessage.h: the protocol message the sample services send.
//
// An OutgoingProtocolMessage that also holds, once answered, the bytes
// received. The receive data and the send-failure flag are guarded by m_lock
// because the protocol layer answers on its own thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "Common/OutgoingProtocolMessage.h"

namespace sample {

class SampleProtocolMessage final : public plugincommon::OutgoingProtocolMessage {
 public:
  SampleProtocolMessage(std::vector<BYTE> sendData, std::wstring commandType);

  SampleProtocolMessage(const SampleProtocolMessage&) = delete;
  SampleProtocolMessage& operator=(const SampleProtocolMessage&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  HRESULT STDMETHODCALLTYPE SetSendFailure(LONG reason, LONG detail) override;
  HRESULT STDMETHODCALLTYPE GetReceiveData(ULONG* count, BYTE** bytes) override;

  // What the simulated line answered (the host's protocol layer calls this).
  void SetReceiveData(std::vector<BYTE> data);
  bool SendFailed() const;

 private:
  ~SampleProtocolMessage() override = default;

  mutable std::mutex m_lock;
  std::vector<BYTE> m_receiveData;  // guarded by m_lock
  bool m_sendFailed = false;        // guarded by m_lock
};

}  // namespace sample
