// ServiceConfigFixture.h: host objects for the service generator's tests.
//
// ServiceConfigFixture builds a host configuration document from the
// <Service> elements of the "Local" and "Remote" sets (module paths point
// at the real sample module) and makes device configurations for a local
// controller "L" and a remote one "R". FlakyDeviceConfig wraps a device configuration and fails
// chosen host calls. All are test-owned and single-threaded.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Config/ComRef.h"
#include "Interfaces/ConfigTree.h"
#include "Interfaces/DeviceConfig.h"
#include "Interfaces/DeviceMessages.h"
#include "XmlConfig/ConfigDocument.h"

namespace servicetest {

// <Service> element for the sample module.
std::string Service(const std::string& commandNo, const std::string& className, const std::string& version = "",
                    const std::string& superClass = "");

// Delegates to a real device configuration; fails GetConfiguration with
// m_configurationResult, QueryInterface for the query with m_queryResult,
// and the list's Next for the node at m_failingFetch (0-based; -1 none).
class FlakyDeviceConfig final : public ITARVO_DeviceConfig, public ITARVO_ConfigQuery {
 public:
  explicit FlakyDeviceConfig(ITARVO_DeviceConfig* inner);
  ~FlakyDeviceConfig();
  FlakyDeviceConfig(const FlakyDeviceConfig&) = delete;
  FlakyDeviceConfig& operator=(const FlakyDeviceConfig&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --m_refs; }
  HRESULT STDMETHODCALLTYPE SetConfiguration(LPCWSTR key, LPCWSTR text) override;
  HRESULT STDMETHODCALLTYPE GetConfiguration(LPCWSTR key, LPWSTR* text) override;
  HRESULT STDMETHODCALLTYPE CompareConfiguration(LPCWSTR comparison, LPCWSTR other, LONG* result) override;
  HRESULT STDMETHODCALLTYPE Activate(LONG active) override;
  HRESULT STDMETHODCALLTYPE SelectNode(LONG flags, LPCWSTR path, ITARVO_ConfigNode** node) override;
  HRESULT STDMETHODCALLTYPE SelectNodes(LONG flags, LPCWSTR path, ITARVO_ConfigNodeList** nodes) override;

  HRESULT m_configurationResult = S_OK;
  HRESULT m_queryResult = S_OK;
  LONG m_failingFetch = -1;

 private:
  ITARVO_DeviceConfig* m_pInner;  // one reference
  ComRef<ITARVO_ConfigQuery> m_innerQuery;
  ULONG m_refs = 0;
};

class ServiceConfigFixture : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Loads a document with these sets; false (and a test failure) when it
  // does not load.
  bool Load(const std::string& localServices, const std::string& remoteServices = "");
  ITARVO_DeviceConfig* Local() { return m_local.Get(); }
  ITARVO_DeviceConfig* Remote() { return m_remote.Get(); }

  static int MessageBoxes();
  static std::string LastMessageBox();

 private:
  std::shared_ptr<const hostconfig::ConfigDocument> m_document;
  ComRef<ITARVO_DeviceConfig> m_local;
  ComRef<ITARVO_DeviceConfig> m_remote;
  LONG m_blocksBefore = 0;
};

}  // namespace servicetest
