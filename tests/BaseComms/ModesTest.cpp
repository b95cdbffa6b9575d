// Modes by name, the exclusive mode, service information, and runtime information changes.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "BaseComms/PackedVersion.h"
#include "ComponentTestSupport.h"
#include "Support/DispatchTestAccess.h"

namespace {

using doubles::FakeConfigNode;
using doubles::FakeDeviceMessage;
using componenttest::RunningComponent;
using Dispatch = DispatchTestAccess;

// Sets the runtime version with a set request, as the application does.
void SetRuntimeVersion(RunningComponent& device, BYTE major, BYTE minor, BYTE build) {
  FakeDeviceMessage set(L"477", RunningComponent::SetRequest(major, minor, build));
  ASSERT_EQ(device.Execute(&set, nullptr), S_OK);
  device.host.sink.Clear();
}

TEST(ModesTest, ModeNamesAreExactAndTransferModeReachesTheTarget) {
  RunningComponent device(L"LINE=40");
  device.Start();
  // The exclusive mode's door: 0 takes it, 2 gives it back, other values are refused (who may take it and give it
  // back is the dispatcher's, DispatchTargetTest).
  LONG value = -1;
  EXPECT_EQ(device->SetMode(L"Exclusive", 1), E_FAIL);
  EXPECT_EQ(device->SetMode(L"Exclusive", -1), E_FAIL);
  EXPECT_EQ(device->SetMode(L"Exclusive", 0), S_OK);
  EXPECT_EQ(device->GetMode(L"Exclusive", &value), S_OK);
  EXPECT_EQ(value, EXCLUSIVE_MODE_OWN);
  EXPECT_EQ(device->SetMode(L"Exclusive", 2), S_OK);
  EXPECT_EQ(device->GetMode(L"Exclusive", &value), S_OK);
  EXPECT_EQ(value, EXCLUSIVE_MODE_NONE);
  EXPECT_EQ(device->GetMode(L"TransferMode", &value), E_FAIL) << "the transfer mode cannot be read";
  EXPECT_EQ(device->GetMode(L"exclusive", &value), E_FAIL);
  EXPECT_EQ(device->SetMode(L"transfermode", 0), E_FAIL);
  EXPECT_EQ(device->SetMode(nullptr, 0), E_FAIL);
  EXPECT_TRUE(Dispatch::IsParallelAvailable(device.Key())) << "refused names change nothing";

  EXPECT_EQ(device->SetMode(L"TransferMode", 0), S_OK);
  EXPECT_FALSE(Dispatch::IsParallelAvailable(device.Key()));
  EXPECT_EQ(device->SetMode(L"TransferMode", 7), S_OK) << "any value but 0 is parallel";
  EXPECT_TRUE(Dispatch::IsParallelAvailable(device.Key()));

  // Without a target the dispatcher refuses; a one-by-one component accepts every transfer mode and stays one by one.
  RunningComponent unregistered(L"LINE=41");
  RunningComponent oneByOne(L"LINE=42", true);
  EXPECT_EQ(unregistered->SetMode(L"TransferMode", 1), E_FAIL);
  EXPECT_EQ(unregistered->SetMode(L"Exclusive", 0), E_FAIL);
  EXPECT_EQ(oneByOne->SetMode(L"TransferMode", 1), S_OK);
  oneByOne.Start();
  EXPECT_EQ(oneByOne->SetMode(L"TransferMode", 1), S_OK);
  EXPECT_FALSE(Dispatch::IsParallelAvailable(oneByOne.Key()));
}

class ServiceInformationTest : public ::testing::Test {
 protected:
  ServiceInformationTest() {
    m_service.DescribeService(L"100", L"services.so", L"Reader", L"Base");
    m_service.attributes[L"SupportVersion"] = L"1.2.3";
  }

  // A component whose configured services are m_service, in the set the configuration text chooses.
  std::unique_ptr<RunningComponent> Start(const std::wstring& configurationText, const wchar_t* setName) {
    auto device = std::make_unique<RunningComponent>(configurationText);
    device->host.config.nodeLists[ServiceSet(setName)] = &device->host.services;
    device->host.services.nodes = {&m_service};
    device->Start();
    return device;
  }
  static std::wstring ServiceSet(const wchar_t* setName) {
    return std::wstring(L"%Network%/Services/Services[@Name='") + setName + L"']/Service";
  }

  // Declared before the components, which read them.
  FakeConfigNode m_service;
  FakeConfigNode m_attributes;
};

// "TRUE" alone forbids; no attribute, or runtime information that cannot be read (the attribute is not read then),
// does not.
TEST_F(ServiceInformationTest, AttributeIsReadAtTheServicePathOfTheLocation) {
  const std::tuple<const wchar_t*, HRESULT, LONG> rows[] = {
      {L"TRUE", S_OK, 1}, {L"true", S_OK, 0}, {L"", S_OK, 0}, {nullptr, S_OK, 0}, {L"TRUE", E_FAIL, 0}};
  for (const auto& [configurationText, setName] :
       {std::pair{L"LINE=51", L"Local"}, std::pair{L"LINE=52; DEV=gateway", L"Remote"},
        std::pair{L"LINE=53; GDEV=gw2", L"Remote"}, std::pair{L"LINE=54; DEV=", L"Local"}}) {
    auto device = Start(configurationText, setName);
    SetRuntimeVersion(*device, 1, 2, 4);
    const std::wstring path = ServiceSet(setName) + L"[@CommandNo='100' and @SupportVersion='1.2.3']";
    device->host.config.nodes[path] = &m_attributes;
    for (const auto& [value, runtimeInformation, forbidden] : rows) {
      SCOPED_TRACE(::testing::PrintToString(std::wstring(setName) + L": " + (value ? value : L"no attribute")) +
                   (FAILED(runtimeInformation) ? ", runtime information unreadable" : ""));
      m_attributes.attributes.clear();
      if (value != nullptr) m_attributes.attributes[L"ForbiddenOnLocked"] = value;
      device->host.config.getConfigurationResult = runtimeInformation;
      const std::size_t readsBefore = device->host.config.selectedPaths.size();
      TARVO_ServiceInformation information{7, 7};
      EXPECT_EQ((*device)->GetServiceInformation(L"100", &information), S_OK);
      EXPECT_EQ(information.supported, 1);
      EXPECT_EQ(information.forbiddenOnLocked, forbidden);
      EXPECT_EQ(device->host.config.selectedPaths.size(), readsBefore + (SUCCEEDED(runtimeInformation) ? 1 : 0));
      EXPECT_EQ(device->host.config.selectedPaths.back(), path);
    }
    device->host.config.getConfigurationResult = S_OK;
  }
}

// A one-by-one component cannot join a parallel target: the change stands and the runtime version is kept.
TEST(RuntimeInformationTest, FailedReRegistrationReturnsTheChangeAndKeepsTheVersion) {
  RunningComponent parallel(L"LINE=64");
  RunningComponent moving(L"LINE=63", true);
  parallel.Start();
  moving.Start();
  SetRuntimeVersion(moving, 1, 2, 2);

  EXPECT_EQ(moving->ChangeRuntimeInformation(L"LINE=64"), S_OK);
  EXPECT_EQ(moving.RuntimeVersion(), PackVersion(1, 2, 2));
  EXPECT_EQ(moving.host.config.configuration[L""], L"LINE=64");
  EXPECT_EQ(moving.Key(), -1) << "it left its old target and joined none";
}

// Same target: the key stays, the text is stored, the runtime version goes back to 0. Other rows fail one host step.
TEST(RuntimeInformationTest, SameTargetAndEachFailingHostStep) {
  constexpr HRESULT kFailure = static_cast<HRESULT>(0x80070015u);
  struct Row {
    const char* name;
    void (*fail)(componenttest::Host&);
    HRESULT result;
    bool stored;        // the device configuration has the new text
    bool reset;         // the runtime version went back to 0
  };
  const Row rows[] = {
      {"same target", [](componenttest::Host&) {}, S_OK, true, true},
      {"no runtime-information interface",
       [](componenttest::Host& host) { host.protocol.Withdraw(IID_ITARVO_RuntimeInformation); }, E_NOINTERFACE,
       false, false},
      {"protocol layer says invalid", [](componenttest::Host& host) { host.protocol.runtimeValid = 0; },
       E_INVALIDARG, false, false},
      {"configuration unreadable", [](componenttest::Host& host) { host.config.getConfigurationResult = kFailure; },
       kFailure, false, false},
      {"configuration refuses", [](componenttest::Host& host) { host.config.setConfigurationResult = kFailure; },
       kFailure, false, false},
      {"protocol layer refuses", [](componenttest::Host& host) { host.protocol.changeRuntimeResult = kFailure; },
       kFailure, true, false},
      {"reading back fails", [](componenttest::Host& host) { host.protocol.getRuntimeResult = kFailure; }, kFailure,
       true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RunningComponent device(L"LINE=65; PLC=A");
    device.host.config.sameTarget = [](const std::wstring& mine, const std::wstring& other) {  // the same line
      return mine.substr(0, mine.find(L';')) == other.substr(0, other.find(L';'));
    };
    device.Start();
    SetRuntimeVersion(device, 1, 2, 2);
    row.fail(device.host);
    const LONG key = device.Key();

    EXPECT_EQ(device->ChangeRuntimeInformation(L"LINE=65; PLC=B"), row.result);
    device.host.config.getConfigurationResult = S_OK;
    EXPECT_EQ(device.host.config.configuration[L""], row.stored ? L"LINE=65; PLC=B" : L"LINE=65; PLC=A");
    EXPECT_EQ(device.RuntimeVersion(), row.reset ? 0u : PackVersion(1, 2, 2));
    EXPECT_EQ(device.Key(), key);
  }
}

}  // namespace
