#include "BaseComms/PackedVersion.h"

#include <cwctype>

namespace {

// One "%d" field: white space, optional sign, at least one digit.
bool ReadField(const wchar_t*& cursor, int& field) {
  const wchar_t* p = cursor;
  while (std::iswspace(static_cast<wint_t>(*p))) ++p;
  bool negative = false;
  if (*p == L'+' || *p == L'-') negative = (*p++ == L'-');
  if (*p < L'0' || *p > L'9') return false;
  DWORD magnitude = 0;  // unsigned: wraps instead of overflowing
  while (*p >= L'0' && *p <= L'9') magnitude = magnitude * 10u + static_cast<DWORD>(*p++ - L'0');
  field = static_cast<int>(negative ? 0u - magnitude : magnitude);
  cursor = p;
  return true;
}

}  // namespace

DWORD ParsePackedVersion(const wchar_t* text) {
  int fields[3] = {0, 0, 0};
  if (text != nullptr) {
    const wchar_t* cursor = text;
    for (int i = 0; i < 3; ++i) {
      if (i > 0) {
        if (*cursor != L'.') break;
        ++cursor;
      }
      if (!ReadField(cursor, fields[i])) break;
    }
  }
  return PackVersion(fields[0], fields[1], fields[2]);
}

std::wstring FormatPackedVersion(DWORD version) {
  return std::to_wstring((version >> 16) & 0xFFu) + L"." + std::to_wstring((version >> 8) & 0xFFu) + L"." +
         std::to_wstring(version & 0xFFu);
}
