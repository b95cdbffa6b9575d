// The COM stand-in: task memory, class registration and the message box hook.
#include <gtest/gtest.h>

#include "Platform/MessageBox.h"
#include "Support/HostDoubles.h"

namespace {

using doubles::DeviceResultClass;
using doubles::FakeDeviceMessage;
using doubles::FakeDeviceResult;

TEST(TaskMemoryTest, BlocksAreCountedUntilFreed) {
  const LONG before = CoTaskMemBlocksInUse();
  void* a = CoTaskMemAlloc(16);
  void* empty = CoTaskMemAlloc(0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(CoTaskMemBlocksInUse(), before + 2);
  a = CoTaskMemRealloc(a, 4096);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(CoTaskMemBlocksInUse(), before + 2);
  CoTaskMemFree(a);
  CoTaskMemFree(empty);
  CoTaskMemFree(nullptr);
  EXPECT_EQ(CoTaskMemBlocksInUse(), before);
}

TEST(ClassRegistryTest, CreatesRegisteredClassesAndForgetsRevokedOnes) {
  const auto create = [](REFIID iid, auto** object) {
    return CoCreateInstance(CLSID_TARVO_DeviceResult, nullptr, CLSCTX_INPROC_SERVER, iid,
                            reinterpret_cast<void**>(object));
  };
  ITARVO_DeviceResult* result = nullptr;
  EXPECT_EQ(create(IID_ITARVO_DeviceResult, &result), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(result, nullptr);
  {
    DeviceResultClass resultClass;
    EXPECT_EQ(resultClass.RefCount(), 1);  // the registry's reference
    ASSERT_EQ(create(IID_ITARVO_DeviceResult, &result), S_OK);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(FakeDeviceResult::LiveCount(), 1);

    FakeDeviceMessage message(L"5");
    const BYTE data[] = {0xFF, 0xFF, 0x00, 0x00};
    EXPECT_EQ(result->SetResult(&message, 0, 1, sizeof data, data), S_OK);
    EXPECT_EQ(message.RefCount(), 1);
    result->Release();
    EXPECT_EQ(FakeDeviceResult::LiveCount(), 0);
    EXPECT_EQ(message.RefCount(), 0);

    IClassFactory* wrong = nullptr;  // an interface the class does not have
    EXPECT_EQ(create(IID_IClassFactory, &wrong), E_NOINTERFACE);
    EXPECT_EQ(wrong, nullptr);
    EXPECT_EQ(FakeDeviceResult::LiveCount(), 0);
  }
  // Revoked with the registration's scope; its reference was given back.
  EXPECT_EQ(create(IID_ITARVO_DeviceResult, &result), REGDB_E_CLASSNOTREG);
}

// Showing a box with the caption and text given is checked where the library
// shows one (the service generator's tests); here the default and the swap.
TEST(MessageBoxTest, DefaultAnswersAtOnceAndAHostMayInstallItsOwn) {
  const MessageBoxHandler seven = [](HWND, LPCSTR, LPCSTR, UINT) { return 7; };
  EXPECT_EQ(MessageBoxA(nullptr, "shown on standard error", "MessageBoxTest", MB_OK), IDOK);
  EXPECT_EQ(SetMessageBoxHandler(seven), nullptr);
  EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_OK), 7);
  EXPECT_EQ(SetMessageBoxHandler(nullptr), seven);
  EXPECT_EQ(MessageBoxA(nullptr, "back to the default", "MessageBoxTest", MB_OK), IDOK);
}

}  // namespace
