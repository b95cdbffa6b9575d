// Guid.h: GUIDs, the identifiers of COM interfaces and classes.
#pragma once

#include <compare>
#include <cstring>
#include <functional>

#include "Platform/WinTypes.h"

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];

  friend constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
      if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
  }
  // An arbitrary but fixed order, so GUIDs can key ordered maps.
  friend constexpr std::strong_ordering operator<=>(const GUID& a, const GUID& b) {
    if (auto c = a.Data1 <=> b.Data1; c != 0) return c;
    if (auto c = a.Data2 <=> b.Data2; c != 0) return c;
    if (auto c = a.Data3 <=> b.Data3; c != 0) return c;
    for (int i = 0; i < 8; ++i) {
      if (auto c = a.Data4[i] <=> b.Data4[i]; c != 0) return c;
    }
    return std::strong_ordering::equal;
  }
};

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline constexpr bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline constexpr bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

template <>
struct std::hash<GUID> {
  std::size_t operator()(const GUID& g) const noexcept {
    std::size_t h = g.Data1;
    h = h * 31 + g.Data2;
    h = h * 31 + g.Data3;
    for (BYTE b : g.Data4) h = h * 31 + b;
    return h;
  }
};
