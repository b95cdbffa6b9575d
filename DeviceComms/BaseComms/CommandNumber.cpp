#include "BaseComms/CommandNumber.h"

#include "Config/TaskMemText.h"
#include "Platform/Text.h"

int GetCommandNumber(ITARVO_DeviceMessage* message) {
  if (message == nullptr) return 0;
  TaskMemReceived key;
  if (FAILED(message->GetMessageKey(key.Put())) || key.Get() == nullptr) return 0;
  return _wtoi(key.Get());
}
