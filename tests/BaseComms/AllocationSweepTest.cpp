// Allocation failure at each allocation the library makes, one run at a time.
//
// Each scenario walks one request's whole road: CreateInstance, Initialise,
// the request (a read, or a batch of a read, a multi-step block read, a read
// delayed in the time watch and a join), the send thread, the protocol double's Send, the
// answer through Receive on the double's own thread, delivery to the result
// sink, UnInitialise and destruction. Run N fails the Nth allocation the
// library makes; the sweep goes on until a run makes fewer than N. Every run
// must end (no hang), give back every reference, and end each request either
// refused (a failure code, no result ever) or with exactly one complete
// result, data or error.
//
// Which allocations count: this program replaces the global operator new
// (every form) and links the library as a shared object of its own
// (libBaseCommsSweepLibrary.so, see CMakeLists.txt), so the caller's return
// address tells whose allocation it is. It counts when the caller's code lies
// in that library or in the sample module (executable segments found with
// dl_iterate_phdr); when the caller is libstdc++ (std::string and the like,
// called out of line), the first frame outside libstdc++ decides. So the
// send thread, the time-watch thread, host threads inside requests and
// Receive all count, while the test and the host doubles never do. A failed
// allocation behaves as a real one: the throwing forms call the new-handler
// in force (the library's throws TVO_MemoryAllocError), or throw
// std::bad_alloc when there is none; the nothrow forms return null. malloc
// is left alone (the library allocates through new; AddressSanitizer keeps
// malloc for itself).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <unwind.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <new>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "BaseComms/ComponentTestSupport.h"

namespace {

// ---- The counting allocator -------------------------------------------------

struct Segment {
  std::uintptr_t begin, end;
};
struct Segments {
  Segment items[16];
  int count = 0;
  bool Contains(std::uintptr_t address) const {
    for (int i = 0; i < count; ++i) {
      if (address >= items[i].begin && address < items[i].end) return true;
    }
    return false;
  }
};

// Written before the first run arms the counter, read-only afterwards.
Segments g_library;  // libBaseComms.so and the sample module
Segments g_stdlib;   // libstdc++
std::atomic<bool> g_armed{false};
std::atomic<long> g_counted{0};
std::atomic<long> g_failAt{0};
thread_local bool t_hostWork = false;  // the test plays the host's own code

void AddSegments(const dl_phdr_info* info, Segments& segments) {
  for (int i = 0; i < info->dlpi_phnum && segments.count < 16; ++i) {
    const ElfW(Phdr)& header = info->dlpi_phdr[i];
    if (header.p_type != PT_LOAD || (header.p_flags & PF_X) == 0) continue;
    const std::uintptr_t begin = info->dlpi_addr + header.p_vaddr;
    segments.items[segments.count++] = {begin, begin + header.p_memsz};
  }
}

// The first return address on the stack outside libstdc++, above the
// libstdc++ frames that called operator new.
std::uintptr_t CallerOutsideStdlib() {
  struct Walk {
    bool inStdlib = false;
    int depth = 0;
    std::uintptr_t caller = 0;
  } walk;
  _Unwind_Backtrace(
      [](_Unwind_Context* context, void* argument) {
        auto* state = static_cast<Walk*>(argument);
        const std::uintptr_t address = _Unwind_GetIP(context);
        if (g_stdlib.Contains(address)) {
          state->inStdlib = true;
        } else if (state->inStdlib) {
          state->caller = address;
          return _URC_END_OF_STACK;
        }
        return ++state->depth < 64 ? _URC_NO_REASON : _URC_END_OF_STACK;
      },
      &walk);
  return walk.caller;
}

// Counts the allocation if the library makes it; true when it is the one to fail.
bool FailThisOne(void* returnAddress) {
  if (!g_armed.load() || t_hostWork) return false;
  auto caller = reinterpret_cast<std::uintptr_t>(returnAddress);
  if (g_stdlib.Contains(caller)) caller = CallerOutsideStdlib();
  if (!g_library.Contains(caller)) return false;
  return g_counted.fetch_add(1) + 1 == g_failAt.load();
}

void* Allocate(std::size_t size, std::size_t alignment, bool nothrow, void* returnAddress) {
  bool fail = FailThisOne(returnAddress);
  for (;;) {
    void* block = nullptr;
    if (!fail && alignment == 0) {
      block = std::malloc(size == 0 ? 1 : size);
    } else if (!fail && posix_memalign(&block, alignment, size == 0 ? 1 : size) != 0) {
      block = nullptr;
    }
    if (block != nullptr || nothrow) return block;
    fail = false;  // the handler "freed memory": the next try is a real one
    const std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
  }
}

}  // namespace

// Every form of operator new and delete; each new passes its caller's return address on. Never inlined: a
// double's allocation inlined into a virtual method that the library calls would be counted as the library's.
#define SWEEP_NEW(parameters, alignment, nothrow)                                                     \
  __attribute__((noinline)) void* operator new parameters {                                          \
    return Allocate(size, alignment, nothrow, __builtin_return_address(0));                          \
  }                                                                                                  \
  __attribute__((noinline)) void* operator new[] parameters {                                        \
    return Allocate(size, alignment, nothrow, __builtin_return_address(0));                          \
  }
SWEEP_NEW((std::size_t size), 0, false)
SWEEP_NEW((std::size_t size, const std::nothrow_t&) noexcept, 0, true)
SWEEP_NEW((std::size_t size, std::align_val_t al), static_cast<std::size_t>(al), false)
SWEEP_NEW((std::size_t size, std::align_val_t al, const std::nothrow_t&) noexcept, static_cast<std::size_t>(al), true)
#undef SWEEP_NEW
#define SWEEP_DELETE(...)                                                                         \
  void operator delete(void* block __VA_OPT__(, ) __VA_ARGS__) noexcept { std::free(block); } \
  void operator delete[](void* block __VA_OPT__(, ) __VA_ARGS__) noexcept { std::free(block); }
SWEEP_DELETE()
SWEEP_DELETE(std::size_t)
SWEEP_DELETE(const std::nothrow_t&)
SWEEP_DELETE(std::align_val_t)
SWEEP_DELETE(std::size_t, std::align_val_t)
SWEEP_DELETE(std::align_val_t, const std::nothrow_t&)
#undef SWEEP_DELETE

namespace {

// ---- One run ---------------------------------------------------------------

using namespace std::chrono_literals;
constexpr auto kSettle = 10s;    // an accepted request must end within this
constexpr auto kWatchdog = 60s;  // a whole run, UnInitialise included
constexpr long kMaxRuns = 20000;

struct Message {
  const wchar_t* command;
  std::vector<BYTE> data;
};
struct Scenario {
  const char* name;
  std::vector<Message> messages;
  bool batch;
};
void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

#define SWEEP_WIDEN_(text) L##text
#define SWEEP_WIDEN(text) SWEEP_WIDEN_(text)

using SampleFunctions = std::pair<bool (*)(ITARVO_ProtocolMessage*, const BYTE*, ULONG), long (*)()>;

// Loads the sample module (for good: the component's class loader keeps it
// too) and finds the code whose allocations count.
const SampleFunctions& Sample() {
  static const SampleFunctions functions = [] {
    void* module = dlopen(SAMPLE_SERVICES_PATH, RTLD_NOW);
    if (module == nullptr) return SampleFunctions{};
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void*) {
          const char* name = info->dlpi_name != nullptr ? info->dlpi_name : "";
          if (std::strstr(name, "/libBaseCommsSweepLibrary.so") != nullptr ||
              std::strstr(name, "/SampleServices.so") != nullptr) {
            AddSegments(info, g_library);
          } else if (std::strstr(name, "libstdc++.so") != nullptr) {
            AddSegments(info, g_stdlib);
          }
          return 0;
        },
        nullptr);
    return SampleFunctions{
        reinterpret_cast<bool (*)(ITARVO_ProtocolMessage*, const BYTE*, ULONG)>(dlsym(module, "SampleServicesAnswer")),
        reinterpret_cast<long (*)()>(dlsym(module, "SampleServicesLiveInstances"))};
  }();
  return functions;
}

// The host of one controller with the sample services configured, and a
// protocol layer that answers every sent message on a thread of its own.
struct Host : componenttest::Host {
  explicit Host(ParallelCommunication*& component) {
    static const wchar_t* const kClasses[][2] = {
        {L"5", L"ReadService"}, {L"6", L"BlockReadService"}, {L"8", L"DelayedReadService"},
        {L"9", L"ConcatenatingReadService"}};
    for (const auto& entry : kClasses) AddService(entry[0], SWEEP_WIDEN(SAMPLE_SERVICES_PATH), entry[1]);
    protocol.onSend = [this](ITARVO_ProtocolMessage* message) { line.Push(message); };
    answerer = std::thread([this, &component] {
      for (componenttest::Line::Sent sent{}; line.Pop(sent);) {
        const BYTE answer[] = {0x5A, 0x01};
        t_hostWork = true;  // the simulated line fills the message: not the library's work
        const bool answered = Sample().first(sent.message, answer, 2);
        t_hostWork = false;
        if (answered) component->Receive(sent.message);
        sent.message->Release();
      }
    });
  }
  // Stops the line; messages sent from now on get no answer.
  void CloseLine() {
    line.Close();
    if (answerer.joinable()) answerer.join();
  }
  ~Host() { CloseLine(); }

  componenttest::Line line;
  std::thread answerer;
};

// Complete and partial results per device message.
std::map<ITARVO_DeviceMessage*, std::pair<int, int>> Tally(doubles::FakeResultCallback& sink) {
  std::map<ITARVO_DeviceMessage*, std::pair<int, int>> tally;
  for (ITARVO_DeviceResult* result : sink.Results()) {
    ITARVO_DeviceMessage* message = nullptr;
    LONG complete = 0;
    result->GetComplete(&complete);
    if (SUCCEEDED(result->GetDeviceMessage(&message)) && message != nullptr) message->Release();
    ++(complete != 0 ? tally[message].first : tally[message].second);
  }
  return tally;
}

// One run with the `failAt`th counted allocation failing; true when it was
// reached (the sweep goes on).
bool RunOnce(const Scenario& scenario, long failAt) {
  const std::jthread watchdog = componenttest::Watchdog(kWatchdog, [&scenario, failAt] {
    return "AllocationSweepTest: " + std::string(scenario.name) + ", allocation " + std::to_string(failAt) +
           " failed: the run hangs";
  });
  std::deque<doubles::FakeDeviceMessage> messages;  // before the host: the sink's results refer to them
  for (const Message& message : scenario.messages) messages.emplace_back(message.command, message.data);
  const int resultsBefore = doubles::FakeDeviceResult::LiveCount();
  const LONG taskMemoryBefore = CoTaskMemBlocksInUse();
  const long servicesBefore = Sample().second();
  ParallelCommunication* component = nullptr;
  auto host = std::make_unique<Host>(component);
  bool accepted = false;
  bool ended = true;

  g_counted = 0;
  g_failAt = failAt;
  g_armed = true;
  try {
    component = ParallelCommunication::CreateInstance();
    if (component != nullptr && component->Initialise(&host->info, &host->sink, &host->protocol) == S_OK &&
        !messages.empty()) {
      LONG deviceResult = 0;
      if (scenario.batch) {
        doubles::FakeDeviceMessageAccessor accessor;
        for (auto& message : messages) accessor.messages.push_back(&message);
        accepted = SUCCEEDED(component->RequestMultiMessageServices(&accessor, &deviceResult));
      } else {
        accepted = SUCCEEDED(component->RequestMessageService(&messages.front(), &deviceResult));
      }
      // Ended: a result came, or nothing holds the message any more (refused,
      // or a failed batch's part that was never let in).
      const auto deadline = std::chrono::steady_clock::now() + kSettle;
      auto settled = [&] {
        const auto tally = Tally(host->sink);
        for (auto& message : messages) {
          if (tally.count(&message) == 0 && message.RefCount() != 0) return false;
        }
        return true;
      };
      while (!(ended = settled()) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    }
  } catch (const std::exception& error) {
    ADD_FAILURE() << "an exception left the library: " << error.what();
  }
  host->CloseLine();
  // UnInitialise may be called again: after one that threw, a second lets the
  // sweep go on with the threads stopped.
  for (int attempt = 0; component != nullptr && attempt < 2; ++attempt) {
    try {
      component->UnInitialise();
      break;
    } catch (const std::exception& error) {
      ADD_FAILURE() << "an exception left UnInitialise: " << error.what();
    }
  }
  delete component;
  g_armed = false;
  const bool reached = g_counted.load() >= failAt;

  EXPECT_TRUE(ended) << (accepted ? "an accepted request never ended" : "a refused request's message still held")
                     << " (no result, a reference still taken after " << std::chrono::seconds(kSettle).count()
                     << " s)";
  const auto tally = Tally(host->sink);
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const auto counts = tally.count(&messages[i]) != 0 ? tally.at(&messages[i]) : std::pair<int, int>{0, 0};
    EXPECT_EQ(counts.second, 0) << "message " << i << ": results not marked complete";
    if (accepted) {
      EXPECT_EQ(counts.first, 1) << "message " << i << " (accepted): complete results";
    } else {
      // A refused single request gets nothing; a failed batch may have let some parts in, each ending once.
      EXPECT_LE(counts.first, scenario.batch ? 1 : 0) << "message " << i << " (refused): complete results";
    }
  }
  host->sink.Clear();
  host->protocol.ClearSent();
  for (std::size_t i = 0; i < messages.size(); ++i) EXPECT_EQ(messages[i].RefCount(), 0) << "message " << i;
  const std::pair<const char*, int> held[] = {{"device configuration", host->config.RefCount()},
                                              {"device information", host->info.RefCount()},
                                              {"result sink", host->sink.RefCount()},
                                              {"protocol layer", host->protocol.RefCount()}};
  for (const auto& [name, references] : held) EXPECT_EQ(references, 0) << name << ": references not given back";
  EXPECT_EQ(doubles::FakeDeviceResult::LiveCount(), resultsBefore) << "device results leaked";
  EXPECT_EQ(Sample().second(), servicesBefore) << "sample services leaked";
  host.reset();
  EXPECT_EQ(CoTaskMemBlocksInUse(), taskMemoryBefore) << "task memory leaked";
  return reached;
}

// The first component of the process also creates the dispatcher: a failure
// there must leave CreateInstance giving null, not throwing.
TEST(AllocationSweepFirstComponent, CreateInstanceGivesNullOrAComponent) {
  ASSERT_NE(Sample().first, nullptr) << "sample module not loaded";
  for (long failAt = 1;; ++failAt) {
    g_counted = 0;
    g_failAt = failAt;
    g_armed = true;
    try {
      delete ParallelCommunication::CreateInstance();
    } catch (const std::exception& error) {
      ADD_FAILURE() << "allocation " << failAt << " failed: CreateInstance threw " << error.what();
    }
    g_armed = false;
    if (g_counted.load() < failAt) break;
  }
}

class AllocationSweepTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(AllocationSweepTest, EveryRequestEndsOnceAndEverythingComesBack) {
  ASSERT_NE(Sample().first, nullptr) << "sample module not loaded";
  ASSERT_GE(g_library.count, 2) << "library code not found";
  const Scenario& scenario = GetParam();
  delete ParallelCommunication::CreateInstance();  // the dispatcher exists before any run counts
  // BASECOMMS_SWEEP_RUN=Scenario:N repeats one run alone.
  if (const char* only = std::getenv("BASECOMMS_SWEEP_RUN"); only != nullptr) {
    const std::string run = only;
    if (run.substr(0, run.find(':')) != scenario.name) GTEST_SKIP();
    RunOnce(scenario, 0);  // process-wide caches (the class loader's) filled, as after the sweep's first runs
    RunOnce(scenario, std::atol(run.c_str() + run.find(':') + 1));
    return;
  }
  const ::testing::TestResult& result = *::testing::UnitTest::GetInstance()->current_test_info()->result();
  std::string failing;
  long swept = 0;
  while (swept < kMaxRuns) {
    SCOPED_TRACE(std::string(scenario.name) + ", allocation " + std::to_string(swept + 1) + " failed");
    const int failuresBefore = result.total_part_count();
    if (!RunOnce(scenario, swept + 1)) break;
    ++swept;
    if (result.total_part_count() != failuresBefore) failing += " " + std::to_string(swept);
  }
  EXPECT_LT(swept, kMaxRuns) << "no run without an injected failure";
  std::printf("AllocationSweepTest: %s: %ld allocations swept; failing runs:%s\n", scenario.name, swept,
              failing.empty() ? " none" : failing.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, AllocationSweepTest,
    ::testing::Values(
        Scenario{"Initialise", {}, false}, Scenario{"Read", {{L"5", {9, 0}}}, false},
        Scenario{"Batch", {{L"5", {9, 0}}, {L"6", {2, 0}}, {L"8", {0, 0}}, {L"9", {7, 0}}, {L"9", {7, 0}}}, true}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

}  // namespace
