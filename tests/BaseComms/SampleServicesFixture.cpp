#include "SampleServicesFixture.h"

#include <dlfcn.h>

#include "Support/ParallelCommunicationTestAccess.h"

namespace sampletest {

namespace {

#define SAMPLE_WIDEN_(text) L##text
#define SAMPLE_WIDEN(text) SAMPLE_WIDEN_(text)

// A function of the sample module, looked up without loading it.
template <typename Function>
Function* ModuleFunction(const char* name) {
  void* module = dlopen(SAMPLE_SERVICES_PATH, RTLD_NOW | RTLD_NOLOAD);
  if (module == nullptr) return nullptr;
  auto* function = reinterpret_cast<Function*>(dlsym(module, name));
  dlclose(module);  // drops only the reference taken here; modules stay loaded
  return function;
}

}  // namespace

SampleServicesTest::SampleServicesTest() {
  const std::pair<const wchar_t*, const wchar_t*> services[] = {{L"5", L"ReadService"},
                                                                {L"6", L"BlockReadService"},
                                                                {L"7", L"StatusService"},
                                                                {L"8", L"DelayedReadService"},
                                                                {L"9", L"ConcatenatingReadService"}};
  for (const auto& [commandNo, className] : services) {
    auto node = std::make_unique<doubles::FakeConfigNode>();
    node->attributes = {{L"CommandNo", commandNo},
                        {L"DllPath", SAMPLE_WIDEN(SAMPLE_SERVICES_PATH)},
                        {L"ClassName", className},
                        {L"SuperClassName", L""}};
    m_host.services.nodes.push_back(node.get());
    m_serviceNodes.push_back(std::move(node));
  }
}

void SampleServicesTest::SetUp() {
  ASSERT_EQ(m_component->Initialise(&m_host.info, &m_host.sink, &m_host.protocol), S_OK);
}

void SampleServicesTest::TearDown() {
  m_component->UnInitialise();
  m_component.reset();
  m_host.sink.Clear();
  m_host.protocol.ClearSent();
  EXPECT_EQ(doubles::FakeDeviceResult::LiveCount(), m_resultsBefore) << "a device result leaked";
  EXPECT_EQ(LiveServices(), 0) << "a service leaked";
}

HRESULT SampleServicesTest::Request(ITARVO_DeviceMessage* message, LONG* pResult) {
  LONG unused = 0;
  return m_component->RequestMessageService(message, pResult != nullptr ? pResult : &unused);
}

ITARVO_ProtocolMessage* SampleServicesTest::WaitSent(std::size_t count) {
  if (!componenttest::WaitUntil([&] { return m_host.protocol.Sent().size() >= count; })) return nullptr;
  const auto sent = m_host.protocol.Sent();
  return sent.size() == count ? sent.back() : nullptr;
}

HRESULT SampleServicesTest::Answer(ITARVO_ProtocolMessage* message, const std::vector<BYTE>& bytes) {
  return SetAnswer(message, bytes) ? m_component->Receive(message) : E_UNEXPECTED;
}

bool SampleServicesTest::SetAnswer(ITARVO_ProtocolMessage* message, const std::vector<BYTE>& bytes) {
  auto* answer = ModuleFunction<bool(ITARVO_ProtocolMessage*, const BYTE*, ULONG)>("SampleServicesAnswer");
  EXPECT_NE(answer, nullptr);
  return answer != nullptr && answer(message, bytes.data(), static_cast<ULONG>(bytes.size()));
}

std::vector<doubles::FakeDeviceResult*> SampleServicesTest::Received() {
  std::vector<doubles::FakeDeviceResult*> received;
  for (ITARVO_DeviceResult* result : m_host.sink.Results()) {
    received.push_back(static_cast<doubles::FakeDeviceResult*>(result));
  }
  return received;
}

bool SampleServicesTest::IsRegistered(ITARVO_DeviceMessage* message) {
  return ParallelCommunicationTestAccess::IsRegistered(*m_component, message);
}

long SampleServicesTest::LiveServices() {
  auto* count = ModuleFunction<long()>("SampleServicesLiveInstances");
  return count != nullptr ? count() : 0;  // not loaded yet: nothing alive
}

}  // namespace sampletest
