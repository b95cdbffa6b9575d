#include "SampleServicesFixture.h"

#include <deque>
#include <mutex>
#include <tuple>

#include "Platform/Com.h"
#include "Support/DispatchTestAccess.h"

namespace {

std::mutex g_preparedLock;
std::deque<IMessageService*> g_prepared;  // guarded by g_preparedLock

#define SAMPLE_WIDEN_(text) L##text
#define SAMPLE_WIDEN(text) SAMPLE_WIDEN_(text)

}  // namespace

// Called by the ScriptedServices module's factory.
extern "C" __attribute__((visibility("default"))) IMessageService* RequestTestTakeScriptedService() {
  std::lock_guard<std::mutex> guard(g_preparedLock);
  if (g_prepared.empty()) return nullptr;
  IMessageService* service = g_prepared.front();
  g_prepared.pop_front();
  return service;
}

namespace sampletest {

SampleServicesTest::SampleServicesTest() {
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*> services[] = {
      {L"5", SAMPLE_WIDEN(SAMPLE_SERVICES_PATH), L"ReadService"},
      {L"6", SAMPLE_WIDEN(SAMPLE_SERVICES_PATH), L"BlockReadService"},
      {L"7", SAMPLE_WIDEN(SAMPLE_SERVICES_PATH), L"StatusService"},
      {L"8", SAMPLE_WIDEN(SAMPLE_SERVICES_PATH), L"DelayedReadService"},
      {L"9", SAMPLE_WIDEN(SAMPLE_SERVICES_PATH), L"ConcatenatingReadService"},
#ifdef SCRIPTED_SERVICES_PATH
      {L"200", SAMPLE_WIDEN(SCRIPTED_SERVICES_PATH), L"ScriptedService"},
#endif
  };
  for (const auto& [commandNo, path, className] : services) m_host.AddService(commandNo, path, className);
}

void SampleServicesTest::TearDown() {
  m_component->UnInitialise();
  m_component.reset();
  m_host.sink.Clear();
  m_host.protocol.ClearSent();
  std::deque<IMessageService*> unused;
  {
    std::lock_guard<std::mutex> guard(g_preparedLock);
    unused.swap(g_prepared);
  }
  for (IMessageService* service : unused) delete service;
  EXPECT_EQ(doubles::FakeDeviceResult::LiveCount(), m_resultsBefore) << "a device result leaked";
  EXPECT_EQ(LiveServices(), 0) << "a service leaked";
  EXPECT_EQ(doubles::FakeMessageService::LiveCount(), m_servicesBefore) << "a fake service leaked";
}

bool SetAnswer(ITARVO_ProtocolMessage* message, const std::vector<BYTE>& bytes) {
  auto* answer = componenttest::LoadedModuleFunction<bool(ITARVO_ProtocolMessage*, const BYTE*, ULONG)>(
      SAMPLE_SERVICES_PATH, "SampleServicesAnswer");
  EXPECT_NE(answer, nullptr);
  return answer != nullptr && answer(message, bytes.data(), static_cast<ULONG>(bytes.size()));
}

doubles::FakeMessageService* SampleServicesTest::Prepare(doubles::FakeMessageService* service,
                                                         ITARVO_ProtocolMessage* firstStep) {
  if (firstStep != nullptr) service->steps.push_back({firstStep, false, true});
  std::lock_guard<std::mutex> guard(g_preparedLock);
  g_prepared.push_back(service);
  return service;
}

ITARVO_DeviceResult* MakeResult(ITARVO_DeviceMessage* message, LONG errorCode) {
  ITARVO_DeviceResult* result = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_TARVO_DeviceResult, nullptr, CLSCTX_INPROC_SERVER, IID_ITARVO_DeviceResult,
                             reinterpret_cast<void**>(&result)),
            S_OK);
  if (result != nullptr) result->SetResult(message, errorCode, 1, 0, nullptr);
  return result;
}

}  // namespace sampletest
