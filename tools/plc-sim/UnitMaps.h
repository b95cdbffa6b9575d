// UnitMaps.h: the register maps of the simulated controller's unit ids.
//
// Owns one libmodbus mapping per unit id (freed with the object). Holding
// register i of unit u starts at u*1000+i, input register i at u*100+i, coil
// and discrete input i at (i+u)%2. Input register 0 counts ticks and input
// register 1 ramps 0..990 in steps of 10, both moved by Advance. Used by the
// server's one thread only.
#pragma once

#include <modbus/modbus.h>

#include <chrono>
#include <map>
#include <vector>

namespace plcsim {

class UnitMaps {
 public:
  UnitMaps(const std::vector<int>& units, int size, std::chrono::milliseconds tick);
  ~UnitMaps();
  UnitMaps(const UnitMaps&) = delete;
  UnitMaps& operator=(const UnitMaps&) = delete;

  // False when a mapping could not be allocated.
  bool Valid() const { return m_valid; }
  // The mapping of `unit`, or null when the unit id is not served.
  modbus_mapping_t* Find(int unit) const;
  // Moves the counter and the ramp by the ticks passed until `now`.
  void Advance(std::chrono::steady_clock::time_point now);
  // When the next tick falls due.
  std::chrono::steady_clock::time_point NextTick() const { return m_nextTick; }

 private:
  std::map<int, modbus_mapping_t*> m_maps;
  std::chrono::milliseconds m_tick;
  std::chrono::steady_clock::time_point m_nextTick;
  unsigned m_ticks = 0;
  bool m_valid = true;
};

}  // namespace plcsim
