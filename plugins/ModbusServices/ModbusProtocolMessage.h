// ModbusProtocolMessage.h: the protocol message of the Modbus services.
//
// A reference-counted COM object (created with one reference, destroyed by
// its last Release) holding one request PDU and, once the host's protocol
// layer answered it through ITARVO_ProtocolResponse, the status and the
// response PDU (GetReceiveData gives the PDU). The PDU and the command type
// are fixed at construction; status, response and the send-failure flag are
// guarded by m_lock because the protocol layer answers on its own thread.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "Interfaces/Protocol.h"
#include "ModbusTcp/ProtocolResponse.h"

namespace modbusservices {

class ModbusProtocolMessage final : public ITARVO_ProtocolMessage, public ITARVO_ProtocolResponse {
 public:
  ModbusProtocolMessage(std::vector<BYTE> pdu, const wchar_t* commandType);

  ModbusProtocolMessage(const ModbusProtocolMessage&) = delete;
  ModbusProtocolMessage& operator=(const ModbusProtocolMessage&) = delete;

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

  HRESULT STDMETHODCALLTYPE SetResponse(HRESULT status, ULONG count, const BYTE* bytes) override;

  // S_OK with the response PDU; a failure status when the layer gave one,
  // or when the message never went out (E_FAIL) or was never answered.
  HRESULT Outcome(std::vector<BYTE>& pdu) const;

 private:
  ~ModbusProtocolMessage() = default;

  std::atomic<ULONG> m_refs{1};
  const std::vector<BYTE> m_pdu;
  const std::wstring m_commandType;
  mutable std::mutex m_lock;
  bool m_answered = false;           // guarded by m_lock
  HRESULT m_status = E_FAIL;         // guarded by m_lock
  std::vector<BYTE> m_response;      // guarded by m_lock
};

}  // namespace modbusservices
