// HostObject.h: reference counting and interface lookup for the host's
// single-interface COM objects.
//
// HostObject<Interface, IID_Interface> implements IUnknown for a class that
// implements one host interface: QueryInterface answers IID_IUnknown and the
// interface's identifier, AddRef and Release count atomically, and the last
// Release deletes the object. Objects are created with one reference for the
// creator (`new` starts the count at 1). Threads: the count may be touched
// from any thread; the derived class states its own thread-safety.
#pragma once

#include <atomic>

#include "Interfaces/HostInterfaces.h"
#include "Platform/Com.h"

namespace hostcom {

template <typename Interface, const IID& InterfaceId>
class HostObject : public Interface {
 public:
  HostObject(const HostObject&) = delete;
  HostObject& operator=(const HostObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != InterfaceId) return E_NOINTERFACE;
    *ppv = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG refs = --m_refs;
    if (refs == 0) delete this;
    return refs;
  }

 protected:
  HostObject() = default;
  virtual ~HostObject() = default;

 private:
  std::atomic<ULONG> m_refs{1};
};

// Releases a COM reference when the holder goes away.
template <typename T>
struct ComReleaser {
  void operator()(T* p) const {
    if (p != nullptr) p->Release();
  }
};

}  // namespace hostcom
