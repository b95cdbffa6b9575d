// ModbusProtocolComms.h: the reference host's protocol layer over Modbus/TCP,
// one per component.
//
// ITARVO_ProtocolComms::Send takes a protocol message whose send data is a
// Modbus request PDU (function code and data, 1..253 bytes) and that also
// implements ITARVO_ProtocolResponse; a one-byte destination address names
// another unit id than the endpoint's. The message goes to the target's
// shared ModbusConnection with the deadline now + endpoint timeout + the
// message's extra time-out. Send refuses (E_FAIL, the component then fails
// the service) only what can never go out: no receiver bound, a PDU out of
// size, a message without ITARVO_ProtocolResponse; E_OUTOFMEMORY when memory
// runs out, holding nothing of the message. While the connection is
// down the message waits for it until its deadline. A message that requires
// no response is not sent (Modbus/TCP always answers; broadcast is not used)
// and refused.
//
// ITARVO_RuntimeInformation: the device configuration string of the endpoint
// (ModbusEndpoint.h); Check accepts a well-formed string whose URL entry
// parses; Change moves the layer to that endpoint's connection, and requests
// still waiting on the old one end with PROTOCOL_E_TARGET_CHANGED.
//
// Ownership: reference counted (created with one reference); the pool it
// was created with must outlive it. Start binds the
// receive function (the component's Receive); Stop, which must come before the
// component goes away, detaches from the connections so no Receive follows.
// Threads: Send from the component's send thread, the rest from the host's;
// m_lock guards the endpoint, the attachments and the started flag.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "Interfaces/Protocol.h"
#include "ModbusTcp/ConnectionPool.h"
#include "ModbusTcp/ModbusEndpoint.h"

namespace modbustcp {

class ModbusProtocolComms final : public ITARVO_ProtocolComms, public ITARVO_RuntimeInformation {
 public:
  static ModbusProtocolComms* Create(ConnectionPool& pool, const ModbusEndpoint& endpoint);

  ModbusProtocolComms(const ModbusProtocolComms&) = delete;
  ModbusProtocolComms& operator=(const ModbusProtocolComms&) = delete;

  void Start(ReceiveFunction receive);
  void Stop();
  // The connection now in use (for counters).
  std::shared_ptr<ModbusConnection> Connection() const;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE Send(ITARVO_ProtocolMessage* message) override;

  HRESULT STDMETHODCALLTYPE GetRuntimeInformation(LPWSTR* information) override;
  HRESULT STDMETHODCALLTYPE CheckRuntimeInformation(LPCWSTR information, LONG* valid) override;
  HRESULT STDMETHODCALLTYPE ChangeRuntimeInformation(LPCWSTR information) override;

 private:
  struct Attachment {
    std::shared_ptr<ModbusConnection> connection;
    ModbusConnection::ClientId client;
  };

  ModbusProtocolComms(ConnectionPool& pool, const ModbusEndpoint& endpoint);
  ~ModbusProtocolComms();

  std::atomic<ULONG> m_refs{1};
  ConnectionPool& m_pool;
  mutable std::mutex m_lock;
  ModbusEndpoint m_endpoint;                        // guarded by m_lock
  std::shared_ptr<ModbusConnection> m_connection;   // guarded by m_lock
  ReceiveFunction m_receive;                        // guarded by m_lock
  bool m_started = false;                           // guarded by m_lock
  ModbusConnection::ClientId m_client = 0;          // guarded by m_lock
  std::vector<Attachment> m_retired;                // guarded by m_lock: left by Change, detached by Stop
};

}  // namespace modbustcp
