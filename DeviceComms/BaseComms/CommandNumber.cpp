#include "BaseComms/CommandNumber.h"

#include "Config/TaskMemText.h"
#include "Platform/Text.h"

int GetCommandNumber(ITARVO_DeviceMessage* message) {
  int commandNo = 0;
  ReadCommandNumber(message, commandNo);
  return commandNo;
}

HRESULT ReadCommandNumber(ITARVO_DeviceMessage* message, int& commandNo) {
  commandNo = 0;
  if (message == nullptr) return E_POINTER;
  TaskMemReceived key;
  const HRESULT hr = message->GetMessageKey(key.Put());
  if (FAILED(hr)) return hr;
  if (key.Get() == nullptr) return E_FAIL;
  commandNo = _wtoi(key.Get());
  return S_OK;
}
