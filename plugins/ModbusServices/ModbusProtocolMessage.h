// ModbusProtocolMessage.h: the protocol message of the Modbus services.
//
// An OutgoingProtocolMessage whose send data is one request PDU and which,
// once the host's protocol layer answered it through ITARVO_ProtocolResponse,
// holds the status and the response PDU (GetReceiveData gives the PDU).
// Status, response and the send-failure flag are guarded by m_lock because
// the protocol layer answers on its own thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "PluginKit/OutgoingProtocolMessage.h"
#include "Interfaces/ProtocolResponse.h"

namespace modbusservices {

class ModbusProtocolMessage final : public pluginkit::OutgoingProtocolMessage, public ITARVO_ProtocolResponse {
 public:
  ModbusProtocolMessage(std::vector<BYTE> pdu, const wchar_t* commandType);

  ModbusProtocolMessage(const ModbusProtocolMessage&) = delete;
  ModbusProtocolMessage& operator=(const ModbusProtocolMessage&) = delete;

  // One counted reference for both interfaces (the base's).
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return OutgoingProtocolMessage::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return OutgoingProtocolMessage::Release(); }

  HRESULT STDMETHODCALLTYPE SetSendFailure(LONG reason, LONG detail) override;
  HRESULT STDMETHODCALLTYPE GetReceiveData(ULONG* count, BYTE** bytes) override;

  HRESULT STDMETHODCALLTYPE SetResponse(HRESULT status, ULONG count, const BYTE* bytes) override;

  // S_OK with the response PDU; a failure status when the layer gave one,
  // or when the message never went out (E_FAIL) or was never answered.
  HRESULT Outcome(std::vector<BYTE>& pdu) const;

 private:
  ~ModbusProtocolMessage() override = default;

  mutable std::mutex m_lock;
  bool m_answered = false;           // guarded by m_lock
  HRESULT m_status = E_FAIL;         // guarded by m_lock
  std::vector<BYTE> m_response;      // guarded by m_lock
};

}  // namespace modbusservices
