// The service generator against XML service configurations and the real sample plug-in module.
#include "BaseComms/ServiceGenerator.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <typeinfo>

#include "BaseComms/MessageServiceClassLoader.h"
#include "BaseComms/PackedVersion.h"
#include "Config/ComRef.h"
#include "Interfaces/ConfigTree.h"
#include "Platform/Com.h"
#include "Platform/MessageBox.h"
#include "ComponentTestSupport.h"
#include "TARVO_SupportLib/NewHandler.h"
#include "TARVO_SupportLib/TVO_Error.h"
#include "XmlConfig/ConfigDocument.h"
#include "XmlConfig/XmlDeviceConfig.h"

namespace {

using doubles::FakeDeviceMessage;

constexpr DWORD V(int major, int minor, int build) { return PackVersion(major, minor, build); }

int g_messageBoxes = 0;
std::string g_lastMessageBox;

// The sample module's count of live services.
long LiveServices() {
  auto* count = componenttest::LoadedModuleFunction<long()>(SAMPLE_SERVICES_PATH, "SampleServicesLiveInstances");
  return count != nullptr ? count() : 0;  // not loaded yet: nothing alive
}

// <Service> element for the sample module (or another one). The sample classes
// declare super-classes: the empty SuperClassName these elements carry by
// default works only because the generator asks for none then.
std::string Service(const std::string& commandNo, const std::string& className, const std::string& version = "",
                    const std::string& superClass = "", const std::string& module = SAMPLE_SERVICES_PATH) {
  std::string element = "<Service CommandNo='" + commandNo + "' DllPath='" + module + "' ClassName='" +
                        className + "' SuperClassName='" + superClass + "'";
  if (!version.empty()) element += " SupportVersion='" + version + "'";
  return element + "/>";
}

// Host configuration with the "Local" service set; the device configuration of a local controller "L". Checks that
// no task memory leaked.
class ServiceGeneratorTest : public testing::Test {
 protected:
  void SetUp() override {
    g_messageBoxes = 0;
    SetMessageBoxHandler([](HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
      ++g_messageBoxes;
      g_lastMessageBox = std::string(caption) + "|" + text + "|" + std::to_string(type) + (owner ? "|owner" : "");
      return IDOK;
    });
    m_blocksBefore = CoTaskMemBlocksInUse();
  }
  void TearDown() override {
    m_local.Reset();
    m_document.reset();
    SetMessageBoxHandler(nullptr);
    EXPECT_EQ(CoTaskMemBlocksInUse(), m_blocksBefore) << "task memory leaked";
  }

  bool Load(const std::string& localServices) {
    const std::string xml =
        "<HostConfiguration><Lines><Line Name='S'/></Lines><Networks><Network Name='N'><Services>"
        "<Services Name='Local'>" + localServices + "</Services>"
        "</Services></Network></Networks><Controllers>"
        "<Controller Name='L' Network='N' Line='S' Address='1'/>"
        "</Controllers></HostConfiguration>";
    std::string error;
    m_document = hostconfig::ConfigDocument::LoadText(xml, error);
    EXPECT_TRUE(m_document) << error;
    if (!m_document) return false;
    EXPECT_EQ(hostconfig::XmlDeviceConfig::Create(m_document, "L", m_local.Put()), S_OK);
    return m_local.Get() != nullptr;
  }
  ITARVO_DeviceConfig* Local() { return m_local.Get(); }

  // The class name of the service generated for `key`, or "null".
  static std::string Generate(const ServiceGenerator& generator, const wchar_t* key, DWORD runtime,
                              ITARVO_DeviceConfig* config) {
    FakeDeviceMessage message(key, {1, 2, 3});
    std::unique_ptr<IMessageService> service(generator.GenerateService(&message, runtime, config));
    if (!service) return "null";
    const IMessageService& created = *service;
    std::string name = typeid(created).name();
    for (const char* cls : {"ReadService", "WriteService", "StatusService", "RejectingService"}) {
      if (name.find(cls) != std::string::npos) return cls;
    }
    return name;
  }
  // The support version chosen for `commandNo`, or ~0 when none.
  static DWORD Chosen(const ServiceGenerator& generator, const wchar_t* commandNo, DWORD runtime) {
    DWORD version = 0xDEADBEEF;
    return generator.GetSupportVersion(&version, commandNo, runtime, nullptr) ? version : ~0u;
  }
  // The result code the constructor throws, or S_OK; its reason in `reason`.
  static HRESULT ConstructionResult(ITARVO_DeviceConfig* config, std::string* reason = nullptr) {
    try {
      ServiceGenerator generator(config, reason);
      return S_OK;
    } catch (const TVO_RuntimeError& error) {
      return error.GetErrorCode();
    }
  }

 private:
  std::shared_ptr<const hostconfig::ConfigDocument> m_document;
  ComRef<ITARVO_DeviceConfig> m_local;
  LONG m_blocksBefore = 0;
};

TEST_F(ServiceGeneratorTest, ChoosesTheHighestVersionNotAboveTheRuntimeVersion) {
  ASSERT_TRUE(Load(Service("5", "ReadService", "1.0.0") + Service("5", "StatusService", "2.0.0")));
  ServiceGenerator generator(Local());
  EXPECT_EQ(Chosen(generator, L"5", V(1, 5, 0)), V(1, 0, 0));
  EXPECT_EQ(Chosen(generator, L"5", V(2, 0, 0)), V(2, 0, 0));
  EXPECT_EQ(Chosen(generator, L"5", V(9, 9, 9)), V(2, 0, 0));
  EXPECT_EQ(Chosen(generator, L"5", V(0, 9, 0)), ~0u);
  EXPECT_EQ(Chosen(generator, L"5", 0), ~0u);
  EXPECT_EQ(Generate(generator, L"5", V(1, 5, 0), Local()), "ReadService");
  EXPECT_EQ(Generate(generator, L"5", V(2, 0, 0), Local()), "StatusService");
  EXPECT_EQ(Generate(generator, L"5", V(0, 9, 0), Local()), "null");
  EXPECT_EQ(Generate(generator, L"6", V(2, 0, 0), Local()), "null");  // nothing configured

  // An unversioned class serves what no version fits.
  ASSERT_TRUE(Load(Service("5", "ReadService", "1.0.0") + Service("5", "StatusService", "2.0.0") +
                   Service("5", "WriteService")));
  ServiceGenerator withDefault(Local());
  EXPECT_EQ(Chosen(withDefault, L"5", V(0, 9, 0)), 0u);
  EXPECT_EQ(Generate(withDefault, L"5", V(0, 9, 0), Local()), "WriteService");
  EXPECT_EQ(Generate(withDefault, L"5", 0, Local()), "WriteService");  // runtime version not yet set
  EXPECT_EQ(Generate(withDefault, L"5", V(1, 5, 0), Local()), "ReadService");
}

TEST_F(ServiceGeneratorTest, AMissingRequiredAttributeFailsTheConstruction) {
  for (const char* attribute : {"CommandNo", "DllPath", "ClassName", "SuperClassName"}) {
    std::string broken = Service("6", "ReadService");
    const std::size_t at = broken.find(std::string(" ") + attribute + "=");
    broken.erase(at, broken.find('\'', broken.find('\'', at) + 1) + 1 - at);
    ASSERT_TRUE(Load(Service("5", "ReadService") + broken));
    std::string reason;
    EXPECT_EQ(ConstructionResult(Local(), &reason), E_FAIL) << attribute;
    EXPECT_EQ(reason, "the service table cannot be read: node 2 of 2 of "
                      "\"%Network%/Services/Services[@Name='Local']/Service\": the attribute \"" +
                          std::string(attribute) + "\" is missing");
  }
  EXPECT_EQ(g_messageBoxes, 0);
}

TEST_F(ServiceGeneratorTest, ADuplicateVersionShowsOneMessageBoxAndFails) {
  ASSERT_TRUE(Load(Service("5", "ReadService", "1.0.0") + Service("6", "ReadService", "1.0.0") +
                   Service("5", "StatusService", "1.0") + Service("5", "WriteService", "1.0.0")));
  std::string reason;
  EXPECT_EQ(ConstructionResult(Local(), &reason), E_FAIL);
  EXPECT_NE(reason.find("node 3 of 4 of "), std::string::npos) << reason;
  EXPECT_NE(reason.find("command 5 has two services of version \"1.0\""), std::string::npos) << reason;
  EXPECT_EQ(g_messageBoxes, 1);  // reading stops at the first duplicate
  EXPECT_EQ(g_lastMessageBox, "ServiceLoader|Error: Versions of Service are duplicated.|0");
}

// A failing fetch skips its node but fails the construction when it is the
// last; a host failure fails it with the host's code.
TEST_F(ServiceGeneratorTest, HostFailuresSkipTheNodeOrFailTheConstructionWithTheirCode) {
  componenttest::Host host(L"LINE=S;ADDR=1");
  host.AddService(L"5", L"" SAMPLE_SERVICES_PATH, L"ReadService");
  host.AddService(L"6", L"" SAMPLE_SERVICES_PATH, L"StatusService");
  doubles::FakeDeviceConfig& config = host.config;
  doubles::FakeConfigNodeList& services = host.services;

  services.failingFetch = 0;
  {
    ServiceGenerator generator(&config);
    EXPECT_EQ(Generate(generator, L"5", 0, &config), "null");
    EXPECT_EQ(Generate(generator, L"6", 0, &config), "StatusService");
  }
  std::string reason;
  services.failingFetch = 1;
  EXPECT_EQ(ConstructionResult(&config, &reason), E_UNEXPECTED);
  EXPECT_NE(reason.find("fetching node 2 of 2 of"), std::string::npos) << reason;
  services.failingFetch = -1;
  config.getConfigurationResult = E_ACCESSDENIED;
  EXPECT_EQ(ConstructionResult(&config, &reason), E_ACCESSDENIED);
  EXPECT_NE(reason.find("(GetConfiguration) failed with E_ACCESSDENIED (0x80070005)"), std::string::npos) << reason;
  config.getConfigurationResult = S_OK;
  config.Withdraw(IID_ITARVO_ConfigQuery);
  EXPECT_EQ(ConstructionResult(&config, &reason), E_NOINTERFACE);
  EXPECT_NE(reason.find("ITARVO_ConfigQuery"), std::string::npos) << reason;
  EXPECT_EQ(ConstructionResult(nullptr), E_POINTER);
}

// A service that refuses its message is destroyed and null returned. A sample service also frees the buffer of a
// failed GetData (TearDown counts it) and keeps no reference (its allocation failures are the allocation sweep's).
TEST_F(ServiceGeneratorTest, ARefusingServiceIsDestroyedAndNullReturned) {
  ASSERT_TRUE(Load(Service("5", "RejectingService") + Service("6", "ReadService") + Service("7", "WriteService")));
  ServiceGenerator generator(Local());
  const long liveBefore = LiveServices();
  EXPECT_EQ(Generate(generator, L"5", 0, Local()), "null");
  FakeDeviceMessage noData(L"7");
  EXPECT_EQ(generator.GenerateService(&noData, 0, Local()), nullptr);  // WriteService needs data
  FakeDeviceMessage unreadableData(L"6", {1, 2, 3});
  unreadableData.dataResult = E_FAIL;
  unreadableData.dataDespiteFailure = true;
  EXPECT_EQ(generator.GenerateService(&unreadableData, 0, Local()), nullptr);
  EXPECT_EQ(unreadableData.RefCount(), 0);
  EXPECT_EQ(LiveServices(), liveBefore);
  FakeDeviceMessage unreadable(L"7", {1, 2, 3});
  unreadable.keyResult = E_FAIL;
  EXPECT_EQ(generator.GenerateService(&unreadable, 0, Local()), nullptr);
  EXPECT_EQ(generator.GenerateService(nullptr, 0, Local()), nullptr);
}

// Out of memory while a plug-in's factory constructs: TVO_MemoryAllocError (what a request reports as E_OUTOFMEMORY),
// never the null of a class that cannot be created.
TEST_F(ServiceGeneratorTest, RunningOutOfMemoryInAFactoryIsNoMissingClass) {
  ASSERT_TRUE(Load(Service("5", "ThrowsBadAlloc", "", "", FAILING_FACTORY_PATH) +
                   Service("6", "ExhaustsMemory", "", "", FAILING_FACTORY_PATH) +
                   Service("7", "ThrowsOther", "", "", FAILING_FACTORY_PATH)));
  ServiceGenerator generator(Local());
  FakeDeviceMessage badAlloc(L"5"), exhausted(L"6"), other(L"7");
  const TVO_NewHandlerScope bracket;  // as a request runs
  EXPECT_THROW(generator.GenerateService(&badAlloc, 0, Local()), TVO_MemoryAllocError);
  EXPECT_THROW(generator.GenerateService(&exhausted, 0, Local()), TVO_MemoryAllocError);
  EXPECT_EQ(generator.GenerateService(&other, 0, Local()), nullptr);
  EXPECT_NE(MessageServiceClassLoader::Instance().GetLastErrorText().find("constructor failed"), std::string::npos);
}

TEST(PackedVersionTest, ParsesLikeSwscanfAndKeepsTheLowEightBits) {
  // Blanks before a number are skipped, but not before a dot.
  const std::pair<const wchar_t*, DWORD> rows[] = {
      {L"1.2.3", 0x010203u},  {L"1.2", 0x010200u},    {L"1.256.3", 0x010003u}, {L" 1. 2. 3", 0x010203u},
      {L"1 .2.3", 0x010000u}, {L"-1.0.0", 0xFF0000u}, {L"1.x.3", 0x010000u},   {L"", 0u},
      {nullptr, 0u}};
  for (const auto& [text, packed] : rows) EXPECT_EQ(ParsePackedVersion(text), packed) << (text ? text : L"null");
  EXPECT_EQ(FormatPackedVersion(0x010203u), L"1.2.3");
  EXPECT_EQ(FormatPackedVersion(0xFFFFFFFFu), L"255.255.255");
  EXPECT_LT(ParsePackedVersion(L"1.255.255"), ParsePackedVersion(L"2.0.0"));
}

}  // namespace
