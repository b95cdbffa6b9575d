#include "UnitMaps.h"

#include <cstdint>

namespace plcsim {

UnitMaps::UnitMaps(const std::vector<int>& units, int size, std::chrono::milliseconds tick)
    : m_tick(tick), m_nextTick(std::chrono::steady_clock::now() + tick) {
  for (int unit : units) {
    if (m_maps.count(unit) != 0) continue;
    modbus_mapping_t* map = modbus_mapping_new(size, size, size, size);
    if (map == nullptr) {
      m_valid = false;
      continue;
    }
    for (int i = 0; i < size; ++i) {
      map->tab_bits[i] = static_cast<uint8_t>((i + unit) % 2);
      map->tab_input_bits[i] = static_cast<uint8_t>((i + unit) % 2);
      map->tab_registers[i] = static_cast<uint16_t>(unit * 1000 + i);
      map->tab_input_registers[i] = static_cast<uint16_t>(unit * 100 + i);
    }
    map->tab_input_registers[0] = 0;
    map->tab_input_registers[1] = 0;
    m_maps[unit] = map;
  }
}

UnitMaps::~UnitMaps() {
  for (auto& [unit, map] : m_maps) modbus_mapping_free(map);
}

modbus_mapping_t* UnitMaps::Find(int unit) const {
  const auto found = m_maps.find(unit);
  return found == m_maps.end() ? nullptr : found->second;
}

void UnitMaps::Advance(std::chrono::steady_clock::time_point now) {
  bool moved = false;
  // Bounded: a process stopped for a long time catches up in one step.
  if (now >= m_nextTick) {
    const auto behind = (now - m_nextTick) / m_tick + 1;
    m_ticks += static_cast<unsigned>(behind);
    m_nextTick += behind * m_tick;
    moved = true;
  }
  if (!moved) return;
  for (auto& [unit, map] : m_maps) {
    map->tab_input_registers[0] = static_cast<uint16_t>(m_ticks);
    map->tab_input_registers[1] = static_cast<uint16_t>((m_ticks % 100) * 10);
  }
}

}  // namespace plcsim
