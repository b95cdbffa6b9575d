#include "TARVO_SupportLib/ClassLoaderCore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Interfaces/IMessageService.h"

namespace {

// Exposes the protected operation, as MessageServiceClassLoader does.
class TestLoader : public ClassLoaderCore {
 public:
  explicit TestLoader(const char* interfaceName) : ClassLoaderCore(interfaceName) {}
  IMessageService* Create(const char* module, const char* cls, const char* superClass) {
    return static_cast<IMessageService*>(CreateInstance(module, cls, superClass));
  }
};

struct Refusal {
  const char* module;
  const char* cls;
  const char* superClass;
  const char* interfaceName;
  const char* expectedText;
};

TEST(ClassLoaderCoreTest, RefusesWithNullAndNamesTheModule) {
  const Refusal cases[] = {
      {"/nonexistent/Module.so", "ReadService", nullptr, "IMessageService", "cannot load"},
      {NO_ENTRY_MODULE_PATH, "ReadService", nullptr, "IMessageService", "no entry point"},
      {WRONG_ABI_MODULE_PATH, "ReadService", nullptr, "IMessageService", "ABI version"},
      {SAMPLE_SERVICES_PATH, "NoSuchService", nullptr, "IMessageService", "no class"},
      {SAMPLE_SERVICES_PATH, "ReadService", "OtherBase", "IMessageService", "super-class"},
      {SAMPLE_SERVICES_PATH, "ReadService", "", "IMessageService", "super-class"},
      {SAMPLE_SERVICES_PATH, "ReadService", nullptr, "IOtherInterface", "implements"},
      {SAMPLE_SERVICES_PATH, nullptr, nullptr, "IMessageService", "required"},
      {nullptr, "ReadService", nullptr, "IMessageService", "required"},
  };
  for (const Refusal& c : cases) {
    TestLoader loader(c.interfaceName);
    EXPECT_EQ(loader.Create(c.module, c.cls, c.superClass), nullptr);
    const std::string error = loader.GetLastErrorText();
    EXPECT_NE(error.find(c.expectedText), std::string::npos) << error;
    if (c.module != nullptr) {
      EXPECT_NE(error.find(c.module), std::string::npos) << error;
    }
  }
}

TEST(ClassLoaderCoreTest, ConcurrentCreationLoadsOnceAndNeverFails) {
  TestLoader loader("IMessageService");
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        std::unique_ptr<IMessageService> service(loader.Create(SAMPLE_SERVICES_PATH, "StatusService", nullptr));
        if (!service) ++failures;
        // A refusal on another thread must not disturb this one.
        delete loader.Create(SAMPLE_SERVICES_PATH, "NoSuchService", nullptr);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
