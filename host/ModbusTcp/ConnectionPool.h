// ConnectionPool.h: the host's Modbus/TCP connections, one per physical
// target (server and unit id, ModbusEndpoint::TargetKey).
//
// Get hands out the target's connection, making it when no protocol layer
// holds it any longer; the back-off settings are those of the endpoint that
// made it; each sleeps at most `longestSleep` at a time (ModbusConnection).
// Ownership: the pool keeps weak references only, the protocol
// layers share the connections. Threads: any; m_lock guards m_connections.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "ModbusTcp/ModbusConnection.h"

namespace modbustcp {

class ConnectionPool {
 public:
  explicit ConnectionPool(TraceFunction trace = {},
                          std::chrono::milliseconds longestSleep = ModbusConnection::kDefaultLongestSleep)
      : m_trace(std::move(trace)), m_longestSleep(longestSleep) {}

  std::shared_ptr<ModbusConnection> Get(const ModbusEndpoint& endpoint);

 private:
  const TraceFunction m_trace;
  const std::chrono::milliseconds m_longestSleep;
  std::mutex m_lock;
  std::map<std::string, std::weak_ptr<ModbusConnection>> m_connections;  // guarded by m_lock
};

}  // namespace modbustcp
