// Result delivery cut off by the stopped flag and availability, and results made via COM. Every result reference
// handed to the component must be given back, delivered or not. Filtering by the registry and the error results of a
// rejected response are shown by CancelTest and ReceiveTest, a single delivery and the sink's failure code by the
// driver commands (DriverCommandTest).
#include <gtest/gtest.h>

#include <list>
#include <memory>

#include "ComponentTestSupport.h"
#include "SampleServicesFixture.h"
#include "Support/DispatchTestAccess.h"

namespace {

using componenttest::Host;
using doubles::FakeDeviceMessage;
using doubles::FakeDeviceResult;
using sampletest::MakeResult;
using Access = DispatchTestAccess;

class ResultDeliveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Access::SetHostPointers(*m_component, m_host.Config(), &m_host.sink, nullptr);
    Access::Register(*m_component, &m_registered);
  }
  void TearDown() override {
    Access::ClearRegistry(*m_component);
    Access::SetHostPointers(*m_component, nullptr, nullptr, nullptr);
    m_component.reset();
    m_host.sink.Clear();
    EXPECT_EQ(FakeDeviceResult::LiveCount(), m_resultsBefore) << "a device result leaked";
  }

  FakeDeviceMessage m_registered;
  Host m_host;
  const int m_resultsBefore = FakeDeviceResult::LiveCount();
  std::unique_ptr<ParallelCommunication> m_component{ParallelCommunication::CreateInstance()};
};

// Stopped, or without device configuration (after UnInitialise): nothing delivered, every result released.
TEST_F(ResultDeliveryTest, NothingIsDeliveredWhenStoppedOrUnavailable) {
  for (const bool stop : {false, true}) {
    std::unique_ptr<ParallelCommunication> component(ParallelCommunication::CreateInstance());
    Access::SetHostPointers(*component, stop ? m_host.Config() : nullptr, &m_host.sink, nullptr);
    Access::Register(*component, &m_registered);
    if (stop) component->StopSendReceive();
    std::list<ITARVO_DeviceResult*> results{MakeResult(&m_registered, 0), MakeResult(&m_registered, 0)};
    Access::CallbackSomeResults(*component, results);
    ITARVO_DeviceResult* single = MakeResult(&m_registered, 0);
    EXPECT_EQ(Access::CallbackResultData(*component, single), S_OK);
    single->Release();

    EXPECT_EQ(m_host.sink.batchCalls + m_host.sink.singleCalls, 0);
    EXPECT_EQ(FakeDeviceResult::LiveCount(), m_resultsBefore);
    Access::ClearRegistry(*component);
    Access::SetHostPointers(*component, nullptr, nullptr, nullptr);
  }
}

// A result the host cannot create, or cannot fill (data announced without its bytes), is neither handed out nor
// leaked.
TEST_F(ResultDeliveryTest, FailingDeviceResultCreationReturnsItsCodeAndDeliversNothing) {
  ITARVO_DeviceResult* result = reinterpret_cast<ITARVO_DeviceResult*>(1);
  EXPECT_EQ(Access::CreateDeviceResult(*m_component, &m_registered, 0, 1, 4, nullptr, &result), E_POINTER);
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(FakeDeviceResult::LiveCount(), m_resultsBefore);
  m_host.resultClass.createResult = E_OUTOFMEMORY;
  result = reinterpret_cast<ITARVO_DeviceResult*>(1);
  EXPECT_EQ(Access::CreateDeviceResult(*m_component, &m_registered, 0, 1, 0, nullptr, &result), E_OUTOFMEMORY);
  EXPECT_EQ(result, nullptr);
  std::list<const ITARVO_DeviceMessage*> messages{&m_registered};
  EXPECT_EQ(Access::CallbackNoDataResults(*m_component, messages, true, QTM_RESULT_ERROR), E_OUTOFMEMORY);
  EXPECT_EQ(m_host.sink.singleCalls, 0);
}

}  // namespace
