// TVO_Error.h: the support library's error classes.
//
// TVO_Error is the root; TVO_RuntimeError carries where it was raised and a
// 32-bit result code (read through the virtual GetErrorCode, which derived
// errors may override); TVO_MemoryAllocError is what the throwing
// allocation-failure handler raises when an allocation gives nothing. The
// component's operations catch TVO_RuntimeError and return its code.
#pragma once

#include <stdexcept>
#include <string>

#include "Platform/Export.h"
#include "Platform/WinTypes.h"

class BASECOMMS_API TVO_Error : public std::runtime_error {
 public:
  explicit TVO_Error(const std::string& what);
  ~TVO_Error() override;
};

class BASECOMMS_API TVO_RuntimeError : public TVO_Error {
 public:
  TVO_RuntimeError(const char* sourceFile, int line, LONG code);
  ~TVO_RuntimeError() override;

  virtual LONG GetErrorCode() const;
  const char* GetSourceFile() const { return m_sourceFile.c_str(); }
  int GetLine() const { return m_line; }

 private:
  std::string m_sourceFile;
  int m_line;
  LONG m_code;
};

// Code: E_OUTOFMEMORY.
class BASECOMMS_API TVO_MemoryAllocError : public TVO_RuntimeError {
 public:
  TVO_MemoryAllocError(const char* sourceFile, int line);
  ~TVO_MemoryAllocError() override;
};
