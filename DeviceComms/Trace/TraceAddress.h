// TraceAddress.h: an address as the trace lines print it.
//
// Trace lines print object addresses with "%08X", a 32-bit value: the low 32
// bits of the address. TraceFullAddress gives all 64 for the added lines.
#pragma once

#include <cstdint>

inline unsigned int TraceAddress(const void* address) {
  return static_cast<unsigned int>(reinterpret_cast<std::uintptr_t>(address));
}

// The whole address, for the lines that name objects beside the component's
// own ("%016llX"): 32 bits are not enough to tell objects apart on a 64-bit
// process.
inline unsigned long long TraceFullAddress(const void* address) {
  return static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(address));
}
