// ProtocolResponse.h: how a host's protocol layer hands a response to a
// plug-in's protocol message.
//
// ITARVO_ProtocolMessage has GetReceiveData but no setter. A protocol message
// that wants to travel over the reference host's protocol layers also
// implements ITARVO_ProtocolResponse (found with QueryInterface); the layer
// calls SetResponse exactly once per accepted message, from its own thread,
// before it hands the message to the component's Receive. The Modbus/TCP
// layer refuses a message without this interface; PluginKit's ready
// ProtocolMessage implements it.
//
// The implementation keeps its own copy of the bytes and must be safe to call
// while another thread reads the message (the component reads it later under
// its own locks).
#pragma once

#include "Interfaces/InterfaceIds.h"
#include "Platform/ComResults.h"
#include "Platform/Unknown.h"

// {3E6F0B52-8C1D-4A7E-9B26-5D41C0A7E913}  assigned by the reference host
inline constexpr IID IID_ITARVO_ProtocolResponse = {0x3E6F0B52, 0x8C1D, 0x4A7E, {0x9B, 0x26, 0x5D, 0x41, 0xC0, 0xA7, 0xE9, 0x13}};

// Status values of SetResponse besides S_OK.
// No answer came within the request's deadline (a late answer is dropped).
inline constexpr HRESULT PROTOCOL_E_TIMEOUT = MakeHResult(0x800705B4u);
// The connection was lost, or its stream could not be followed, while the
// request was on it.
inline constexpr HRESULT PROTOCOL_E_CONNECTION_LOST = MakeHResult(0x800704D4u);
// The layer's target changed (runtime information) while the request waited.
inline constexpr HRESULT PROTOCOL_E_TARGET_CHANGED = E_ABORT;

struct ITARVO_ProtocolResponse : IUnknown {
  // `status` S_OK: `bytes` is the response (for Modbus/TCP the PDU: function
  // code and data, an exception PDU included). A failure status comes with
  // no bytes.
  virtual HRESULT STDMETHODCALLTYPE SetResponse(HRESULT status, ULONG count, const BYTE* bytes) = 0;
};
