// The sample plug-in's own behaviour that the component tests, which use it as
// their real module, do not show: the delayed read's clock.
#include <gtest/gtest.h>

#include <memory>

#include "BaseComms/MessageServiceClassLoader.h"
#include "Support/HostDoubles.h"

namespace {

using doubles::FakeDeviceMessage;

// The service compares by unsigned difference from the first tick count it was asked with.
TEST(DelayedReadServiceTest, ComparesTickCountsAcrossTheWrap) {
  FakeDeviceMessage twenty(L"8", {20, 0});
  FakeDeviceMessage none(L"8");
  const auto create = [] {
    return std::unique_ptr<IMessageService>(
        MessageServiceClassLoader::Instance().CreateMessageService(SAMPLE_SERVICES_PATH, "DelayedReadService", nullptr));
  };
  const auto waiting = create(), immediate = create();  // end before the messages
  ASSERT_TRUE(waiting && immediate);
  ASSERT_TRUE(waiting->InitialiseService(&twenty, nullptr));
  ASSERT_TRUE(immediate->InitialiseService(&none, nullptr));
  EXPECT_TRUE(waiting->NeedsTimeWatch());

  EXPECT_FALSE(waiting->IsTimeUp(0xFFFFFFF0u));  // the start
  EXPECT_FALSE(waiting->IsTimeUp(0xFFFFFFFFu));  // 15 ms
  EXPECT_FALSE(waiting->IsTimeUp(3));            // 19 ms, after the wrap
  EXPECT_TRUE(waiting->IsTimeUp(4));             // 20 ms
  EXPECT_TRUE(waiting->IsTimeUp(0x7FFFFFFFu));
  EXPECT_TRUE(immediate->IsTimeUp(0xFFFFFFFFu)) << "no delay named: due at once";
}

}  // namespace
