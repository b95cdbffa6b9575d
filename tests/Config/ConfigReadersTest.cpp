// The configuration readers against the host's XML tree, and against
// scripted host objects where a failure or the memory traffic must be seen.
#include "Config/ConfigReaders.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <string>

#include "Config/ComRef.h"
#include "Platform/Com.h"
#include "XmlConfig/ConfigDocument.h"
#include "XmlConfig/XmlDeviceConfig.h"

namespace {

const char* const kDocument = R"(<HostConfiguration>
  <Lines><Line Name="L"/></Lines>
  <Networks><Network Name="N"><Services><Services Name="Local">
    <Service CommandNo="5" SupportVersion="1.2.3" ForbiddenOnLocked="TRUE" Empty=""/>
  </Services></Services></Network></Networks>
  <Controllers><Controller Name="C" Network="N" Line="L" Address="1">
    <DriverVersionInfo><DriverReleaseVersion>3.2.1</DriverReleaseVersion></DriverVersionInfo>
  </Controller></Controllers>
</HostConfiguration>)";

constexpr const wchar_t* kServicePath =
    L"%Network%/Services/Services[@Name='Local']/Service[@CommandNo='5' and @SupportVersion='1.2.3']";

class ConfigReadersTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    auto document = hostconfig::ConfigDocument::LoadText(kDocument, error);
    ASSERT_TRUE(document) << error;
    ASSERT_EQ(hostconfig::XmlDeviceConfig::Create(document, "C", m_config.Put()), S_OK);
    m_blocksBefore = CoTaskMemBlocksInUse();
  }
  void TearDown() override { EXPECT_EQ(CoTaskMemBlocksInUse(), m_blocksBefore) << "task memory leaked"; }

  ComRef<ITARVO_DeviceConfig> m_config;
  LONG m_blocksBefore = 0;
};

TEST_F(ConfigReadersTest, ReadTextAndAttributesAtPaths) {
  std::wstring value;
  EXPECT_TRUE(GetConfigText(value, L"%CPU%/DriverVersionInfo/DriverReleaseVersion", 1, m_config.Get()));
  EXPECT_EQ(value, L"3.2.1");
  EXPECT_TRUE(GetConfigAttribute(value, L"ForbiddenOnLocked", kServicePath, 1, m_config.Get()));
  EXPECT_EQ(value, L"TRUE");
  EXPECT_TRUE(GetConfigAttribute(value, L"Empty", kServicePath, 1, m_config.Get()));
  EXPECT_EQ(value, L"");
}

TEST_F(ConfigReadersTest, FailuresLeaveTheValueAsItWas) {
  std::wstring value = L"kept";
  EXPECT_FALSE(GetConfigText(value, L"%CPU%/NoSuchNode", 1, m_config.Get()));
  EXPECT_FALSE(GetConfigAttribute(value, L"NoSuchAttribute", kServicePath, 1, m_config.Get()));
  EXPECT_FALSE(GetConfigAttribute(value, L"ForbiddenOnLocked", L"%Network%/Services/Services/Service[@CommandNo='6']",
                                  1, m_config.Get()));
  EXPECT_FALSE(GetConfigAttribute(value, nullptr, kServicePath, 1, m_config.Get()));
  EXPECT_FALSE(GetConfigText(value, nullptr, 1, m_config.Get()));
  EXPECT_FALSE(GetConfigText(value, L"%CPU%", 1, nullptr));
  EXPECT_FALSE(GetNodeAttribute(value, L"Name", nullptr));
  EXPECT_FALSE(GetNodeText(value, nullptr));
  EXPECT_EQ(value, L"kept");
}

// A node whose answers the test scripts; it records how much task memory
// was in use during each call and frees nothing itself.
class ScriptedNode final : public ITARVO_ConfigNode {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    if (ppv != nullptr) *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --m_refs; }
  HRESULT STDMETHODCALLTYPE GetText(LPWSTR* text) override { return Answer(text); }
  HRESULT STDMETHODCALLTYPE GetAttribute(LPCWSTR name, LPWSTR* value) override {
    m_name = name;
    return Answer(value);
  }

  HRESULT m_result = S_OK;
  const wchar_t* m_text = L"answer";
  std::wstring m_name;
  LONG m_blocksDuringCall = 0;
  ULONG m_refs = 0;

 private:
  HRESULT Answer(LPWSTR* out) {
    m_blocksDuringCall = CoTaskMemBlocksInUse();
    if (FAILED(m_result)) return m_result;
    *out = static_cast<LPWSTR>(CoTaskMemAlloc((std::wcslen(m_text) + 1) * sizeof(wchar_t)));
    std::wcscpy(*out, m_text);
    return m_result;
  }
};

TEST_F(ConfigReadersTest, NodeReadersHandTaskMemoryToTheHostAndFreeEverything) {
  ScriptedNode node;
  std::wstring value;
  ASSERT_TRUE(GetNodeAttribute(value, L"CommandNo", &node));
  EXPECT_EQ(value, L"answer");
  EXPECT_EQ(node.m_name, L"CommandNo");
  EXPECT_EQ(node.m_blocksDuringCall, m_blocksBefore + 1) << "the name was not a task-memory copy";
  EXPECT_EQ(CoTaskMemBlocksInUse(), m_blocksBefore);

  node.m_result = E_FAIL;
  value = L"kept";
  EXPECT_FALSE(GetNodeAttribute(value, L"CommandNo", &node));
  EXPECT_FALSE(GetNodeText(value, &node));
  EXPECT_EQ(value, L"kept");
  EXPECT_EQ(CoTaskMemBlocksInUse(), m_blocksBefore);

  node.m_result = S_OK;
  node.m_text = L"";
  EXPECT_TRUE(GetNodeText(value, &node));
  EXPECT_EQ(value, L"");
  EXPECT_EQ(node.m_refs, 0u);
}

// A host object without ITARVO_ConfigQuery: only QueryInterface is called.
class NoQuerySource final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    ++m_queries;
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_calls; }
  ULONG STDMETHODCALLTYPE Release() override { return ++m_calls; }
  int m_queries = 0;
  ULONG m_calls = 0;
};

TEST_F(ConfigReadersTest, SourceWithoutQueryInterfaceGivesFalseAndNoOtherCall) {
  NoQuerySource source;
  std::wstring value = L"kept";
  EXPECT_FALSE(GetConfigText(value, L"%CPU%", 1, &source));
  EXPECT_FALSE(GetConfigAttribute(value, L"Name", L"%CPU%", 1, &source));
  EXPECT_EQ(source.m_queries, 2);
  EXPECT_EQ(source.m_calls, 0u);
  EXPECT_EQ(value, L"kept");
}

}  // namespace
