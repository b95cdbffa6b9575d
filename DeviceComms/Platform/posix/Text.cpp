#include "Platform/Text.h"

#include <climits>
#include <cwctype>

#include "Platform/LastError.h"

namespace {

bool IsScalarValue(std::uint32_t c) { return c <= 0x10FFFFu && (c < 0xD800u || c > 0xDFFFu); }

// Appends the UTF-8 form of `c` to `out` (or counts it when out is null).
int EncodeUtf8(std::uint32_t c, char* out) {
  char bytes[4];
  int n;
  if (c < 0x80u) {
    bytes[0] = static_cast<char>(c);
    n = 1;
  } else if (c < 0x800u) {
    bytes[0] = static_cast<char>(0xC0u | (c >> 6));
    bytes[1] = static_cast<char>(0x80u | (c & 0x3Fu));
    n = 2;
  } else if (c < 0x10000u) {
    bytes[0] = static_cast<char>(0xE0u | (c >> 12));
    bytes[1] = static_cast<char>(0x80u | ((c >> 6) & 0x3Fu));
    bytes[2] = static_cast<char>(0x80u | (c & 0x3Fu));
    n = 3;
  } else {
    bytes[0] = static_cast<char>(0xF0u | (c >> 18));
    bytes[1] = static_cast<char>(0x80u | ((c >> 12) & 0x3Fu));
    bytes[2] = static_cast<char>(0x80u | ((c >> 6) & 0x3Fu));
    bytes[3] = static_cast<char>(0x80u | (c & 0x3Fu));
    n = 4;
  }
  if (out != nullptr) {
    for (int i = 0; i < n; ++i) out[i] = bytes[i];
  }
  return n;
}

}  // namespace

int WideCharToMultiByte(UINT codePage, DWORD, LPCWCH wide, int wideLength, LPSTR out, int outSize,
                        LPCCH defaultChar, LPBOOL usedDefaultChar) {
  if ((codePage != CP_ACP && codePage != CP_UTF8) || wide == nullptr || wideLength == 0 || wideLength < -1 ||
      outSize < 0 || (outSize > 0 && out == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const char replacement = (defaultChar != nullptr) ? *defaultChar : '?';
  if (usedDefaultChar != nullptr) *usedDefaultChar = FALSE;
  std::size_t length = 0;
  if (wideLength == -1) {
    while (wide[length] != L'\0') ++length;
    ++length;  // the terminating NUL is converted too
  } else {
    length = static_cast<std::size_t>(wideLength);
  }
  int written = 0;
  for (std::size_t i = 0; i < length; ++i) {
    auto c = static_cast<std::uint32_t>(wide[i]);
    char bytes[4];
    int n;
    if (IsScalarValue(c)) {
      n = EncodeUtf8(c, bytes);
    } else {
      bytes[0] = replacement;
      n = 1;
      if (usedDefaultChar != nullptr) *usedDefaultChar = TRUE;
    }
    if (outSize > 0) {
      if (written + n > outSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
      }
      for (int k = 0; k < n; ++k) out[written + k] = bytes[k];
    }
    written += n;
  }
  return written;
}

int _wtoi(const wchar_t* text) {
  if (text == nullptr) return 0;
  while (std::iswspace(static_cast<wint_t>(*text))) ++text;
  bool negative = false;
  if (*text == L'+' || *text == L'-') negative = (*text++ == L'-');
  long long value = 0;
  for (; *text >= L'0' && *text <= L'9'; ++text) {
    value = value * 10 + (*text - L'0');
    if (value > static_cast<long long>(INT_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

std::string WideToAnsi(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int length = static_cast<int>(wide.size());
  const int needed = WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), length, text.data(), needed, nullptr, nullptr);
  return text;
}
