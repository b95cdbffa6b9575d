// ClassLoaderCore.h: creates plug-in class instances by module and class name.
//
// A loader is constructed with the name of the interface its instances must
// implement (e.g. "IMessageService"). CreateInstance loads the module (a
// shared library following TARVO_SupportLib/PluginAbi.h), checks its ABI
// version, finds the class by name, checks the interface name and, when one
// is asked for, the super-class name, and calls the class's factory.
//
// Failures (module missing or not loadable, no entry point, wrong ABI
// version, malformed class table, unknown class, other interface, other
// super-class, factory gives null or throws) return null, never crash. The
// text of the most recent failure, naming the module file, is kept for
// GetLastErrorText and, for the calling thread alone, for
// GetThreadLastErrorText (a caller that just got null reads why without
// meeting another thread's failure). An allocation failure is no such failure: whether the
// loader's own allocation or the factory's (`new` of the plug-in class, its
// constructor) ran out, CreateInstance throws TVO_MemoryAllocError, so that a
// request reports out of memory (E_OUTOFMEMORY) rather than an unknown class.
//
// Module paths: an absolute path is used as it is. A relative path is taken
// relative to the plug-in directory: the environment variable
// BASECOMMS_PLUGIN_DIR (a host sets it before it loads the first module), else
// the current working directory. The dynamic linker's library search path is never used, so a
// configured name cannot pick up an unrelated library.
//
// Ownership: modules stay loaded until the process ends (an instance's code
// and vtable must outlive it, and the loader cannot know when the last one
// dies). Instances belong to the caller.
//
// Threads: every operation may be called from any thread. m_lock guards the
// module table and the last error text; factories run outside the lock.
#pragma once

#include <map>
#include <string>

#include "Platform/CriticalSection.h"
#include "Platform/Export.h"
#include "Platform/ThreadAnnotations.h"
#include "TARVO_SupportLib/PluginAbi.h"

class BASECOMMS_API ClassLoaderCore {
 public:
  // `interfaceName` null or empty: classes of any interface are accepted.
  explicit ClassLoaderCore(const char* interfaceName);
  virtual ~ClassLoaderCore();

  ClassLoaderCore(const ClassLoaderCore&) = delete;
  ClassLoaderCore& operator=(const ClassLoaderCore&) = delete;

  const std::string& GetInterfaceName() const { return m_interfaceName; }
  // The most recent failure of any thread, empty when none happened yet.
  std::string GetLastErrorText() const EXCLUDES(m_lock);
  // Why the calling thread's most recent CreateInstance (of any loader)
  // returned null; empty when it created its instance.
  static std::string GetThreadLastErrorText();


 protected:
  // A new instance as the loader's interface converted to void*, or null.
  // `superClassName` null: no check; otherwise it must equal the super-class
  // name the class declares (an empty text matches a class that declares none).
  // Throws TVO_MemoryAllocError when memory ran out (see above).
  void* CreateInstance(const char* modulePath, const char* className, const char* superClassName)
      EXCLUDES(m_lock);

 private:
  // The path a module path is loaded from, by the rule above.
  BASECOMMS_LOCAL static std::string ResolveModulePath(const std::string& modulePath);
  BASECOMMS_LOCAL const BaseCommsPluginDescriptor* LoadModule(const std::string& path) REQUIRES(m_lock);
  // The class of a module already loaded under this absolute path, when it
  // passes every check; null in every other case (the full path then
  // decides). Allocates nothing: it serves the repeated requests.
  BASECOMMS_LOCAL const BaseCommsPluginClass* FindLoadedClass(const char* modulePath, const char* className,
                                                              const char* superClassName) const REQUIRES(m_lock);
  BASECOMMS_LOCAL const BaseCommsPluginClass* FindClass(const std::string& path,
                                                        const BaseCommsPluginDescriptor& module, const char* className,
                                                        const char* superClassName) REQUIRES(m_lock);
  BASECOMMS_LOCAL void SetError(const std::string& text) REQUIRES(m_lock);
  // CreateInstance, with an allocation failure as whatever it was thrown as.
  BASECOMMS_LOCAL void* CreateInstanceOrThrow(const char* modulePath, const char* className, const char* superClassName)
      EXCLUDES(m_lock);

  const std::string m_interfaceName;
  mutable CRITICAL_SECTION m_lock;
  // Resolved module path to its validated descriptor.
  std::map<std::string, const BaseCommsPluginDescriptor*, std::less<>> m_modules GUARDED_BY(m_lock);
  std::string m_lastError GUARDED_BY(m_lock);
};
