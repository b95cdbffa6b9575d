// The reference host's device configuration of one controller.
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

const char* const kDocument = R"(<HostConfiguration>
  <Lines><Line Name="SIM1"/><Line Name="SIM 2"/><Line Name="TCP"/></Lines>
  <Networks><Network Name="N"/></Networks>
  <Controllers>
    <Controller Name="P1" Network="N" Line="SIM1" Address="1" ParallelLimit="4"/>
    <Controller Name="P1b" Network="N" Line="SIM1" Address="1"/>
    <Controller Name="P2" Network="N" Line="SIM1" Address="2"/>
    <Controller Name="R1" Network="N" Line="SIM1" Address="1" Gateway="GW;1"/>
    <Controller Name="Q" Network="N" Line="SIM 2" Address=" 7"/>
    <Controller Name="M1" Network="N" Line="TCP" Address="modbus-tcp://127.0.0.1:1502?unit=3&amp;timeout=500"/>
    <Controller Name="M1b" Network="N" Line="TCP" Address="modbus-tcp://127.0.0.1:1502?timeout=90&amp;unit=3"/>
    <Controller Name="M2" Network="N" Line="TCP" Address="modbus-tcp://127.0.0.1:1502?unit=4"/>
    <Controller Name="M3" Network="N" Line="TCP" Address="modbus-tcp://127.0.0.1:1503?unit=3"/>
  </Controllers>
</HostConfiguration>)";

class XmlDeviceConfigTest : public testing::Test {
 protected:
  void SetUp() override {
    m_blocksBefore = CoTaskMemBlocksInUse();
    std::string error;
    m_document = ConfigDocument::LoadText(kDocument, error);
    ASSERT_TRUE(m_document) << error;
  }
  void TearDown() override { EXPECT_EQ(CoTaskMemBlocksInUse(), m_blocksBefore) << "task memory leaked"; }

  ComRef<ITARVO_DeviceConfig> Make(const char* name) {
    ComRef<ITARVO_DeviceConfig> config;
    EXPECT_EQ(XmlDeviceConfig::Create(m_document, name, config.Put()), S_OK);
    return config;
  }
  static std::wstring Configuration(ITARVO_DeviceConfig* config) {
    LPWSTR text = nullptr;
    EXPECT_EQ(config->GetConfiguration(L"", &text), S_OK);
    std::wstring value = text != nullptr ? text : L"<null>";
    CoTaskMemFree(text);
    return value;
  }
  static LONG SameTarget(ITARVO_DeviceConfig* a, ITARVO_DeviceConfig* b) {
    LONG result = -1;
    EXPECT_EQ(a->CompareConfiguration(L"SameTarget", Configuration(b).c_str(), &result), S_OK);
    return result;
  }

  LONG m_blocksBefore = 0;
  std::shared_ptr<const ConfigDocument> m_document;
};

TEST_F(XmlDeviceConfigTest, ConfigurationStringComesFromLineAddressAndGateway) {
  EXPECT_EQ(Configuration(Make("P1").Get()), L"LINE=SIM1;ADDR=1");
  EXPECT_EQ(Configuration(Make("R1").Get()), L"LINE=SIM1;ADDR=1;DEV=\"GW;1\"");
  EXPECT_EQ(Configuration(Make("Q").Get()), L"LINE=SIM 2;ADDR=\" 7\"");
}

TEST_F(XmlDeviceConfigTest, SameTargetMeansSameLineAddressAndRoute) {
  auto p1 = Make("P1"), p1b = Make("P1b"), p2 = Make("P2"), r1 = Make("R1");
  EXPECT_EQ(SameTarget(p1.Get(), p1b.Get()), 1);
  EXPECT_EQ(SameTarget(p1.Get(), p2.Get()), 0);
  EXPECT_EQ(SameTarget(p1.Get(), r1.Get()), 0);  // same address, but through a gateway
  LONG result = -1;
  EXPECT_EQ(p1->CompareConfiguration(L"SameTarget", L"ADDR=1 ; line=SIM1", &result), S_OK);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(p1->CompareConfiguration(L"SameTarget", L"LINE=SIM1;ADDR", &result), S_OK);  // malformed
  EXPECT_EQ(result, 0);
  EXPECT_EQ(p1->CompareConfiguration(L"Other", L"LINE=SIM1;ADDR=1", &result), E_INVALIDARG);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(p1->CompareConfiguration(L"SameTarget", nullptr, &result), E_POINTER);
  EXPECT_EQ(p1->CompareConfiguration(L"SameTarget", L"", nullptr), E_POINTER);
}

TEST_F(XmlDeviceConfigTest, ModbusControllersAreTheSameTargetWhenServerAndUnitAre) {
  EXPECT_EQ(Configuration(Make("M1").Get()),
            L"LINE=modbus-tcp://127.0.0.1:1502;ADDR=3;"
            L"URL=modbus-tcp://127.0.0.1:1502?unit=3&timeout=500&backoff=50&backoff-max=5000");
  auto m1 = Make("M1"), m1b = Make("M1b"), m2 = Make("M2"), m3 = Make("M3");
  EXPECT_EQ(SameTarget(m1.Get(), m1b.Get()), 1);  // other time-out, same server and unit
  EXPECT_EQ(SameTarget(m1.Get(), m2.Get()), 0);   // another unit
  EXPECT_EQ(SameTarget(m1.Get(), m3.Get()), 0);   // another port
}

TEST_F(XmlDeviceConfigTest, SetConfigurationReplacesTheStringAndMovesTheTarget) {
  auto p1 = Make("P1"), p2 = Make("P2");
  EXPECT_EQ(p1->SetConfiguration(L"", L"LINE=SIM1;ADDR=2"), S_OK);
  EXPECT_EQ(Configuration(p1.Get()), L"LINE=SIM1;ADDR=2");
  EXPECT_EQ(SameTarget(p1.Get(), p2.Get()), 1);
  EXPECT_EQ(p1->SetConfiguration(L"", L"LINE=\"open"), E_INVALIDARG);
  EXPECT_EQ(p1->SetConfiguration(L"Key", L"LINE=1"), E_INVALIDARG);
  EXPECT_EQ(p1->SetConfiguration(nullptr, L"LINE=1"), E_POINTER);
  EXPECT_EQ(p1->SetConfiguration(L"", nullptr), E_POINTER);
  EXPECT_EQ(Configuration(p1.Get()), L"LINE=SIM1;ADDR=2");
  LPWSTR text = reinterpret_cast<LPWSTR>(1);
  EXPECT_EQ(p1->GetConfiguration(L"Key", &text), E_INVALIDARG);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(p1->GetConfiguration(L"", nullptr), E_POINTER);
}

TEST_F(XmlDeviceConfigTest, ParallelLimitActivationAndInterfaces) {
  auto p1 = Make("P1"), p2 = Make("P2");
  ComRef<ITARVO_ParallelLimit> limit;
  ASSERT_EQ(p1->QueryInterface(IID_ITARVO_ParallelLimit, limit.PutVoid()), S_OK);
  LONG value = 0;
  EXPECT_EQ(limit->GetParallelLimit(&value), S_OK);
  EXPECT_EQ(value, 4);
  EXPECT_EQ(limit->GetParallelLimit(nullptr), E_POINTER);
  ASSERT_EQ(p2->QueryInterface(IID_ITARVO_ParallelLimit, limit.PutVoid()), S_OK);
  EXPECT_EQ(limit->GetParallelLimit(&value), S_OK);
  EXPECT_EQ(value, 1);

  // Every interface of the object leads back to the same IUnknown.
  ComRef<IUnknown> fromConfig, fromLimit;
  ASSERT_EQ(p2->QueryInterface(IID_IUnknown, fromConfig.PutVoid()), S_OK);
  ASSERT_EQ(limit->QueryInterface(IID_IUnknown, fromLimit.PutVoid()), S_OK);
  EXPECT_EQ(fromConfig.Get(), fromLimit.Get());
  EXPECT_EQ(p2->QueryInterface(IID_ITARVO_ConfigNode, nullptr), E_POINTER);

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

}  // namespace
