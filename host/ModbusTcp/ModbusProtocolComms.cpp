#include "ModbusTcp/ModbusProtocolComms.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "Platform/Com.h"

namespace modbustcp {

namespace {

// A copy of the task-memory bytes `get` hands out, which are freed here
// (also when the copy throws).
bool ReadBytes(HRESULT (STDMETHODCALLTYPE ITARVO_ProtocolMessage::*get)(ULONG*, BYTE**), ITARVO_ProtocolMessage* message,
               std::vector<std::uint8_t>& out) {
  ULONG count = 0;
  BYTE* bytes = nullptr;
  if (FAILED((message->*get)(&count, &bytes))) return false;
  const std::unique_ptr<BYTE, void (*)(LPVOID)> owned(bytes, &CoTaskMemFree);
  if (bytes != nullptr) out.assign(bytes, bytes + count);
  return true;
}

}  // namespace

ModbusProtocolComms* ModbusProtocolComms::Create(ConnectionPool& pool, const ModbusEndpoint& endpoint) {
  return new ModbusProtocolComms(pool, endpoint);
}

ModbusProtocolComms::ModbusProtocolComms(ConnectionPool& pool, const ModbusEndpoint& endpoint)
    : m_pool(pool), m_endpoint(endpoint), m_connection(pool.Get(endpoint)) {}

ModbusProtocolComms::~ModbusProtocolComms() { Stop(); }

void ModbusProtocolComms::Start(ReceiveFunction receive) {
  const std::lock_guard<std::mutex> guard(m_lock);
  if (m_started) return;
  m_receive = std::move(receive);
  m_client = m_connection->Attach(m_receive);
  m_started = true;
}

void ModbusProtocolComms::Stop() {
  std::vector<Attachment> detach;
  {
    const std::lock_guard<std::mutex> guard(m_lock);
    if (m_started) detach.push_back(Attachment{m_connection, m_client});
    detach.insert(detach.end(), m_retired.begin(), m_retired.end());
    m_retired.clear();
    m_started = false;
  }
  // Outside m_lock: Detach waits for a Receive in progress, which may call Send.
  for (Attachment& attachment : detach) attachment.connection->Detach(attachment.client);
}

std::shared_ptr<ModbusConnection> ModbusProtocolComms::Connection() const {
  const std::lock_guard<std::mutex> guard(m_lock);
  return m_connection;
}

HRESULT ModbusProtocolComms::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown || riid == IID_ITARVO_ProtocolComms) {
    *ppv = static_cast<ITARVO_ProtocolComms*>(this);
  } else if (riid == IID_ITARVO_RuntimeInformation) {
    *ppv = static_cast<ITARVO_RuntimeInformation*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG ModbusProtocolComms::Release() {
  const ULONG left = --m_refs;
  if (left == 0) delete this;
  return left;
}

HRESULT ModbusProtocolComms::Send(ITARVO_ProtocolMessage* message) {
  if (message == nullptr) return E_POINTER;
  std::vector<std::uint8_t> pdu;
  std::vector<std::uint8_t> destination;
  LONG extraTimeout = 0;
  LONG required = 1;
  try {
    if (!ReadBytes(&ITARVO_ProtocolMessage::GetSendData, message, pdu) || pdu.empty() || pdu.size() > 253 ||
        !ReadBytes(&ITARVO_ProtocolMessage::GetDestinationAddress, message, destination) || destination.size() > 1 ||
        FAILED(message->GetRequireResponse(&required)) || required == 0) {
      return E_FAIL;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (FAILED(message->GetExtraTimeout(&extraTimeout)) || extraTimeout < 0) extraTimeout = 0;
  ITARVO_ProtocolResponse* response = nullptr;
  if (FAILED(message->QueryInterface(IID_ITARVO_ProtocolResponse, reinterpret_cast<void**>(&response))) ||
      response == nullptr) {
    return E_FAIL;
  }
  std::shared_ptr<ModbusConnection> connection;
  ModbusConnection::ClientId client = 0;
  std::uint8_t unit = 0;
  ModbusConnection::Clock::time_point deadline;
  {
    const std::lock_guard<std::mutex> guard(m_lock);
    if (m_started) {
      connection = m_connection;
      client = m_client;
      unit = destination.empty() ? m_endpoint.unit : destination[0];
      deadline = ModbusConnection::Clock::now() + m_endpoint.timeout + std::chrono::milliseconds(extraTimeout);
    }
  }
  const HRESULT result =
      connection ? connection->Submit(client, message, response, std::move(pdu), unit, deadline) : E_FAIL;
  response->Release();
  return result;
}

HRESULT ModbusProtocolComms::GetRuntimeInformation(LPWSTR* information) {
  if (information == nullptr) return E_POINTER;
  std::wstring text;
  {
    const std::lock_guard<std::mutex> guard(m_lock);
    text = m_endpoint.RuntimeInformation();
  }
  const std::size_t size = (text.size() + 1) * sizeof(wchar_t);
  *information = static_cast<LPWSTR>(CoTaskMemAlloc(size));
  if (*information == nullptr) return E_OUTOFMEMORY;
  std::memcpy(*information, text.c_str(), size);
  return S_OK;
}

HRESULT ModbusProtocolComms::CheckRuntimeInformation(LPCWSTR information, LONG* valid) {
  if (valid == nullptr) return E_POINTER;
  *valid = 0;
  if (information == nullptr) return E_POINTER;
  ModbusEndpoint endpoint;
  std::string error;
  *valid = ParseRuntimeInformation(information, endpoint, error) ? 1 : 0;
  return S_OK;
}

HRESULT ModbusProtocolComms::ChangeRuntimeInformation(LPCWSTR information) {
  if (information == nullptr) return E_POINTER;
  ModbusEndpoint endpoint;
  std::string error;
  if (!ParseRuntimeInformation(information, endpoint, error)) return E_INVALIDARG;
  std::shared_ptr<ModbusConnection> connection = m_pool.Get(endpoint);
  const std::lock_guard<std::mutex> guard(m_lock);
  if (m_started && connection != m_connection) {
    m_connection->FailAll(m_client, PROTOCOL_E_TARGET_CHANGED);
    m_retired.push_back(Attachment{m_connection, m_client});
    m_client = connection->Attach(m_receive);
  }
  m_endpoint = endpoint;
  m_connection = std::move(connection);
  return S_OK;
}

}  // namespace modbustcp
