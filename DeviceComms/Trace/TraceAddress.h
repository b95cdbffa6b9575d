// TraceAddress.h: an address as the trace lines print it.
//
// Trace lines print object addresses with "%08X", a 32-bit value: the low 32
// bits of the address, enough to tell objects apart in a trace.
#pragma once

#include <cstdint>

inline unsigned int TraceAddress(const void* address) {
  return static_cast<unsigned int>(reinterpret_cast<std::uintptr_t>(address));
}
