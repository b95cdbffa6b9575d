// QtmResults.h: device-level result codes (QTM codes), defined once.
//
// A QTM code is 32-bit: bit 15 marks an error, bits 8 to 14 hold the
// category, bits 0 to 7 the code. Error codes carry 0xC004 in bits 16 to 31;
// success codes carry nothing there. The names in the tables below are the
// system's reference for result-code names (the trace prints them).
#pragma once

#include <cstdint>

#include "Platform/WinTypes.h"

// category number, name
#define QTM_CATEGORY_TABLE(X) \
  X(0, QTM_C_CORE)            \
  X(1, QTM_C_SESSION)         \
  X(2, QTM_C_ROUTING)         \
  X(3, QTM_C_SECURITY)        \
  X(4, QTM_C_SCHEDULER)       \
  X(5, QTM_C_DBMS)            \
  X(6, QTM_C_CONFIGURATOR)    \
  X(7, QTM_C_TRANSLATOR)      \
  X(8, QTM_C_MANAGER)         \
  X(9, QTM_C_DRIVER)          \
  X(10, QTM_C_DEVICE)

// code number, name: 0 to 3 are success codes, 4 to 36 error codes
#define QTM_CODE_TABLE(X)          \
  X(0, QTM_S_OK)                   \
  X(1, QTM_S_CANCEL)               \
  X(2, QTM_S_FALSE)                \
  X(3, QTM_S_STOPPED)              \
  X(4, QTM_E_BUFFER_OVERFLOW)      \
  X(5, QTM_E_DUPLICATE_NAME)       \
  X(6, QTM_E_ERROR)                \
  X(7, QTM_E_INIT_FAIL)            \
  X(8, QTM_E_INVALID_ADDRESS)      \
  X(9, QTM_E_INVALID_COMMAND)      \
  X(10, QTM_E_INVALID_FILE)        \
  X(11, QTM_E_INVALID_MODE)        \
  X(12, QTM_E_INVALID_NAME)        \
  X(13, QTM_E_INVALID_PARM)        \
  X(14, QTM_E_INVALID_PLC)         \
  X(15, QTM_E_INVALID_PROJECT)     \
  X(16, QTM_E_INVALID_USER)        \
  X(17, QTM_E_INVALID_KEY)         \
  X(18, QTM_E_LOCKED)              \
  X(19, QTM_E_NO_NAME)             \
  X(20, QTM_E_NO_PLC)              \
  X(21, QTM_E_NO_PROJECT)          \
  X(22, QTM_E_NO_PERMISSION)       \
  X(23, QTM_E_NO_SERVICE)          \
  X(24, QTM_E_OPEN_PLC)            \
  X(25, QTM_E_OPEN_POINT)          \
  X(26, QTM_E_OPEN_USER)           \
  X(27, QTM_E_COMMS_FAILED)        \
  X(28, QTM_E_ABORTED)             \
  X(29, QTM_E_BUSY)                \
  X(30, QTM_E_LIMIT)               \
  X(31, QTM_E_ROUTING)             \
  X(32, QTM_E_INVALID_POINT)       \
  X(33, QTM_E_INVALID_SETUP)       \
  X(34, QTM_E_INVALID_CONFIG)      \
  X(35, QTM_E_INVALID_UNIT)        \
  X(36, QTM_E_INVALID_DATA)

enum QtmCategory : std::uint32_t {
#define QTM_DEFINE_ENUM(number, name) name = number,
  QTM_CATEGORY_TABLE(QTM_DEFINE_ENUM)
};
enum QtmCode : std::uint32_t {
  QTM_CODE_TABLE(QTM_DEFINE_ENUM)
#undef QTM_DEFINE_ENUM
};

inline constexpr std::uint32_t QTM_ERROR_BIT = 0x8000u;
inline constexpr std::uint32_t QTM_ERROR_FACILITY = 0xC0040000u;
inline constexpr std::uint32_t QTM_MAX_CATEGORY = 10;
inline constexpr std::uint32_t QTM_MAX_CODE = 36;

// Composes a QTM code from its error bit, category and code.
constexpr LONG MakeQtmResult(bool error, std::uint32_t category, std::uint32_t code) {
  const std::uint32_t value =
      (error ? (QTM_ERROR_FACILITY | QTM_ERROR_BIT) : 0u) | ((category & 0x7Fu) << 8) | (code & 0xFFu);
  return static_cast<LONG>(value);
}

constexpr bool QtmIsError(LONG result) { return (static_cast<std::uint32_t>(result) & QTM_ERROR_BIT) != 0; }
constexpr std::uint32_t QtmCategoryOf(LONG result) { return (static_cast<std::uint32_t>(result) >> 8) & 0x7Fu; }
constexpr std::uint32_t QtmCodeOf(LONG result) { return static_cast<std::uint32_t>(result) & 0xFFu; }

// Names from the tables, or null for a number outside them.
constexpr const char* QtmCategoryName(std::uint32_t category) {
#define QTM_NAME_CASE(number, name) \
  if (category == number) return #name;
  QTM_CATEGORY_TABLE(QTM_NAME_CASE)
#undef QTM_NAME_CASE
  return nullptr;
}
constexpr const char* QtmCodeName(std::uint32_t code) {
#define QTM_NAME_CASE(number, name) \
  if (code == number) return #name;
  QTM_CODE_TABLE(QTM_NAME_CASE)
#undef QTM_NAME_CASE
  return nullptr;
}

// The composed codes the component reports.
inline constexpr LONG QTM_RESULT_COMMS_FAILED = MakeQtmResult(true, QTM_C_DEVICE, QTM_E_COMMS_FAILED);    // 0xC0048A1B
inline constexpr LONG QTM_RESULT_INVALID_PARM = MakeQtmResult(true, QTM_C_DEVICE, QTM_E_INVALID_PARM);    // 0xC0048A0D
inline constexpr LONG QTM_RESULT_LOCKED = MakeQtmResult(true, QTM_C_MANAGER, QTM_E_LOCKED);               // 0xC0048812
inline constexpr LONG QTM_RESULT_INVALID_COMMAND = MakeQtmResult(true, QTM_C_MANAGER, QTM_E_INVALID_COMMAND);  // 0xC0048809
inline constexpr LONG QTM_RESULT_ERROR = MakeQtmResult(true, QTM_C_MANAGER, QTM_E_ERROR);                 // 0xC0048806
inline constexpr LONG QTM_RESULT_S_FALSE = MakeQtmResult(false, QTM_C_CORE, QTM_S_FALSE);                 // 2
