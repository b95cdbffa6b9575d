// The plug-in kit's ready protocol message, where it meets the protocol
// layer's thread.
#include <gtest/gtest.h>

#include <vector>

#include "PluginKit/ProtocolMessage.h"
#include "Support/FailingAllocations.h"

namespace {

// The layer's thread has no handler for a C++ exception: a response whose
// bytes find no memory makes the message fail with E_OUTOFMEMORY instead.
TEST(ProtocolMessageTest, AResponseThatFindsNoMemoryFailsTheMessage) {
  if (!doubles::CanFailAllocations()) GTEST_SKIP() << "operator new cannot be replaced in this build";
  auto* message = new pluginkit::ProtocolMessage({3, 0, 0, 0, 1}, L"Read");
  const std::vector<BYTE> answer{3, 2, 0x03, 0xE9};
  HRESULT set = S_OK;
  {
    const doubles::FailAllocations noMemory;
    set = message->SetResponse(S_OK, static_cast<ULONG>(answer.size()), answer.data());
  }
  std::vector<BYTE> data;
  EXPECT_EQ(set, E_OUTOFMEMORY);
  EXPECT_EQ(message->Outcome(data), E_OUTOFMEMORY);
  EXPECT_TRUE(data.empty());
  EXPECT_EQ(message->Release(), 0u);
}

}  // namespace
