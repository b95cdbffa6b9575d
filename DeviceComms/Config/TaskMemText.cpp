#include "Config/TaskMemText.h"

#include <cwchar>

TaskMemCopy::TaskMemCopy(const wchar_t* text) {
  const std::size_t length = std::wcslen(text);
  m_pText = static_cast<LPWSTR>(CoTaskMemAlloc((length + 1) * sizeof(wchar_t)));
  if (m_pText != nullptr) std::wmemcpy(m_pText, text, length + 1);
}
