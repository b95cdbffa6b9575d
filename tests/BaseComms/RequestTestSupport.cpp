#include "RequestTestSupport.h"

#include <deque>
#include <mutex>

#include "Platform/Com.h"
#include "Support/ParallelCommunicationTestAccess.h"

namespace {

std::mutex g_preparedLock;
std::deque<IMessageService*> g_prepared;  // guarded by g_preparedLock

}  // namespace

// Called by the ScriptedServices module's factory.
extern "C" __attribute__((visibility("default"))) IMessageService* RequestTestTakeScriptedService() {
  std::lock_guard<std::mutex> guard(g_preparedLock);
  if (g_prepared.empty()) return nullptr;
  IMessageService* service = g_prepared.front();
  g_prepared.pop_front();
  return service;
}

namespace requesttest {

RequestTest::RequestTest() {
  m_readNode.attributes = {{L"CommandNo", L"100"},
                           {L"DllPath", L"" SAMPLE_SERVICES_PATH},
                           {L"ClassName", L"ReadService"},
                           {L"SuperClassName", L"OneStepService"}};
  m_scriptedNode.attributes = {{L"CommandNo", L"200"},
                               {L"DllPath", L"" SCRIPTED_SERVICES_PATH},
                               {L"ClassName", L"ScriptedService"},
                               {L"SuperClassName", L""}};
  m_host.services.nodes = {&m_readNode, &m_scriptedNode};
}

void RequestTest::SetUp() {
  ASSERT_EQ(m_component->Initialise(&m_host.info, &m_host.sink, &m_host.protocol), S_OK);
}

void RequestTest::TearDown() {
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
  EXPECT_EQ(doubles::FakeMessageService::LiveCount(), m_servicesBefore) << "a service leaked";
}

doubles::FakeMessageService* RequestTest::Prepare(doubles::FakeMessageService* service) {
  std::lock_guard<std::mutex> guard(g_preparedLock);
  g_prepared.push_back(service);
  return service;
}

doubles::FakeMessageService* RequestTest::PrepareOneStep(ITARVO_ProtocolMessage* message) {
  auto* service = new doubles::FakeMessageService();
  service->steps.push_back({message, false, true});
  return Prepare(service);
}

ITARVO_DeviceResult* MakeResult(ITARVO_DeviceMessage* message, LONG errorCode) {
  ITARVO_DeviceResult* result = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_TARVO_DeviceResult, nullptr, CLSCTX_INPROC_SERVER, IID_ITARVO_DeviceResult,
                             reinterpret_cast<void**>(&result)),
            S_OK);
  if (result != nullptr) result->SetResult(message, errorCode, 1, 0, nullptr);
  return result;
}

void RequestTest::ExpectRefused(doubles::FakeMessageService* service, doubles::FakeDeviceMessage& message,
                                LONG deviceResult) {
  const auto probe = Prepare(service)->Probe();
  LONG result = 0;
  EXPECT_EQ(m_component->RequestMessageService(&message, &result), E_FAIL);
  EXPECT_EQ(result, deviceResult);
  EXPECT_EQ(probe->deletions.load(), 1);
  EXPECT_EQ(RegistrySize(), 0u);
  EXPECT_EQ(message.RefCount(), 0);
}

std::vector<ITARVO_DeviceMessage*> RequestTest::DeliveredMessages() {
  std::vector<ITARVO_DeviceMessage*> messages;
  for (ITARVO_DeviceResult* result : m_host.sink.Results()) {
    ITARVO_DeviceMessage* message = nullptr;
    if (SUCCEEDED(result->GetDeviceMessage(&message)) && message != nullptr) message->Release();
    messages.push_back(message);
  }
  return messages;
}

std::size_t RequestTest::RegistrySize() { return ParallelCommunicationTestAccess::RegistrySize(*m_component); }

}  // namespace requesttest
