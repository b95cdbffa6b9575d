// ProtocolMessage.h: a ready protocol message for plug-ins.
//
// An OutgoingProtocolMessage (bytes to send, command type, no destination
// address of its own, no extra time-out, a response required) that also
// holds what the protocol layer reports back: the bytes received
// (SetReceiveData, read by GetReceiveData) and whether it failed
// (SetSendFailure, or a failure status given to SetResponse, kept for
// Outcome). Answers
// QueryInterface for IUnknown, ITARVO_ProtocolMessage and
// ITARVO_ProtocolResponse, so the host's protocol layers can answer it. A
// plug-in that needs more of an answer derives from OutgoingProtocolMessage.
//
// Ownership: reference counted, created with one reference, destroyed by its
// last Release. Threads: the protocol layer answers on its own thread, so
// m_lock guards what was reported back. Header-only.
#pragma once

#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "Interfaces/ProtocolResponse.h"
#include "PluginKit/OutgoingProtocolMessage.h"

namespace pluginkit {

class ProtocolMessage : public OutgoingProtocolMessage, public ITARVO_ProtocolResponse {
 public:
  ProtocolMessage(std::vector<BYTE> sendData, std::wstring commandType)
      : OutgoingProtocolMessage(std::move(sendData), std::move(commandType)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
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
  // One counted reference for both interfaces (the base's).
  ULONG STDMETHODCALLTYPE AddRef() override { return OutgoingProtocolMessage::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return OutgoingProtocolMessage::Release(); }
  HRESULT STDMETHODCALLTYPE SetSendFailure(LONG, LONG) override {
    const std::lock_guard<std::mutex> lock(m_lock);
    FailLocked(E_FAIL);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetReceiveData(ULONG* count, BYTE** bytes) override {
    const std::lock_guard<std::mutex> lock(m_lock);
    return CopyBytes(m_receiveData, count, bytes);
  }

  // The protocol layer calls this on its own thread, where nothing catches a
  // C++ exception: when the copy of the bytes finds no memory, the message
  // reads as failed with E_OUTOFMEMORY (its service ends with an error)
  // instead of std::bad_alloc leaving the method.
  HRESULT STDMETHODCALLTYPE SetResponse(HRESULT status, ULONG count, const BYTE* bytes) override {
    if (bytes == nullptr && count != 0) return E_POINTER;
    const std::lock_guard<std::mutex> lock(m_lock);
    if (FAILED(status)) {
      FailLocked(status);
      return S_OK;
    }
    try {
      m_receiveData.assign(bytes, bytes + count);
    } catch (const std::bad_alloc&) {
      FailLocked(E_OUTOFMEMORY);
      return E_OUTOFMEMORY;
    }
    m_answered = true;
    return S_OK;
  }

  // What the device answered (for a protocol layer that knows this class).
  void SetReceiveData(std::vector<BYTE> data) {
    const std::lock_guard<std::mutex> lock(m_lock);
    m_answered = true;
    m_receiveData = std::move(data);
  }
  bool SendFailed() const {
    const std::lock_guard<std::mutex> lock(m_lock);
    return m_sendFailed;
  }
  // S_OK with the bytes received; else the failure status the layer gave
  // (E_FAIL for a failed send, or while nothing was reported back yet).
  HRESULT Outcome(std::vector<BYTE>& data) const {
    const std::lock_guard<std::mutex> lock(m_lock);
    data = m_receiveData;
    if (!m_answered) return E_FAIL;
    return m_sendFailed ? m_status : S_OK;
  }

 protected:
  ~ProtocolMessage() override = default;

 private:
  // Answered with `status` as the failure; wants m_lock held.
  void FailLocked(HRESULT status) {
    m_answered = true;
    m_sendFailed = true;
    m_status = status;
  }

  mutable std::mutex m_lock;
  std::vector<BYTE> m_receiveData;  // guarded by m_lock
  bool m_answered = false;          // guarded by m_lock
  bool m_sendFailed = false;        // guarded by m_lock
  HRESULT m_status = S_OK;          // guarded by m_lock; the failure, when m_sendFailed
};

}  // namespace pluginkit
