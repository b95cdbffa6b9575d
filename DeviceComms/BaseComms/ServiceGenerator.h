// ServiceGenerator.h: creates the message service for each device message.
//
// The constructor reads the service configuration of the device once into a
// table from command number to ServiceLoader: the nodes
// "%Network%/Services/Services[@Name='Local' or 'Remote']/Service", the set
// chosen by the "DEV"/"GDEV" entry of the device's configuration string. It
// throws TVO_RuntimeError when the configuration cannot be read or is wrong
// (see ServiceGenerator.cpp). Afterwards GenerateService makes a new,
// initialised service of the best version for a message's command number.
//
// Ownership: the generator owns the table and every loader in it; services
// it hands out belong to the caller. The generator holds no reference to the
// device configuration after construction.
//
// Threads: no lock. The table is written only by the constructor, before the
// owner publishes the generator, and only read afterwards.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "BaseComms/ServiceLoader.h"
#include "Interfaces/ConfigTree.h"
#include "Interfaces/DeviceConfig.h"
#include "Interfaces/DeviceMessages.h"
#include "Interfaces/IMessageService.h"
#include "Platform/WinTypes.h"

class ServiceGenerator {
 public:
  // With `reason`, a failure also says why, in words for a person (which
  // call or node, which attribute), before the throw.
  explicit ServiceGenerator(ITARVO_DeviceConfig* deviceConfig, std::string* reason = nullptr);
  virtual ~ServiceGenerator();

  ServiceGenerator(const ServiceGenerator&) = delete;
  ServiceGenerator& operator=(const ServiceGenerator&) = delete;

  // A new service for `message` at `runtimeVersion`, initialised with the
  // message and `deviceConfig`; null when the key cannot be read, nothing is
  // configured or fits, the class cannot be created or its initialisation
  // returns false (the instance is then destroyed). The caller owns it.
  // Running out of memory is no null: TVO_MemoryAllocError is thrown (also
  // for an allocation failure inside the plug-in's factory, see
  // ClassLoaderCore.h), and the request that asked reports it as every
  // caught error, with its code E_OUTOFMEMORY and its device error code left
  // untouched, never as QTM_E_INVALID_COMMAND / E_NOTIMPL.
  // With `reason`, a null result also says why, in words for a person (the
  // command number, the versions, the class and module, the loader's reason).
  IMessageService* GenerateService(ITARVO_DeviceMessage* message, DWORD runtimeVersion,
                                   ITARVO_DeviceConfig* deviceConfig, std::string* reason = nullptr) const;
  // The same for a message whose key the caller has read already: its
  // command number is `commandNo`.
  IMessageService* GenerateService(int commandNo, ITARVO_DeviceMessage* message, DWORD runtimeVersion,
                                   ITARVO_DeviceConfig* deviceConfig, std::string* reason = nullptr) const;

  // The support version GenerateService would choose for `commandNo`
  // (decimal text); false when none. The last argument is not used.
  bool GetSupportVersion(DWORD* version, const wchar_t* commandNo, DWORD runtimeVersion,
                         ITARVO_DeviceConfig* deviceConfig) const;

  // The path of a service set's nodes ("Local" or "Remote").
  static std::wstring ServiceSetPath(const wchar_t* setName);
  // "Local" when the device configuration string has no "DEV"/"GDEV" value
  // (or cannot be parsed), else "Remote".
  static const wchar_t* ServiceSetName(const std::wstring& configurationString);

 private:
  // Both set `reason` on a failure.
  HRESULT ReadServiceTable(ITARVO_DeviceConfig* deviceConfig, std::string& reason);
  HRESULT AddServiceNode(ITARVO_ConfigNode* node, std::string& reason);
  const ServiceLoader* FindLoader(int commandNo) const;

  std::map<int, std::unique_ptr<ServiceLoader>> m_table;
};
