#include "SampleServices/DelayedReadService.h"

namespace sample {

bool DelayedReadService::InitialiseService(ITARVO_DeviceMessage* message, ITARVO_DeviceConfig* deviceConfig) {
  if (!ReadService::InitialiseService(message, deviceConfig)) return false;
  if (Data().size() >= 2) m_delay = static_cast<DWORD>(Data()[0]) | (static_cast<DWORD>(Data()[1]) << 8);
  return true;
}

bool DelayedReadService::IsTimeUp(DWORD now) {
  if (!m_started) {
    m_start = now;
    m_started = true;
  }
  return static_cast<DWORD>(now - m_start) >= m_delay;  // unsigned: right across the wrap
}

}  // namespace sample
