// TaskMemory.h: task memory a host call hands back, owned until the scope
// ends, and the device-message data read through it.
//
// The buffer is freed on every way out: also when the call failed but left a
// buffer there, and when copying it threw. Plug-ins parse and copy what the
// host gives themselves: they do not link the library's helpers.
#pragma once

#include <vector>

#include "Interfaces/DeviceMessages.h"
#include "Platform/Com.h"

namespace pluginkit {

template <typename Memory>
class TaskMemory {
 public:
  TaskMemory() = default;
  ~TaskMemory() { CoTaskMemFree(m_memory); }
  TaskMemory(const TaskMemory&) = delete;
  TaskMemory& operator=(const TaskMemory&) = delete;

  Memory** Put() { return &m_memory; }
  Memory* Get() const { return m_memory; }

 private:
  Memory* m_memory = nullptr;
};

// The data of a device message; false when the host cannot give them.
inline bool ReadDeviceData(ITARVO_DeviceMessage* message, std::vector<BYTE>& data) {
  ULONG count = 0;
  TaskMemory<BYTE> bytes;
  if (FAILED(message->GetData(&count, bytes.Put()))) return false;
  if (bytes.Get() != nullptr) data.assign(bytes.Get(), bytes.Get() + count);
  return true;
}

}  // namespace pluginkit
