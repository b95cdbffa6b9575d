// ComObject.h: reference-counting base for the host doubles.
//
// A double implements one or more host interfaces and counts the references
// the code under test takes and gives back. Doubles are owned by the test
// (on the stack or in a unique_ptr): Release never deletes them, unless the
// double overrides LastReleased (an object the host creates). A test reads
// RefCount() to see what the code under test still holds; when a double is
// destroyed with references outstanding, or after more Releases than
// AddRefs, the test fails. Interface lookup goes through the IIDs listed in
// InterfaceIdOf below, and a double can withdraw an interface at run time
// (to play a host that lacks it).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "BaseComms/BaseComms.h"

namespace doubles {

template <typename Interface>
struct InterfaceIdOf;
#define DOUBLES_INTERFACE_ID(Interface) \
  template <>                           \
  struct InterfaceIdOf<Interface> : std::integral_constant<const IID&, IID_##Interface> {};
DOUBLES_INTERFACE_ID(IClassFactory)
DOUBLES_INTERFACE_ID(ITARVO_DeviceInfo)
DOUBLES_INTERFACE_ID(ITARVO_DeviceConfig)
DOUBLES_INTERFACE_ID(ITARVO_ParallelLimit)
DOUBLES_INTERFACE_ID(ITARVO_ConfigQuery)
DOUBLES_INTERFACE_ID(ITARVO_ConfigNodeList)
DOUBLES_INTERFACE_ID(ITARVO_ConfigNode)
DOUBLES_INTERFACE_ID(ITARVO_DeviceResultCallback)
DOUBLES_INTERFACE_ID(ITARVO_ProtocolComms)
DOUBLES_INTERFACE_ID(ITARVO_RuntimeInformation)
DOUBLES_INTERFACE_ID(ITARVO_DeviceMessage)
DOUBLES_INTERFACE_ID(ITARVO_DeviceMessageAccessor)
DOUBLES_INTERFACE_ID(ITARVO_DeviceResult)
DOUBLES_INTERFACE_ID(ITARVO_ProtocolMessage)
#undef DOUBLES_INTERFACE_ID

template <typename... Interfaces>
class ComObject : public Interfaces... {
 public:
  ComObject() = default;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;
  virtual ~ComObject() {
    EXPECT_EQ(m_refs.load(), 0) << "references to a host double not given back";
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown) {
      *ppv = static_cast<IUnknown*>(static_cast<FirstInterface*>(this));
    } else {
      (TryInterface<Interfaces>(riid, ppv) || ...);
    }
    if (*ppv == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_refs); }
  ULONG STDMETHODCALLTYPE Release() override {
    const int refs = --m_refs;
    EXPECT_GE(refs, 0) << "host double released more often than referenced";
    if (refs == 0) LastReleased();
    return static_cast<ULONG>(refs < 0 ? 0 : refs);
  }

  // References held by others.
  int RefCount() const { return m_refs.load(); }
  // Makes QueryInterface fail for `iid`, as a host without that interface.
  void Withdraw(REFIID iid) { m_withdrawn.insert(iid); }

 protected:
  // A double its creator hands over starts with the creator's reference.
  explicit ComObject(int refs) : m_refs(refs) {}
  // Called when the last reference is given back; may delete the double.
  virtual void LastReleased() {}

 private:
  using FirstInterface = std::tuple_element_t<0, std::tuple<Interfaces...>>;

  template <typename Interface>
  bool TryInterface(REFIID riid, void** ppv) {
    if (riid != InterfaceIdOf<Interface>::value || m_withdrawn.count(riid) != 0) return false;
    *ppv = static_cast<Interface*>(this);
    return true;
  }

  std::atomic<int> m_refs{0};
  std::set<IID> m_withdrawn;
};

}  // namespace doubles
