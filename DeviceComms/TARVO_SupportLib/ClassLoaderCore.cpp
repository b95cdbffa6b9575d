#include "TARVO_SupportLib/ClassLoaderCore.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <set>
#include <string_view>

#include "TARVO_SupportLib/TVO_Error.h"

namespace {

// The calling thread's last failure (GetThreadLastErrorText).
thread_local std::string t_threadLastError;

bool IsEmpty(const char* text) { return text == nullptr || *text == '\0'; }

std::string Quoted(const char* text) { return std::string("\"") + (text ? text : "") + "\""; }

// Checks what the loader relies on before any class of the module is used.
bool ValidateDescriptor(const BaseCommsPluginDescriptor& module, std::string& problem) {
  if (module.abiVersion != BASECOMMS_PLUGIN_ABI_VERSION) {
    problem = "plug-in ABI version " + std::to_string(module.abiVersion) + ", this loader needs " +
              std::to_string(BASECOMMS_PLUGIN_ABI_VERSION);
    return false;
  }
  if (module.classCount > 0 && module.classes == nullptr) {
    problem = "class table is missing";
    return false;
  }
  std::set<std::string> names;
  for (std::uint32_t i = 0; i < module.classCount; ++i) {
    const BaseCommsPluginClass& cls = module.classes[i];
    if (cls.className == nullptr || cls.interfaceName == nullptr || cls.create == nullptr) {
      problem = "class table entry " + std::to_string(i) + " is incomplete";
      return false;
    }
    if (!names.insert(cls.className).second) {
      problem = "class " + Quoted(cls.className) + " is declared twice";
      return false;
    }
  }
  return true;
}

}  // namespace

ClassLoaderCore::ClassLoaderCore(const char* interfaceName)
    : m_interfaceName(interfaceName != nullptr ? interfaceName : "") {
  InitializeCriticalSection(&m_lock);
}

ClassLoaderCore::~ClassLoaderCore() { DeleteCriticalSection(&m_lock); }

std::string ClassLoaderCore::GetLastErrorText() const {
  CriticalSectionLock lock(m_lock);
  return m_lastError;
}

std::string ClassLoaderCore::ResolveModulePath(const std::string& modulePath) {
  if (modulePath.empty() || modulePath.front() == '/') return modulePath;
  const char* fromEnvironment = std::getenv("BASECOMMS_PLUGIN_DIR");
  std::string directory = !IsEmpty(fromEnvironment) ? fromEnvironment : ".";
  if (directory.back() != '/') directory.push_back('/');
  return directory + modulePath;
}

std::string ClassLoaderCore::GetThreadLastErrorText() { return t_threadLastError; }

void ClassLoaderCore::SetError(const std::string& text) {
  m_lastError = text;
  t_threadLastError = text;
}

const BaseCommsPluginDescriptor* ClassLoaderCore::LoadModule(const std::string& path) {
  if (auto found = m_modules.find(path); found != m_modules.end()) return found->second;

  // RTLD_NOW: a module with unresolved symbols fails here, not at a later call.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    SetError("cannot load plug-in module \"" + path + "\": " + (reason ? reason : "unknown reason"));
    return nullptr;
  }
  // From here on the handle is kept open even when the module is refused:
  // closing it would need care about its static destructors, and a refused
  // module is a configuration error that is rare and cheap to keep.
  auto entry = reinterpret_cast<BaseCommsPluginEntry>(dlsym(handle, BASECOMMS_PLUGIN_ENTRY_NAME));
  if (entry == nullptr) {
    SetError("plug-in module \"" + path + "\" has no entry point " BASECOMMS_PLUGIN_ENTRY_NAME);
    return nullptr;
  }
  const BaseCommsPluginDescriptor* module = entry();
  if (module == nullptr) {
    SetError("plug-in module \"" + path + "\" returned no descriptor");
    return nullptr;
  }
  std::string problem;
  if (!ValidateDescriptor(*module, problem)) {
    SetError("plug-in module \"" + path + "\" refused: " + problem);
    return nullptr;
  }
  m_modules.emplace(path, module);
  return module;
}

const BaseCommsPluginClass* ClassLoaderCore::FindLoadedClass(const char* modulePath, const char* className,
                                                             const char* superClassName) const {
  if (modulePath[0] != '/') return nullptr;  // relative: resolved against a directory that may change
  const auto found = m_modules.find(std::string_view(modulePath));
  if (found == m_modules.end()) return nullptr;
  const BaseCommsPluginDescriptor& module = *found->second;
  for (std::uint32_t i = 0; i < module.classCount; ++i) {
    const BaseCommsPluginClass& cls = module.classes[i];
    if (std::strcmp(cls.className, className) != 0) continue;
    if (!m_interfaceName.empty() && m_interfaceName != cls.interfaceName) return nullptr;
    const char* declared = cls.superClassName != nullptr ? cls.superClassName : "";
    if (superClassName != nullptr && std::strcmp(declared, superClassName) != 0) return nullptr;
    return &cls;
  }
  return nullptr;
}

const BaseCommsPluginClass* ClassLoaderCore::FindClass(const std::string& path,
                                                       const BaseCommsPluginDescriptor& module,
                                                       const char* className, const char* superClassName) {
  for (std::uint32_t i = 0; i < module.classCount; ++i) {
    const BaseCommsPluginClass& cls = module.classes[i];
    if (std::strcmp(cls.className, className) != 0) continue;
    if (!m_interfaceName.empty() && m_interfaceName != cls.interfaceName) {
      SetError("class " + Quoted(className) + " of plug-in module \"" + path + "\" implements " +
               Quoted(cls.interfaceName) + ", not " + Quoted(m_interfaceName.c_str()));
      return nullptr;
    }
    if (superClassName != nullptr) {
      const char* declared = cls.superClassName != nullptr ? cls.superClassName : "";
      if (std::strcmp(declared, superClassName) != 0) {
        SetError("class " + Quoted(className) + " of plug-in module \"" + path + "\" has super-class " +
                 Quoted(declared) + ", not " + Quoted(superClassName));
        return nullptr;
      }
    }
    return &cls;
  }
  SetError("plug-in module \"" + path + "\" has no class " + Quoted(className));
  return nullptr;
}

void* ClassLoaderCore::CreateInstance(const char* modulePath, const char* className, const char* superClassName) {
  // std::bad_alloc comes from an allocation made while no throwing handler
  // was in force; TVO_MemoryAllocError (the throwing handler's) passes as it is.
  try {
    return CreateInstanceOrThrow(modulePath, className, superClassName);
  } catch (const std::bad_alloc&) {
    throw TVO_MemoryAllocError(__FILE__, __LINE__);
  }
}

void* ClassLoaderCore::CreateInstanceOrThrow(const char* modulePath, const char* className,
                                             const char* superClassName) {
  const BaseCommsPluginClass* cls = nullptr;
  std::string path;
  t_threadLastError.clear();
  {
    CriticalSectionLock lock(m_lock);
    if (IsEmpty(modulePath) || IsEmpty(className)) {
      SetError("plug-in module " + Quoted(modulePath) + ": module path and class name are required");
      return nullptr;
    }
    cls = FindLoadedClass(modulePath, className, superClassName);
    if (cls == nullptr) {
      path = ResolveModulePath(modulePath);
      const BaseCommsPluginDescriptor* module = LoadModule(path);
      if (module == nullptr) return nullptr;
      cls = FindClass(path, *module, className, superClassName);
      if (cls == nullptr) return nullptr;
    }
  }
  // Found loaded under its absolute path: the path as given is the one used.
  const char* const pathText = path.empty() ? modulePath : path.c_str();
  // The class table is static data of a module that is never unloaded, so
  // `cls` stays valid outside the lock; the factory may take its time. An
  // allocation failure in it goes on to the caller; anything else it throws
  // is a factory that failed.
  void* instance = nullptr;
  try {
    instance = cls->create();
  } catch (const TVO_MemoryAllocError&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& error) {
    CriticalSectionLock lock(m_lock);
    SetError("factory of class " + Quoted(className) + " in plug-in module \"" + pathText + "\" failed: " + error.what());
    return nullptr;
  } catch (...) {
    CriticalSectionLock lock(m_lock);
    SetError("factory of class " + Quoted(className) + " in plug-in module \"" + pathText + "\" failed");
    return nullptr;
  }
  if (instance == nullptr) {
    CriticalSectionLock lock(m_lock);
    SetError("factory of class " + Quoted(className) + " in plug-in module \"" + pathText + "\" gave no instance");
  }
  return instance;
}
