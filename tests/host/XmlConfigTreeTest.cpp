// The host's configuration tree: loading and checking documents, paths with
// macros and XPath predicates, node lists, and the COM rules of its objects;
// the device configuration of one controller made from it.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Config/ComRef.h"
#include "Platform/Com.h"
#include "XmlConfig/ConfigDocument.h"
#include "XmlConfig/XmlDeviceConfig.h"

namespace {

using hostconfig::ConfigDocument;
using hostconfig::XmlDeviceConfig;

const char* const kDocument = R"(<HostConfiguration Version="1">
  <Lines><Line Name="SIM1"/><Line Name="SIM 2"/><Line Name="TCP"/></Lines>
  <Networks>
    <Network Name="Other"/>
    <Network Name="Plant"><Services><Services Name="Local">
      <Service CommandNo="5" SupportVersion="1.2.3"/>
      <Service CommandNo="5" SupportVersion="2.0.0" Text="&#x20AC; &quot;quoted&quot;"/>
      <Service CommandNo="6"/>
    </Services></Services></Network>
  </Networks>
  <Controllers>
    <Controller Name="B" Network="Plant" Line="SIM1" Address="2" ParallelLimit="3">
      <DriverVersionInfo><DriverReleaseVersion>1.4.2</DriverReleaseVersion></DriverVersionInfo>
    </Controller>
    <Controller Name="P1" Network="Other" Line="SIM1" Address="1" ParallelLimit="4"/>
    <Controller Name="P1b" Network="Other" Line="SIM1" Address="1"/>
    <Controller Name="P2" Network="Other" Line="SIM1" Address="2"/>
    <Controller Name="R1" Network="Other" Line="SIM1" Address="1" Gateway="GW;1"/>
    <Controller Name="Q" Network="Other" Line="SIM 2" Address=" 7"/>
    <Controller Name="M1" Network="Other" Line="TCP" Address="modbus-tcp://127.0.0.1:1502?unit=3&amp;timeout=500"/>
    <Controller Name="M1b" Network="Other" Line="TCP" Address="modbus-tcp://127.0.0.1:1502?timeout=90&amp;unit=3"/>
    <Controller Name="M2" Network="Other" Line="TCP" Address="modbus-tcp://127.0.0.1:1502?unit=4"/>
    <Controller Name="M3" Network="Other" Line="TCP" Address="modbus-tcp://127.0.0.1:1503?unit=3"/>
  </Controllers>
</HostConfiguration>)";

class XmlConfigTreeTest : public testing::Test {
 protected:
  void SetUp() override {
    m_blocksBefore = CoTaskMemBlocksInUse();
    std::string error;
    m_document = ConfigDocument::LoadText(kDocument, error);
    ASSERT_TRUE(m_document) << error;
    ASSERT_EQ(XmlDeviceConfig::Create(m_document, "B", m_config.Put()), S_OK);
    ASSERT_EQ(m_config->QueryInterface(IID_ITARVO_ConfigQuery, m_query.PutVoid()), S_OK);
  }
  void TearDown() override {
    m_query.Reset();
    m_config.Reset();
    EXPECT_EQ(CoTaskMemBlocksInUse(), m_blocksBefore) << "task memory leaked";
  }

  // The task-memory text `get` hands out (freed here); "<none>" when it fails.
  template <typename Get>
  static std::wstring Taken(Get get) {
    LPWSTR text = nullptr;
    if (FAILED(get(&text))) return L"<none>";
    std::wstring value = text != nullptr ? text : L"<null>";
    CoTaskMemFree(text);
    return value;
  }
  static std::wstring Attribute(ITARVO_ConfigNode* node, const wchar_t* name) {
    return Taken([&](LPWSTR* text) { return node->GetAttribute(name, text); });
  }

  ComRef<ITARVO_DeviceConfig> Make(const char* name) {
    ComRef<ITARVO_DeviceConfig> config;
    EXPECT_EQ(XmlDeviceConfig::Create(m_document, name, config.Put()), S_OK);
    return config;
  }
  static std::wstring Configuration(ITARVO_DeviceConfig* config) {
    return Taken([&](LPWSTR* text) { return config->GetConfiguration(L"", text); });
  }
  static LONG SameTarget(ITARVO_DeviceConfig* a, ITARVO_DeviceConfig* b) {
    LONG result = -1;
    EXPECT_EQ(a->CompareConfiguration(L"SameTarget", Configuration(b).c_str(), &result), S_OK);
    return result;
  }

  LONG m_blocksBefore = 0;
  std::shared_ptr<const ConfigDocument> m_document;
  ComRef<ITARVO_DeviceConfig> m_config;
  ComRef<ITARVO_ConfigQuery> m_query;
};

// A list, and each node it hands out, keep the document alive after every
// other holder is gone. Attribute text beyond ASCII comes out as written; a
// missing attribute fails.
TEST_F(XmlConfigTreeTest, NodeListsWalkInDocumentOrderAndKeepTheDocumentAlive) {
  ComRef<ITARVO_ConfigNodeList> list;
  ASSERT_EQ(m_query->SelectNodes(1, L"%Network%/Services/Services[@Name='Local']/Service", list.Put()), S_OK);
  m_query.Reset();
  m_config.Reset();
  m_document.reset();
  LONG count = 0;
  ASSERT_EQ(list->GetCount(&count), S_OK);
  ASSERT_EQ(count, 3);
  for (int pass = 0; pass < 2; ++pass) {
    ASSERT_EQ(list->Reset(), S_OK);
    std::wstring order;
    for (LONG i = 0; i < count; ++i) {
      ComRef<ITARVO_ConfigNode> node;
      ASSERT_EQ(list->Next(node.Put()), S_OK);
      order += Attribute(node.Get(), L"CommandNo") + L":" + Attribute(node.Get(), L"Text") + L",";
    }
    EXPECT_EQ(order, L"5:<none>,5:\u20AC \"quoted\",6:<none>,");
    ComRef<ITARVO_ConfigNode> past;
    EXPECT_TRUE(FAILED(list->Next(past.Put())));
    EXPECT_FALSE(past);
  }
}

TEST_F(XmlConfigTreeTest, PathsFindTheirNodeOrFailWhenTheyFindNothingOrAreBroken) {
  ComRef<ITARVO_ConfigNode> node;
  ASSERT_EQ(m_query->SelectNode(1, L"%CPU%/DriverVersionInfo/DriverReleaseVersion", node.Put()), S_OK);
  EXPECT_EQ(Taken([&](LPWSTR* text) { return node->GetText(text); }), L"1.4.2");
  EXPECT_EQ(m_query->SelectNode(1, L"%CPU%/NoSuchElement", node.Put()), E_FAIL);
  EXPECT_FALSE(node);
  EXPECT_EQ(m_query->SelectNode(1, L"%CPU%/[", node.Put()), E_INVALIDARG);
  EXPECT_EQ(m_query->SelectNode(1, L"count(//Service)", node.Put()), E_INVALIDARG);  // not a node set
  EXPECT_EQ(m_query->SelectNode(2, L"%CPU%", node.Put()), E_INVALIDARG);              // reserved flag
  // An empty set is a successful, empty list.
  ComRef<ITARVO_ConfigNodeList> list;
  ASSERT_EQ(m_query->SelectNodes(1, L"%Network%/Services/Services[@Name='Remote']/Service", list.Put()), S_FALSE);
  LONG count = -1;
  EXPECT_EQ(list->GetCount(&count), S_OK);
  EXPECT_EQ(count, 0);
}

TEST_F(XmlConfigTreeTest, ConfigurationStringAndSameTargetComeFromLineAddressAndRouteUntilSet) {
  EXPECT_EQ(Configuration(Make("P1").Get()), L"LINE=SIM1;ADDR=1");
  EXPECT_EQ(Configuration(Make("R1").Get()), L"LINE=SIM1;ADDR=1;DEV=\"GW;1\"");
  EXPECT_EQ(Configuration(Make("Q").Get()), L"LINE=SIM 2;ADDR=\" 7\"");
  EXPECT_EQ(Configuration(Make("M1").Get()),
            L"LINE=modbus-tcp://127.0.0.1:1502;ADDR=3;"
            L"URL=modbus-tcp://127.0.0.1:1502?unit=3&timeout=500&backoff=50&backoff-max=5000");
  struct Case {
    const char *a, *b;
    LONG same;
  };
  for (const Case& c : {Case{"P1", "P1b", 1}, Case{"P1", "P2", 0},
                        Case{"P1", "R1", 0},    // same address, but through a gateway
                        Case{"M1", "M1b", 1},   // other time-out, same server and unit
                        Case{"M1", "M2", 0},    // another unit
                        Case{"M1", "M3", 0}}) {  // another port
    EXPECT_EQ(SameTarget(Make(c.a).Get(), Make(c.b).Get()), c.same) << c.a << " " << c.b;
  }
  auto p1 = Make("P1");
  LONG result = -1;
  EXPECT_EQ(p1->CompareConfiguration(L"SameTarget", L"ADDR=1 ; line=SIM1", &result), S_OK);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(p1->CompareConfiguration(L"SameTarget", L"LINE=SIM1;ADDR", &result), S_OK);  // malformed
  EXPECT_EQ(result, 0);
  EXPECT_EQ(p1->CompareConfiguration(L"Other", L"LINE=SIM1;ADDR=1", &result), E_INVALIDARG);
  EXPECT_EQ(result, 0);
  // SetConfiguration replaces the string, which moves the target.
  auto p2 = Make("P2");
  EXPECT_EQ(p1->SetConfiguration(L"", L"LINE=SIM1;ADDR=2"), S_OK);
  EXPECT_EQ(Configuration(p1.Get()), L"LINE=SIM1;ADDR=2");
  EXPECT_EQ(SameTarget(p1.Get(), p2.Get()), 1);
  EXPECT_EQ(p1->SetConfiguration(L"", L"LINE=\"open"), E_INVALIDARG);
  EXPECT_EQ(p1->SetConfiguration(L"Key", L"LINE=1"), E_INVALIDARG);
  EXPECT_EQ(Configuration(p1.Get()), L"LINE=SIM1;ADDR=2");
}

TEST_F(XmlConfigTreeTest, ParallelLimitActivationAndInterfaces) {
  auto p1 = Make("P1"), p2 = Make("P2");
  ComRef<ITARVO_ParallelLimit> limit;
  ASSERT_EQ(p1->QueryInterface(IID_ITARVO_ParallelLimit, limit.PutVoid()), S_OK);
  LONG value = 0;
  EXPECT_EQ(limit->GetParallelLimit(&value), S_OK);
  EXPECT_EQ(value, 4);
  ASSERT_EQ(p2->QueryInterface(IID_ITARVO_ParallelLimit, limit.PutVoid()), S_OK);
  EXPECT_EQ(limit->GetParallelLimit(&value), S_OK);
  EXPECT_EQ(value, 1);

  // Every interface of the object leads back to the same IUnknown.
  ComRef<IUnknown> fromConfig, fromLimit;
  ASSERT_EQ(p2->QueryInterface(IID_IUnknown, fromConfig.PutVoid()), S_OK);
  ASSERT_EQ(limit->QueryInterface(IID_IUnknown, fromLimit.PutVoid()), S_OK);
  EXPECT_EQ(fromConfig.Get(), fromLimit.Get());

  auto* object = static_cast<XmlDeviceConfig*>(p1.Get());
  EXPECT_EQ(object->IsActive(), 0);
  EXPECT_EQ(p1->Activate(1), S_OK);
  EXPECT_EQ(object->IsActive(), 1);
  EXPECT_EQ(p1->Activate(5), E_INVALIDARG);
  EXPECT_EQ(p1->Activate(0), S_OK);
  EXPECT_EQ(object->IsActive(), 0);

  ComRef<ITARVO_DeviceConfig> none;
  EXPECT_EQ(XmlDeviceConfig::Create(m_document, "NoSuch", none.Put()), E_INVALIDARG);
  EXPECT_FALSE(none);
}

TEST(ConfigDocumentTest, RejectsDocumentsThatBreakTheSchema) {
  // A document of one line, one network and one controller with `attributes`.
  const auto withController = [](const std::string& attributes) {
    return "<HostConfiguration><Lines><Line Name='L'/></Lines><Networks><Network Name='N'/></Networks>"
           "<Controllers><Controller Name='C' " + attributes + "/></Controllers></HostConfiguration>";
  };
  struct Case {
    std::string xml;
    const char* expected;
  };
  const Case cases[] = {
      {"<Other/>", "root element"},
      {"<HostConfiguration Version='2'/>", "version"},
      {"<HostConfiguration><Lines><Line Name='L'/><Line Name='L'/></Lines></HostConfiguration>", "twice"},
      {withController("Network='X' Line='L' Address='1'"), "Network Name=\"X\""},
      {withController("Network='N' Line='Y' Address='1'"), "Line Name=\"Y\""},
      {withController("Network='N' Line='L'"), "Address"},
      {withController("Network='N' Line='L' Address='1' ParallelLimit='0'"), "ParallelLimit"},
      // What is wrong with it: ModbusEndpointTest.
      {withController("Network='N' Line='L' Address='modbus-tcp://127.0.0.1:99999'"),
       "is not a Modbus/TCP connection string"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(ConfigDocument::LoadText(c.xml, error)) << c.xml;
    EXPECT_NE(error.find(c.expected), std::string::npos) << error;
  }
}

}  // namespace
