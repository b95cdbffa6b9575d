// PluginAbi.h: the binary interface between ClassLoaderCore and plug-ins.
//
// A plug-in module is a shared library that exports exactly one C function,
// BaseCommsPluginGetDescriptor (see BASECOMMS_PLUGIN_ENTRY_NAME). It returns a
// pointer to a static descriptor: the ABI version the module was built for
// and a table of its classes. Each class has a name, an optional super-class
// name, the name of the interface its instances implement (for message
// services "IMessageService") and a factory.
//
// The factory returns a new instance as a pointer to that interface,
// converted to void* (so the loader's caller converts it back to the same
// interface type), or null when it cannot create one. An exception thrown
// while it creates the instance (by `new`, by the class's constructor) passes
// out of the factory to the loader, which tells an allocation failure
// (std::bad_alloc, or the TVO_MemoryAllocError of the process's throwing
// new-handler) from any other failure; the plug-in need not know the
// support library's error classes. A factory that catches and returns null
// makes an allocation failure look like a missing class: do not. The caller
// owns the instance and deletes it through the interface's virtual
// destructor. Modules are never unloaded, so the descriptor, the strings in it
// and the code of every instance stay valid for the life of the process.
//
// A plug-in does not link libBaseComms: the COM functions it calls
// (CoTaskMemAlloc, CoCreateInstance, ...) resolve against the loading process.
//
// Writing a module:
//     #include "TARVO_SupportLib/PluginAbi.h"
//     BASECOMMS_PLUGIN_BEGIN
//       BASECOMMS_PLUGIN_CLASS(IMessageService, ReadService, "OneStepService")
//       BASECOMMS_PLUGIN_CLASS(IMessageService, WriteService, "")
//     BASECOMMS_PLUGIN_END
// (in exactly one source file of the module; see docs/PLUGINS.md).
#pragma once

#include <cstdint>
#include <new>

// Raised whenever the layout or meaning of the structures below changes; the
// loader refuses modules built for another version.
#define BASECOMMS_PLUGIN_ABI_VERSION 1u
#define BASECOMMS_PLUGIN_ENTRY_NAME "BaseCommsPluginGetDescriptor"

extern "C" {

using BaseCommsPluginFactory = void* (*)();

struct BaseCommsPluginClass {
  const char* className;       // not null, unique within the module
  const char* superClassName;  // null or "" when the class names none
  const char* interfaceName;   // not null, e.g. "IMessageService"
  BaseCommsPluginFactory create;
};

struct BaseCommsPluginDescriptor {
  std::uint32_t abiVersion;  // BASECOMMS_PLUGIN_ABI_VERSION
  std::uint32_t classCount;
  const BaseCommsPluginClass* classes;
};

using BaseCommsPluginEntry = const BaseCommsPluginDescriptor* (*)();

}  // extern "C"

namespace basecomms_plugin {

// The factory the macros below put into the table: new Class, as Interface*.
// What `new` or the constructor throws goes on to the loader.
template <typename Interface, typename Class>
void* Create() {
  Interface* instance = new Class();
  return static_cast<void*>(instance);
}

}  // namespace basecomms_plugin

#define BASECOMMS_PLUGIN_BEGIN \
  namespace {                  \
  const BaseCommsPluginClass g_baseCommsPluginClasses[] = {

#define BASECOMMS_PLUGIN_CLASS(Interface, Class, SuperClassName) \
  {#Class, SuperClassName, #Interface, &::basecomms_plugin::Create<Interface, Class>},

#define BASECOMMS_PLUGIN_END                                                                                \
  }                                                                                                         \
  ;                                                                                                         \
  const BaseCommsPluginDescriptor g_baseCommsPluginDescriptor = {                                           \
      BASECOMMS_PLUGIN_ABI_VERSION,                                                                         \
      static_cast<std::uint32_t>(sizeof(g_baseCommsPluginClasses) / sizeof(g_baseCommsPluginClasses[0])), \
      g_baseCommsPluginClasses};                                                                            \
  }                                                                                                         \
  extern "C" __attribute__((visibility("default"))) const BaseCommsPluginDescriptor*                       \
  BaseCommsPluginGetDescriptor() {                                                                           \
    return &g_baseCommsPluginDescriptor;                                                                    \
  }
