// ComResults.h: the COM result codes, defined once.
//
// HRESULT is 32-bit; negative means failure. The values are those of the
// Windows headers.
#pragma once

#include "Platform/WinTypes.h"

constexpr HRESULT MakeHResult(std::uint32_t value) { return static_cast<HRESULT>(value); }

// name, value
#define BASECOMMS_HRESULT_TABLE(X)                 \
  X(S_OK, 0x00000000u)                             \
  X(S_FALSE, 0x00000001u)                          \
  X(E_NOTIMPL, 0x80004001u)                        \
  X(E_NOINTERFACE, 0x80004002u)                    \
  X(E_POINTER, 0x80004003u)                        \
  X(E_ABORT, 0x80004004u)                          \
  X(E_FAIL, 0x80004005u)                           \
  X(E_UNEXPECTED, 0x8000FFFFu)                     \
  X(E_ACCESSDENIED, 0x80070005u)                   \
  X(E_HANDLE, 0x80070006u)                         \
  X(E_OUTOFMEMORY, 0x8007000Eu)                    \
  X(E_INVALIDARG, 0x80070057u)                     \
  X(CLASS_E_NOAGGREGATION, 0x80040110u)            \
  X(CLASS_E_CLASSNOTAVAILABLE, 0x80040111u)        \
  X(REGDB_E_CLASSNOTREG, 0x80040154u)              \
  X(CO_E_NOTINITIALIZED, 0x800401F0u)              \
  X(CO_E_OBJNOTREG, 0x800401FBu)                   \
  X(RPC_E_CHANGED_MODE, 0x80010106u)

#define BASECOMMS_DEFINE_HRESULT(name, value) inline constexpr HRESULT name = MakeHResult(value);
BASECOMMS_HRESULT_TABLE(BASECOMMS_DEFINE_HRESULT)
#undef BASECOMMS_DEFINE_HRESULT

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// The symbolic name of a code of the table above, or null.
constexpr const char* HResultName(HRESULT hr) {
#define BASECOMMS_HRESULT_CASE(name, value) \
  if (hr == MakeHResult(value)) return #name;
  BASECOMMS_HRESULT_TABLE(BASECOMMS_HRESULT_CASE)
#undef BASECOMMS_HRESULT_CASE
  return nullptr;
}
