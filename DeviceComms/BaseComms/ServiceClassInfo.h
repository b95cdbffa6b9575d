// ServiceClassInfo.h: one configured message-service class.
//
// Holds the module path, class name and super-class name of one service
// configuration entry (8-bit, ANSI code page) and creates instances of it
// through the process's MessageServiceClassLoader. Immutable after
// construction; CreateInstance may be called from any thread.
#pragma once

#include <string>

#include "Interfaces/IMessageService.h"

class ServiceClassInfo {
 public:
  ServiceClassInfo(std::string modulePath, std::string className, std::string superClassName);
  virtual ~ServiceClassInfo();

  ServiceClassInfo(const ServiceClassInfo&) = delete;
  ServiceClassInfo& operator=(const ServiceClassInfo&) = delete;

  // A new, uninitialised instance owned by the caller, or null. An empty
  // super-class name reaches the loader as a null pointer. Throws
  // TVO_MemoryAllocError when memory ran out.
  IMessageService* CreateInstance() const;

  const std::string& GetModulePath() const { return m_modulePath; }
  const std::string& GetClassName() const { return m_className; }
  const std::string& GetSuperClassName() const { return m_superClassName; }

 private:
  const std::string m_modulePath;
  const std::string m_className;
  const std::string m_superClassName;
};
