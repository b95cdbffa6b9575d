#include "BaseComms/CommandNumber.h"

#include "Config/TaskMemText.h"
#include "Platform/Text.h"

int GetCommandNumber(ITARVO_DeviceMessage* message) {
  int commandNo = 0;
  ReadCommandNumber(message, commandNo);
  return commandNo;
}

bool ReadCommandNumber(ITARVO_DeviceMessage* message, int& commandNo) {
  commandNo = 0;
  if (message == nullptr) return false;
  TaskMemReceived key;
  if (FAILED(message->GetMessageKey(key.Put())) || key.Get() == nullptr) return false;
  commandNo = _wtoi(key.Get());
  return true;
}
