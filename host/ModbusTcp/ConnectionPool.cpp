#include "ModbusTcp/ConnectionPool.h"

namespace modbustcp {

std::shared_ptr<ModbusConnection> ConnectionPool::Get(const ModbusEndpoint& endpoint) {
  const std::lock_guard<std::mutex> guard(m_lock);
  std::weak_ptr<ModbusConnection>& slot = m_connections[endpoint.TargetKey()];
  std::shared_ptr<ModbusConnection> connection = slot.lock();
  if (!connection) {
    connection = std::make_shared<ModbusConnection>(endpoint, m_trace, m_longestSleep);
    slot = connection;
  }
  return connection;
}

}  // namespace modbustcp
