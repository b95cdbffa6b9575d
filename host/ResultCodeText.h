// ResultCodeText.h: a result code as the reference host prints it.
//
// "0xC0048806 QTM_E_ERROR": the code in hex, then its name from the
// library's tables (Platform/ComResults.h for COM results, Interfaces/
// QtmResults.h for device-level codes), or the hex alone when neither table
// names it. Pure; any thread.
#pragma once

#include <cstdio>
#include <string>

#include "Interfaces/QtmResults.h"
#include "Platform/ComResults.h"

namespace hostcom {

inline std::string ResultCodeText(LONG code) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
  const char* name = HResultName(code);
  const auto value = static_cast<std::uint32_t>(code);
  // A device-level code: an error with its facility, or a bare success code.
  const bool qtm = QtmIsError(code) ? (value & 0xFFFF0000u) == QTM_ERROR_FACILITY : (value & 0xFFFF0000u) == 0;
  if (name == nullptr && qtm) name = QtmCodeName(QtmCodeOf(code));
  return name != nullptr ? std::string(hex) + " " + name : std::string(hex);
}

}  // namespace hostcom
