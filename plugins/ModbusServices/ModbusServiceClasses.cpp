#include "ModbusServices/ModbusServiceClasses.h"

namespace modbusservices {

bool AbsorbingReadService::ConcatenateService(std::list<ITARVO_DeviceResult*>&, IMessageService* other) {
  auto* const equal = dynamic_cast<AbsorbingReadService*>(other);
  if (equal == nullptr || equal == this || !CanConcatenate() || !equal->CanConcatenate() || equal->Data() != Data()) {
    return false;
  }
  TakeMessagesOf(*equal);
  return true;
}

bool DelayedReadService::IsTimeUp(DWORD now) {
  if (!m_started) {
    m_start = now;
    m_started = true;
  }
  const DWORD delay = Data().size() >= 2 ? static_cast<DWORD>(Data()[0] | Data()[1] << 8) : 0;
  return static_cast<DWORD>(now - m_start) >= delay;
}

std::vector<BYTE> DelayedReadService::RequestData(const std::vector<BYTE>& data) const {
  return data.size() >= 2 ? std::vector<BYTE>(data.begin() + 2, data.end()) : std::vector<BYTE>{};
}

}  // namespace modbusservices
