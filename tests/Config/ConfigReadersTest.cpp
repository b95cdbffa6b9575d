// The configuration readers against the host's XML tree, and against the host
// doubles where a failure or the memory traffic must be seen, or where the host
// breaks the COM rules (a failing select that still leaves a node behind).
#include "Config/ConfigReaders.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Config/ComRef.h"
#include "Config/QueryReaders.h"
#include "Platform/Com.h"
#include "Support/HostDoubles.h"
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

TEST_F(ConfigReadersTest, ReadTextAndAttributesAtPathsOrLeaveTheValueAsItWas) {
  std::wstring value;
  EXPECT_TRUE(GetConfigText(value, L"%CPU%/DriverVersionInfo/DriverReleaseVersion", 1, m_config.Get()));
  EXPECT_EQ(value, L"3.2.1");
  EXPECT_TRUE(GetConfigAttribute(value, L"ForbiddenOnLocked", kServicePath, 1, m_config.Get()));
  EXPECT_EQ(value, L"TRUE");
  EXPECT_TRUE(GetConfigAttribute(value, L"Empty", kServicePath, 1, m_config.Get()));
  EXPECT_EQ(value, L"");

  // A failure leaves the value as it was.
  value = L"kept";
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

TEST_F(ConfigReadersTest, NodeReadersHandTaskMemoryToTheHostAndFreeEverything) {
  doubles::FakeConfigNode node;
  node.attributes[L"CommandNo"] = L"answer";
  std::wstring value;
  ASSERT_TRUE(GetNodeAttribute(value, L"CommandNo", &node));
  EXPECT_EQ(value, L"answer");
  EXPECT_EQ(node.blocksDuringGetAttribute, m_blocksBefore + 1) << "the name was not a task-memory copy";
  EXPECT_EQ(CoTaskMemBlocksInUse(), m_blocksBefore);

  node.textResult = E_FAIL;
  value = L"kept";
  EXPECT_FALSE(GetNodeAttribute(value, L"Missing", &node));
  EXPECT_FALSE(GetNodeText(value, &node));
  EXPECT_EQ(value, L"kept");
  EXPECT_EQ(CoTaskMemBlocksInUse(), m_blocksBefore);
  EXPECT_EQ(node.RefCount(), 0);
}

// A failing select that still leaves a node behind.
class FailingSelect final : public doubles::ComObject<ITARVO_ConfigQuery> {
 public:
  HRESULT STDMETHODCALLTYPE SelectNode(LONG, LPCWSTR, ITARVO_ConfigNode** node) override {
    *node = &left;  // not AddRef'd: the call failed
    return E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE SelectNodes(LONG, LPCWSTR, ITARVO_ConfigNodeList** nodes) override {
    *nodes = nullptr;
    return E_NOTIMPL;
  }
  doubles::FakeConfigNode left;
};

TEST(FaultyHostReadersTest, WhatAFailingSelectLeftIsNeitherReadNorReleased) {
  FailingSelect query;
  query.left.text = L"stale";
  std::wstring value = L"kept";
  EXPECT_FALSE(SelectNodeText(value, L"%CPU%", 1, &query));
  EXPECT_EQ(value, L"kept");
  EXPECT_EQ(query.left.RefCount(), 0);
}

// A source without ITARVO_ConfigQuery, whose QueryInterface even leaves a
// query behind: nothing is read, nothing is held.
class FailingQueryInterface final : public doubles::ComObject<ITARVO_ConfigQuery> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = static_cast<ITARVO_ConfigQuery*>(&left);  // not AddRef'd: the call failed
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE SelectNode(LONG, LPCWSTR, ITARVO_ConfigNode**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SelectNodes(LONG, LPCWSTR, ITARVO_ConfigNodeList**) override { return E_NOTIMPL; }
  FailingSelect left;
};

TEST(FaultyHostReadersTest, WhatAFailingQueryInterfaceLeftIsNeitherUsedNorReleased) {
  FailingQueryInterface source;
  std::wstring value = L"kept";
  EXPECT_FALSE(GetConfigText(value, L"%CPU%", 1, &source));
  EXPECT_FALSE(GetConfigAttribute(value, L"Name", L"%CPU%", 1, &source));
  EXPECT_EQ(value, L"kept");
  EXPECT_EQ(source.RefCount(), 0);
  EXPECT_EQ(source.left.RefCount(), 0);
  EXPECT_EQ(source.left.left.RefCount(), 0);
}

}  // namespace
