// ServiceLoader.h: every configured version of the service of one command.
//
// Owns one ServiceClassInfo per support version (a packed version; 0 for a
// class configured without one). For a runtime version R it chooses the
// highest configured version not above R. Filled by the ServiceGenerator's
// constructor, read-only afterwards; const operations may then run from any
// thread.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BaseComms/ServiceClassInfo.h"
#include "Interfaces/IMessageService.h"
#include "Platform/WinTypes.h"

class ServiceLoader {
 public:
  ServiceLoader();
  virtual ~ServiceLoader();

  ServiceLoader(const ServiceLoader&) = delete;
  ServiceLoader& operator=(const ServiceLoader&) = delete;

  // Registers a class for `version`. A version given twice is a
  // configuration error: a message box says so (and waits for the user), and
  // the result is false with nothing added.
  bool AddService(const std::string& modulePath, const std::string& className, const std::string& superClassName,
                  DWORD version);

  // A new, uninitialised instance of the chosen version, or null when no
  // version fits or the class cannot be created. Throws TVO_MemoryAllocError
  // when memory ran out.
  IMessageService* CreateService(DWORD runtimeVersion) const;
  // The chosen version; false when none fits.
  bool GetSupportVersion(DWORD* version, DWORD runtimeVersion) const;
  // Why no service of this command could be made at `runtimeVersion`, after
  // CreateService gave null on this thread (`refused` false) or the instance
  // it gave refused its initialisation (`refused` true). Names the versions,
  // or the chosen class and module with the class loader's reason.
  std::string DescribeFailure(DWORD runtimeVersion, bool refused) const;

 private:
  // The chosen class, or null.
  const ServiceClassInfo* Choose(DWORD runtimeVersion, DWORD& chosen) const;

  std::vector<DWORD> m_versions;  // in configuration order
  std::map<DWORD, std::unique_ptr<ServiceClassInfo>> m_classes;
};
