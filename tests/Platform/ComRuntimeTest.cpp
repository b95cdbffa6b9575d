// The COM stand-in: task memory, per-thread initialisation, class registration and the message box hook.
#include <gtest/gtest.h>

#include <thread>

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

TEST(ComInitTest, CountsPerThread) {
  std::thread([] {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    CoUninitialize();
  }).join();
}

TEST(ClassRegistryTest, CreatesRegisteredClassesAndForgetsRevokedOnes) {
  ITARVO_DeviceResult* result = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_TARVO_DeviceResult, nullptr, CLSCTX_INPROC_SERVER, IID_ITARVO_DeviceResult,
                             reinterpret_cast<void**>(&result)),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(result, nullptr);
  {
    DeviceResultClass resultClass;
    EXPECT_EQ(resultClass.RefCount(), 1);  // the registry's reference
    ASSERT_EQ(CoCreateInstance(CLSID_TARVO_DeviceResult, nullptr, CLSCTX_INPROC_SERVER, IID_ITARVO_DeviceResult,
                               reinterpret_cast<void**>(&result)),
              S_OK);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(FakeDeviceResult::LiveCount(), 1);

    FakeDeviceMessage message(L"5");
    const BYTE data[] = {0xFF, 0xFF, 0x00, 0x00};
    EXPECT_EQ(result->SetResult(&message, 0, 1, sizeof data, data), S_OK);
    EXPECT_EQ(message.RefCount(), 1);
    result->Release();
    EXPECT_EQ(FakeDeviceResult::LiveCount(), 0);
    EXPECT_EQ(message.RefCount(), 0);

    // An interface the class does not have.
    IClassFactory* wrong = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_TARVO_DeviceResult, nullptr, CLSCTX_INPROC_SERVER, IID_IClassFactory,
                               reinterpret_cast<void**>(&wrong)),
              E_NOINTERFACE);
    EXPECT_EQ(wrong, nullptr);
    EXPECT_EQ(FakeDeviceResult::LiveCount(), 0);
  }
  // Revoked with the registration's scope; its reference was given back.
  EXPECT_EQ(CoCreateInstance(CLSID_TARVO_DeviceResult, nullptr, CLSCTX_INPROC_SERVER, IID_ITARVO_DeviceResult,
                             reinterpret_cast<void**>(&result)),
            REGDB_E_CLASSNOTREG);
}

int g_boxes = 0;
int CountBox(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  ++g_boxes;
  EXPECT_STREQ(text, "text");
  EXPECT_STREQ(caption, "caption");
  EXPECT_EQ(type, MB_OK);
  return 7;
}

TEST(MessageBoxTest, DefaultAnswersAtOnceAndAHostMayInstallItsOwn) {
  g_boxes = 0;
  EXPECT_EQ(MessageBoxA(nullptr, "shown on standard error", "MessageBoxTest", MB_OK), IDOK);
  EXPECT_EQ(SetMessageBoxHandler(&CountBox), nullptr);
  EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_OK), 7);
  EXPECT_EQ(g_boxes, 1);
  EXPECT_EQ(SetMessageBoxHandler(nullptr), &CountBox);
  EXPECT_EQ(MessageBoxA(nullptr, "back to the default", "MessageBoxTest", MB_OK), IDOK);
  EXPECT_EQ(g_boxes, 1);
}

}  // namespace
