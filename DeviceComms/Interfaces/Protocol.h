// Protocol.h: the protocol layer below the component.
#pragma once

#include "Interfaces/InterfaceIds.h"
#include "Platform/Unknown.h"

// One message on the line and, once answered, its response. Buffers
// (GetSendData, GetDestinationAddress, GetReceiveData: *count bytes at
// *bytes) and texts (GetCommandType's *commandType) handed out are new task
// memory that the caller frees with CoTaskMemFree; *extraTimeout and
// *required are values.
struct ITARVO_ProtocolMessage : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetSendData(ULONG* count, BYTE** bytes) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDestinationAddress(ULONG* count, BYTE** bytes) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCommandType(LPWSTR* commandType) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetExtraTimeout(LONG* extraTimeout) = 0;
  // *required is 1 when the message expects a response.
  virtual HRESULT STDMETHODCALLTYPE GetRequireResponse(LONG* required) = 0;
  // Called with (0, 0) when the protocol layer refused the message.
  virtual HRESULT STDMETHODCALLTYPE SetSendFailure(LONG reason, LONG detail) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetReceiveData(ULONG* count, BYTE** bytes) = 0;
};

// The protocol layer. Send returns a non-negative result when it took the
// message; the response then comes back through the component's Receive.
// QueryInterface may give ITARVO_RuntimeInformation.
struct ITARVO_ProtocolComms : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Send(ITARVO_ProtocolMessage* message) = 0;
};

// Where the controller is reached and what runs on it, as a configuration
// string the protocol layer and the device configuration understand.
// GetRuntimeInformation's *information is new task memory that the caller
// frees; *valid is a value.
struct ITARVO_RuntimeInformation : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetRuntimeInformation(LPWSTR* information) = 0;
  // *valid is non-zero when the text is acceptable.
  virtual HRESULT STDMETHODCALLTYPE CheckRuntimeInformation(LPCWSTR information, LONG* valid) = 0;
  virtual HRESULT STDMETHODCALLTYPE ChangeRuntimeInformation(LPCWSTR information) = 0;
};
