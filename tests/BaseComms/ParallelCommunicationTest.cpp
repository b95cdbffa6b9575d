// The component's lifecycle and send thread; the host doubles check their reference counts when destroyed.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <stdexcept>
#include <utility>

#include "ComponentTestSupport.h"
#include "SampleServicesFixture.h"
#include "Support/FakeMessageService.h"
#include "Support/DispatchTestAccess.h"

namespace {

using componenttest::Gate;
using componenttest::Host;
using componenttest::WaitUntil;
using namespace doubles;
using Access = DispatchTestAccess;

class ComponentTest : public ::testing::Test {
 protected:
  void TearDown() override {
    m_component->UnInitialise();
    m_component.reset();
    m_host.sink.Clear();
    m_host.protocol.ClearSent();
    EXPECT_EQ(FakeMessageService::LiveCount(), m_servicesBefore) << "a service leaked";
  }

  HRESULT Initialise() { return m_component->Initialise(&m_host.info, &m_host.sink, &m_host.protocol); }

  // Declared before the host: results the sink keeps refer to them.
  FakeDeviceMessage m_deviceMessage;
  FakeProtocolMessage m_messages[3];
  Host m_host;
  const int m_servicesBefore = FakeMessageService::LiveCount();
  std::unique_ptr<ParallelCommunication> m_component{ParallelCommunication::CreateInstance()};
};

// A failed Initialise gives back what it took; the host may UnInitialise (twice) or destroy the object afterwards.
TEST_F(ComponentTest, FailingInitialiseReturnsTheRowsCodeAndGivesEverythingBack) {
  struct Row {
    const char* name;
    std::function<void(Host&)> breakHost;
    HRESULT expected;
  };
  const Row rows[] = {
      {"device info", [](Host& h) { h.info.getUnknownResult = static_cast<HRESULT>(0x80070005u); },
       static_cast<HRESULT>(0x80070005u)},
      {"result sink", [](Host& h) { h.sink.Withdraw(IID_ITARVO_DeviceResultCallback); }, E_NOINTERFACE},
      {"services", [](Host& h) { h.config.nodeLists.clear(); }, E_FAIL},
      {"registration", [](Host& h) { h.config.getConfigurationResult = E_ACCESSDENIED; }, E_FAIL},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Host host;
    row.breakHost(host);
    std::unique_ptr<ParallelCommunication> component(ParallelCommunication::CreateInstance());
    EXPECT_EQ(component->Initialise(&host.info, &host.sink, &host.protocol), row.expected);
    EXPECT_FALSE(Access::HasSendThread(*component));
    EXPECT_FALSE(Access::HasTimeWatchThread(*component));
    EXPECT_EQ(Access::Key(*component), -1);
    EXPECT_EQ(Access::DeviceConfig(*component), nullptr);
    EXPECT_EQ(host.config.RefCount() + host.info.RefCount() + host.sink.RefCount() + host.protocol.RefCount(), 0);
    if (row.expected == E_FAIL) {
      EXPECT_FALSE(Access::HasServiceGenerator(*component));
      component.reset();
      continue;
    }
    EXPECT_EQ(component->UnInitialise(), S_OK);
    EXPECT_EQ(component->UnInitialise(), S_OK);
    EXPECT_TRUE(host.config.activations.empty()) << "never activated, so never deactivated";
  }
}

// GetUnknown lends the device configuration: the component's own reference is the only one while it runs.
// UnInitialise deletes the queued services and releases the registered messages; a retired service may list a
// cancelled message or one twice, and each loses exactly the registry's reference.
TEST_F(ComponentTest, InitialiseTakesOneReferenceEachAndUnInitialiseReleasesThemOnce) {
  ASSERT_EQ(Initialise(), S_OK);
  EXPECT_TRUE(Access::HasSendThread(*m_component));
  EXPECT_TRUE(Access::HasTimeWatchThread(*m_component));
  EXPECT_GE(Access::Key(*m_component), 0);
  EXPECT_EQ(m_host.config.RefCount(), 1) << "the borrowed device configuration must be AddRef'd";
  EXPECT_EQ(m_host.sink.RefCount(), 1);
  EXPECT_EQ(m_host.protocol.RefCount(), 1);
  EXPECT_EQ(m_host.info.RefCount(), 1);
  EXPECT_EQ(m_host.config.activations, std::vector<LONG>{1});

  FakeDeviceMessage retired, cancelled;
  Access::Register(*m_component, &retired);
  std::list<const ITARVO_DeviceMessage*> listed{&retired, &cancelled, &retired};
  Access::RetireMessages(*m_component, listed);
  EXPECT_EQ(retired.RefCount() + cancelled.RefCount(), 0);
  EXPECT_EQ(Access::RegistrySize(*m_component), 0u);

  auto* service = new FakeMessageService();
  const auto probe = service->Probe();
  Access::AddCommunicating(*m_component, service);
  Access::Register(*m_component, &m_deviceMessage, service);
  EXPECT_EQ(m_component->UnInitialise(), S_OK);
  EXPECT_EQ(probe->deletions, 1);
  EXPECT_EQ(m_deviceMessage.RefCount(), 0);
  EXPECT_EQ(Access::RegistrySize(*m_component), 0u);
  EXPECT_FALSE(Access::HasSendThread(*m_component));
  EXPECT_FALSE(Access::HasTimeWatchThread(*m_component));
  EXPECT_EQ(Access::DeviceConfig(*m_component), nullptr);
  EXPECT_EQ(m_host.config.RefCount() + m_host.info.RefCount(), 0);
  EXPECT_EQ(m_host.sink.RefCount() + m_host.protocol.RefCount(), 0);

  EXPECT_EQ(m_component->UnInitialise(), S_OK);
  EXPECT_EQ(m_host.config.activations, (std::vector<LONG>{1, 0}));
}

// A component configured with one sample read service (command 5), and a line that answers what it is sent.
class LifecycleTest : public ComponentTest {
 protected:
  void BreakServiceConfiguration() { m_read.attributes.erase(L"ClassName"); }
  void RepairServiceConfiguration() { m_read.attributes[L"ClassName"] = L"ReadService"; }

  // A request of command 5 goes out, is answered and delivers one result with code 0.
  void ExpectARequestIsSentAndAnswered() {
    FakeDeviceMessage request(L"5", {7});
    ASSERT_EQ(m_component->RequestMessageService(&request, nullptr), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return m_host.protocol.Sent().size() == 1; })) << "accepted but never sent";
    ITARVO_ProtocolMessage* const sent = m_host.protocol.Sent()[0];
    ASSERT_TRUE(sampletest::SetAnswer(sent, {0x42}));
    ASSERT_EQ(m_component->Receive(sent), S_OK);
    const auto results = componenttest::Received(m_host.sink);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0]->Code(), 0);
    m_host.sink.Clear();
    m_host.protocol.ClearSent();
    EXPECT_EQ(request.RefCount(), 0);
  }

  doubles::FakeConfigNode& m_read = m_host.AddService(L"5", L"" SAMPLE_SERVICES_PATH, L"ReadService");
};

// Initialise after a failed Initialise, and a failing Initialise after a whole life (whose generator it must not
// delete twice; its StopSendReceive and exclusive mode must not outlive it): each new life starts clean and works,
// with the parallel limit of the new life.
TEST_F(LifecycleTest, InitialiseAgainAfterAFailedOrAFinishedLife) {
  BreakServiceConfiguration();
  EXPECT_EQ(Initialise(), E_FAIL);
  RepairServiceConfiguration();
  ASSERT_EQ(Initialise(), S_OK);
  ExpectARequestIsSentAndAnswered();
  EXPECT_EQ(Initialise(), E_UNEXPECTED) << "initialised already";
  ASSERT_EQ(m_component->SetMode(L"Exclusive", 0), S_OK);
  ASSERT_EQ(m_component->StopSendReceive(), S_OK);

  ASSERT_EQ(m_component->UnInitialise(), S_OK);
  BreakServiceConfiguration();
  EXPECT_EQ(Initialise(), E_FAIL);
  EXPECT_FALSE(Access::HasServiceGenerator(*m_component));
  RepairServiceConfiguration();
  m_host.config.parallelLimit = 3;
  ASSERT_EQ(Initialise(), S_OK);
  EXPECT_FALSE(Access::IsStopped(*m_component));
  EXPECT_EQ(Access::ParallelLimit(*m_component), 3);
  LONG exclusive = -1;
  ASSERT_EQ(m_component->GetMode(L"Exclusive", &exclusive), S_OK);
  EXPECT_EQ(exclusive, EXCLUSIVE_MODE_NONE);
  EXPECT_EQ(Access::RuntimeVersion(*m_component), 0u);
  ExpectARequestIsSentAndAnswered();
  EXPECT_EQ(m_host.config.RefCount(), 1);
}

// An allocation failure inside a plug-in's factory is reported as out of memory, not as an unknown command.
TEST_F(LifecycleTest, OutOfMemoryInAServiceFactoryIsReportedAsSuch) {
  m_host.AddService(L"6", L"" FAILING_FACTORY_PATH, L"ExhaustsMemory");
  ASSERT_EQ(Initialise(), S_OK);
  FakeDeviceMessage request(L"6");
  LONG code = 0x1234;
  EXPECT_EQ(m_component->RequestMessageService(&request, &code), E_OUTOFMEMORY);
  EXPECT_EQ(code, 0x1234) << "left untouched, as for every error a request catches";
  EXPECT_EQ(Access::RegistrySize(*m_component), 0u);
  EXPECT_EQ(request.RefCount(), 0);
  ASSERT_EQ(m_component->UnInitialise(), S_OK);
}

// Initialise lets no exception out, whatever a host object throws, and gives back what it took.
TEST_F(ComponentTest, InitialiseTurnsEveryExceptionIntoItsCodeAndRollsBack) {
  // Registered first: the second component's registration asks it whether they share the target.
  componenttest::RunningComponent first;
  first.Start();
  const std::pair<std::function<void()>, HRESULT> rows[] = {
      {[] { throw std::bad_alloc(); }, E_OUTOFMEMORY},
      {[] { throw std::runtime_error("host failed"); }, E_FAIL},
  };
  for (const auto& [thrower, expected] : rows) {
    first.host.config.sameTarget = [thrower = thrower](const std::wstring&, const std::wstring&) -> bool {
      thrower();
      return true;
    };
    HRESULT hr = S_OK;
    EXPECT_NO_THROW(hr = Initialise());
    EXPECT_EQ(hr, expected);
    EXPECT_EQ(Access::Key(*m_component), -1);
    EXPECT_FALSE(Access::HasSendThread(*m_component));
    EXPECT_EQ(m_host.config.RefCount() + m_host.info.RefCount() + m_host.sink.RefCount(), 0);
  }
  first.host.config.sameTarget = nullptr;
  EXPECT_EQ(Initialise(), S_OK) << "and a later Initialise works";
}

class SendThreadTest : public ComponentTest {
 protected:
  void SetUp() override {
    Access::SetHostPointers(*m_component, m_host.Config(), &m_host.sink, &m_host.protocol);
    ASSERT_TRUE(Access::StartSendRoutine(*m_component));
  }
  void TearDown() override {
    Access::StopSendRoutine(*m_component);
    Access::ClearQueues(*m_component);
    Access::ClearRegistry(*m_component);
    Access::SetHostPointers(*m_component, nullptr, nullptr, nullptr);
    ComponentTest::TearDown();
  }

  void Queue(FakeProtocolMessage& message) {
    message.AddRef();  // the reference the send list takes over
    Access::RequestSendMessage(*m_component, &message);
  }
};

// Messages still queued when the thread stops are neither sent nor leaked.
TEST_F(SendThreadTest, MessagesLeftAtStopAreReleasedUnsent) {
  Gate inSend, release;
  std::atomic<int> sends{0};
  m_host.protocol.onSend = [&](ITARVO_ProtocolMessage*) {  // the first Send blocks until released
    if (sends++ != 0) return;
    inSend.Open();
    release.Wait();
  };
  Queue(m_messages[0]);
  ASSERT_TRUE(inSend.Wait());
  Queue(m_messages[1]);
  Queue(m_messages[2]);
  Access::SignalSendStop(*m_component);  // with both events set, stop wins
  release.Open();
  Access::StopSendRoutine(*m_component);

  EXPECT_EQ(m_host.protocol.Sent().size(), 1u);
  EXPECT_EQ(m_messages[1].RefCount(), 0);
  EXPECT_EQ(m_messages[2].RefCount(), 0);

  Queue(m_messages[1]);  // no send thread any more: released at once
  EXPECT_EQ(m_messages[1].RefCount(), 0);
}

}  // namespace
