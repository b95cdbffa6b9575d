// Why a service could not be made reaches the host: each kind of plug-in or
// configuration mistake gives its own reason through BaseCommsGetLastLoadError
// and on the trace's FAIL: Reason line, and running out of memory is never
// reported as an unknown command. The loader's own reasons (no class, ABI,
// entry point, super-class) are checked by its tests; one of them (a missing
// module) shows here that they reach the host.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BaseComms/LoadErrors.h"
#include "BaseComms/ParallelCommunication.h"
#include "BaseComms/ComponentTestSupport.h"
#include "Interfaces/QtmResults.h"
#include "Platform/ComResults.h"

namespace {

#define LOAD_WIDEN_(text) L##text
#define LOAD_WIDEN(text) LOAD_WIDEN_(text)

class LoadErrorTest : public ::testing::Test {
 protected:
  LoadErrorTest() {
    m_host.AddService(L"21", L"/nonexistent/MissingServices.so", L"ReadService");
    m_host.AddService(L"26", LOAD_WIDEN(FAILING_FACTORY_PATH), L"ThrowsOther");
    m_host.AddService(L"27", LOAD_WIDEN(SAMPLE_SERVICES_PATH), L"ReadService").attributes[L"SupportVersion"] = L"9.0.0";
    m_host.AddService(L"28", LOAD_WIDEN(SAMPLE_SERVICES_PATH), L"ReadService");
  }
  void SetUp() override { ASSERT_EQ(m_component->Initialise(&m_host.info, &m_host.sink, &m_host.protocol), S_OK); }
  void TearDown() override { m_component->UnInitialise(); }

  componenttest::Host m_host;
  std::unique_ptr<ParallelCommunication> m_component{ParallelCommunication::CreateInstance()};
};

TEST_F(LoadErrorTest, EachKindOfFailureGivesItsOwnReason) {
  struct Case {
    const wchar_t* key;
    HRESULT dataResult;
    std::vector<std::string> reasonParts;
  };
  const Case cases[] = {
      {L"300", S_OK, {"no service is configured for command 300"}},
      {L"21", S_OK, {"command 21", "\"ReadService\"", "cannot load", "MissingServices.so", "No such file"}},
      {L"26", S_OK, {"factory of class \"ThrowsOther\"", "constructor failed"}},
      {L"27", S_OK, {"no configured version serves runtime version 0.0.0 (configured: 9.0.0)"}},
      {L"28", E_FAIL, {"\"ReadService\"", "refused the device message"}},
  };
  for (const Case& c : cases) {
    componenttest::TraceCapture trace;
    doubles::FakeDeviceMessage message(c.key);
    message.dataResult = c.dataResult;
    LONG code = 0;
    EXPECT_EQ(m_component->RequestMessageService(&message, &code), E_NOTIMPL);
    EXPECT_EQ(code, QTM_RESULT_INVALID_COMMAND);
    const std::string reason = BaseCommsLastLoadError(m_component.get());
    for (const std::string& part : c.reasonParts) {
      EXPECT_NE(reason.find(part), std::string::npos) << "reason \"" << reason << "\" lacks \"" << part << "\"";
    }
    EXPECT_EQ(BaseCommsLastLoadError(nullptr), reason);
    EXPECT_TRUE(trace.Contains("FAIL: Reason(" + reason.substr(0, 40)));
    EXPECT_TRUE(trace.Contains("ReturnName(E_NOTIMPL), Code(C0048809), Name(QTM_ERROR QTM_C_MANAGER "
                               "QTM_E_INVALID_COMMAND)"));
  }
  // A batch is refused as a whole when one of its messages has no service.
  componenttest::TraceCapture trace;
  doubles::FakeDeviceMessage unknown(L"300");
  doubles::FakeDeviceMessageAccessor batch;
  batch.messages = {&unknown, &unknown};
  EXPECT_EQ(m_component->RequestMultiMessageServices(&batch, nullptr), E_NOTIMPL);
  EXPECT_TRUE(trace.Contains("Refused: Reason(Batch), Component("));
  EXPECT_TRUE(trace.Contains("Count(2), Return(80004001), ReturnName(E_NOTIMPL), Code(C0048809)"));
}

TEST_F(LoadErrorTest, OutOfMemoryIsNoLoadErrorAndStaysWithItsComponent) {
  doubles::FakeDeviceMessage unknown(L"300");
  LONG code = 0;
  ASSERT_EQ(m_component->RequestMessageService(&unknown, &code), E_NOTIMPL);
  const std::string before = BaseCommsLastLoadError(m_component.get());

  doubles::FakeDeviceMessage keyless(L"21");
  keyless.keyResult = E_OUTOFMEMORY;
  code = 0;
  EXPECT_EQ(m_component->RequestMessageService(&keyless, &code), E_OUTOFMEMORY);
  EXPECT_NE(code, QTM_RESULT_INVALID_COMMAND);
  EXPECT_EQ(BaseCommsLastLoadError(m_component.get()), before);

  {  // Another component's failure is the process's last, not this one's.
    doubles::FakeDeviceMessage elsewhere(L"301");
    componenttest::RunningComponent other;
    other.Start();
    other->RequestMessageService(&elsewhere, &code);
    EXPECT_NE(BaseCommsLastLoadError(nullptr).find("command 301"), std::string::npos);
    EXPECT_EQ(BaseCommsLastLoadError(m_component.get()), before);
  }

  char small[8];
  EXPECT_EQ(BaseCommsGetLastLoadError(m_component.get(), small, sizeof small), before.size());
  EXPECT_EQ(std::string(small), before.substr(0, 7));
}

// A failed Initialise says why, after its FAIL line, as the component's load error.
TEST(InitialiseFailureTest, EachKindOfHostMistakeGivesItsReason) {
  struct Case {
    const char* mistake;
    std::function<void(componenttest::Host&)> make;
    std::string reason;
  };
  const Case cases[] = {
      {"attribute missing",
       [](componenttest::Host& host) { host.AddService(L"5", L"x.so", L"Read").attributes.erase(L"DllPath"); },
       "the service table cannot be read: node 1 of 1 of \"%Network%/Services/Services[@Name='Local']/Service\": "
       "the attribute \"DllPath\" is missing"},
      {"no device configuration", [](componenttest::Host& host) { host.info.getUnknownResult = E_FAIL; },
       "the device information offers no device configuration (GetUnknown)"},
      {"sink of another kind", [](componenttest::Host& host) { host.sink.Withdraw(IID_ITARVO_DeviceResultCallback); },
       "the result sink offers no ITARVO_DeviceResultCallback"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mistake);
    componenttest::RunningComponent component;
    c.make(component.host);
    componenttest::TraceCapture trace;
    EXPECT_TRUE(FAILED(component->Initialise(&component.host.info, &component.host.sink, &component.host.protocol)));
    EXPECT_EQ(BaseCommsLastLoadError(component.component.get()), c.reason);
    EXPECT_TRUE(trace.Contains("FAIL: Reason(" + c.reason + ")"));
  }
}

}  // namespace
