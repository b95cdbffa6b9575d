// DeviceResults.h: results of requests and the application's result sink.
#pragma once

#include "Interfaces/DeviceMessages.h"
#include "Interfaces/InterfaceIds.h"
#include "Platform/Unknown.h"

// Made by CoCreateInstance(CLSID_TARVO_DeviceResult, ..., IID_ITARVO_DeviceResult).
struct ITARVO_DeviceResult : IUnknown {
  // Fills the result: the request it answers (the result keeps a reference),
  // a QTM result code, whether the request is complete (0 or 1), and the data
  // (copied).
  virtual HRESULT STDMETHODCALLTYPE SetResult(ITARVO_DeviceMessage* message, LONG resultCode, LONG complete,
                                              ULONG count, const BYTE* bytes) = 0;
  // *complete: 0 or 1, as set.
  virtual HRESULT STDMETHODCALLTYPE GetComplete(LONG* complete) = 0;
  // *errorCode: the QTM result code, as set.
  virtual HRESULT STDMETHODCALLTYPE GetErrorCode(LONG* errorCode) = 0;
  // *message: the request it answers, with one reference for the caller,
  // who releases it.
  virtual HRESULT STDMETHODCALLTYPE GetDeviceMessage(ITARVO_DeviceMessage** message) = 0;
};

// The application's result sink. The callee takes its own references to
// results it keeps.
struct ITARVO_DeviceResultCallback : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE ReceiveDeviceResult(ITARVO_DeviceResult* result) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReceiveDeviceResults(LONG count, ITARVO_DeviceResult** results) = 0;
};
