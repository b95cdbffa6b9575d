// The COM runtime stand-in: per-thread initialisation and the registry of
// in-process class factories.
#include <map>
#include <mutex>

#include "Platform/Com.h"

namespace {

thread_local int t_initCount = 0;

struct Registration {
  CLSID clsid;
  IUnknown* factory;  // one reference, released at revocation
  DWORD context;
};

// Registrations by cookie; the newest registration of a CLSID wins.
class ClassRegistry {
 public:
  HRESULT Register(REFCLSID clsid, IUnknown* factory, DWORD context, DWORD* cookie) {
    factory->AddRef();
    std::lock_guard<std::mutex> lock(m_lock);
    const DWORD id = ++m_lastCookie;
    m_registrations.emplace(id, Registration{clsid, factory, context});
    *cookie = id;
    return S_OK;
  }

  HRESULT Revoke(DWORD cookie) {
    IUnknown* factory = nullptr;
    {
      std::lock_guard<std::mutex> lock(m_lock);
      auto it = m_registrations.find(cookie);
      if (it == m_registrations.end()) return CO_E_OBJNOTREG;
      factory = it->second.factory;
      m_registrations.erase(it);
    }
    factory->Release();  // outside the lock: the factory may run anything
    return S_OK;
  }

  // The newest factory for clsid in the context, with a reference for the
  // caller; null when there is none.
  IUnknown* Find(REFCLSID clsid, DWORD context) {
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto it = m_registrations.rbegin(); it != m_registrations.rend(); ++it) {
      if (it->second.clsid == clsid && (it->second.context & context) != 0) {
        it->second.factory->AddRef();
        return it->second.factory;
      }
    }
    return nullptr;
  }

 private:
  std::mutex m_lock;
  DWORD m_lastCookie = 0;                       // guarded by m_lock
  std::map<DWORD, Registration> m_registrations;  // guarded by m_lock
};

ClassRegistry& Registry() {
  // Never destroyed: registrations may be revoked from static destructors
  // of other modules.
  static auto* registry = new ClassRegistry;
  return *registry;
}

}  // namespace

HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(LPVOID, DWORD) { return t_initCount++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (t_initCount > 0) --t_initCount;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  IUnknown* registered = Registry().Find(clsid, clsContext);
  if (registered == nullptr) return REGDB_E_CLASSNOTREG;
  IClassFactory* factory = nullptr;
  HRESULT hr = registered->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&factory));
  registered->Release();
  if (FAILED(hr) || factory == nullptr) return FAILED(hr) ? hr : E_NOINTERFACE;
  hr = factory->CreateInstance(outer, riid, ppv);
  factory->Release();
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* factory, DWORD clsContext, DWORD, LPDWORD cookie) {
  if (factory == nullptr || cookie == nullptr) return E_INVALIDARG;
  return Registry().Register(clsid, factory, clsContext, cookie);
}

HRESULT CoRevokeClassObject(DWORD cookie) { return Registry().Revoke(cookie); }
