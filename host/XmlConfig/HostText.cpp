#include "XmlConfig/HostText.h"

#include <cwchar>
#include <pugixml.hpp>

#include "Platform/Com.h"

namespace hostconfig {

std::wstring ToWide(const char* utf8) { return utf8 != nullptr ? pugi::as_wide(utf8) : std::wstring(); }

std::string ToUtf8(const wchar_t* wide) { return wide != nullptr ? pugi::as_utf8(wide) : std::string(); }

HRESULT CopyToTaskMem(const std::wstring& text, LPWSTR* out) {
  if (out == nullptr) return E_POINTER;
  *out = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
  if (*out == nullptr) return E_OUTOFMEMORY;
  std::wmemcpy(*out, text.c_str(), text.size() + 1);
  return S_OK;
}

}  // namespace hostconfig
