#include "TARVO_SupportLib/TVO_Error.h"

#include <cstdio>

#include "Platform/ComResults.h"

namespace {

std::string Describe(const char* sourceFile, int line, LONG code) {
  char text[64];
  std::snprintf(text, sizeof text, "(%d): error 0x%08X", line, static_cast<unsigned>(code));
  return std::string(sourceFile ? sourceFile : "?") + text;
}

}  // namespace

TVO_Error::TVO_Error(const std::string& what) : std::runtime_error(what) {}
TVO_Error::~TVO_Error() = default;

TVO_RuntimeError::TVO_RuntimeError(const char* sourceFile, int line, LONG code)
    : TVO_Error(Describe(sourceFile, line, code)),
      m_sourceFile(sourceFile ? sourceFile : ""),
      m_line(line),
      m_code(code) {}
TVO_RuntimeError::~TVO_RuntimeError() = default;

LONG TVO_RuntimeError::GetErrorCode() const { return m_code; }

TVO_MemoryAllocError::TVO_MemoryAllocError(const char* sourceFile, int line)
    : TVO_RuntimeError(sourceFile, line, E_OUTOFMEMORY) {}
TVO_MemoryAllocError::~TVO_MemoryAllocError() = default;
