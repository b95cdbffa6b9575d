// The whole system under load: host threads request, batch and cancel on four
// components of two targets (the real sample services), while the protocol
// double answers on threads of its own after random delays, refusing a send
// or sending back an answer the service rejects now and then. Every accepted
// request must end exactly once (one complete result: data or an error),
// nothing may deadlock, no target may ever have more messages on the line
// than its parallel limit, and every reference must come back. Then more
// requests are made and the components stopped and uninitialised while their
// answers are on the way: none of those may end twice either.
//
// The lifecycle run adds what a host does to running components: host threads
// also take and give back exclusive access, switch the transfer mode and move
// components 0 and 2 between the two lines, while a cycler thread keeps
// taking components 1 and 3 through StopSendReceive, UnInitialise and
// Initialise. A request accepted in a life that was then cycled may be lost
// (at most one end); every other accepted request must end exactly once.
//
// Random but seeded: the seed is printed, BASECOMMS_STRESS_SEED repeats it
// (as far as thread timing allows). A watchdog aborts a run that hangs.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "SampleServicesFixture.h"

namespace {

using doubles::FakeDeviceMessage;

constexpr int kComponents = 4;  // 0 and 1 on one target, 2 and 3 on the other
constexpr int kHostThreads = 4;
constexpr int kAnswerThreads = 2;
constexpr int kPerThread = 700;  // device messages each host thread requests
constexpr int kLate = 40;        // requested just before the components stop
constexpr int kMessages = kHostThreads * kPerThread + kLate;
constexpr int kLifeThreads = 3;     // host threads of the lifecycle run
constexpr int kLifePerThread = 800;
constexpr int kCycled[] = {1, 3};  // one per target, taken through stop, uninitialise, initialise
constexpr int kMoved[] = {0, 2};   // moved from line to line
constexpr auto kWatchdog = std::chrono::seconds(100);

unsigned g_seed = 0;
std::atomic<unsigned> g_streams{0};

// A number below `bound` from the calling thread's own seeded generator.
unsigned Random(unsigned bound) {
  thread_local std::mt19937 generator(g_seed + 7919u * g_streams++);
  return static_cast<unsigned>(generator() % bound);
}

// What became of one device message.
struct Ledger {
  int component = 0;            // requested there; written by its requesting thread
  unsigned life = 0;            // that component's life count just before the request
  std::atomic<int> accepted{0};  // 1 accepted, -1 refused, 2 in a batch that failed after letting some in
  std::atomic<int> results{0};
  std::atomic<int> incomplete{0};
};

// The application: counts the results of every device message.
class CountingSink final : public doubles::ComObject<ITARVO_DeviceResultCallback> {
 public:
  CountingSink(FakeDeviceMessage* messages, Ledger* ledger) : m_pMessages(messages), m_pLedger(ledger) {}
  HRESULT STDMETHODCALLTYPE ReceiveDeviceResult(ITARVO_DeviceResult* result) override { return Count(result); }
  HRESULT STDMETHODCALLTYPE ReceiveDeviceResults(LONG count, ITARVO_DeviceResult** results) override {
    for (LONG i = 0; i < count; ++i) Count(results[i]);
    return S_OK;
  }

  std::atomic<long> delivered{0};

 private:
  HRESULT Count(ITARVO_DeviceResult* result) {
    ITARVO_DeviceMessage* message = nullptr;
    LONG complete = 0;
    result->GetComplete(&complete);
    if (FAILED(result->GetDeviceMessage(&message)) || message == nullptr) {
      ADD_FAILURE() << "a result without its device message";
      return S_OK;
    }
    const auto index = static_cast<FakeDeviceMessage*>(message) - m_pMessages;
    message->Release();
    if (index < 0 || index >= kMessages) {
      ADD_FAILURE() << "a result for a message nobody requested";
      return S_OK;
    }
    ++m_pLedger[index].results;
    if (complete == 0) ++m_pLedger[index].incomplete;
    ++delivered;
    return S_OK;
  }

  FakeDeviceMessage* m_pMessages;
  Ledger* m_pLedger;
};

class SystemStressTest : public sampletest::SampleServicesTest {
 protected:
  SystemStressTest() {
    const char* seed = std::getenv("BASECOMMS_STRESS_SEED");
    g_seed = seed != nullptr ? static_cast<unsigned>(std::strtoul(seed, nullptr, 10)) : std::random_device{}();
    std::printf("SystemStressTest seed %u (BASECOMMS_STRESS_SEED repeats it)\n", g_seed);
    // Commands: 5 read, 6 block read in 1 to 3 steps (holds its target), 7
    // status (urgent), 8 read after a delay in the time watch, 9 read that
    // absorbs equal reads.
    static const wchar_t* const kCommands[] = {L"5", L"6", L"7", L"8", L"9"};
    for (int i = 0; i < kMessages; ++i) {
      const unsigned command = Random(5);
      m_pool[i].key = kCommands[command];
      const BYTE value = static_cast<BYTE>(command == 1 ? 1 + Random(3) : command == 3 ? Random(4) : 9);
      m_pool[i].data = {value, 0};
    }
    m_host.config.parallelLimit = 2;
    m_hosts[0].config.parallelLimit = 2;
    for (componenttest::Host& host : m_hosts) host.services.nodes = m_host.services.nodes;
  }

  void SetUp() override {
    for (int c = 0; c < kComponents; ++c) {
      componenttest::Host& host = HostOf(c);
      host.protocol.onSend = [this, c, &host](ITARVO_ProtocolMessage* message) {
        // Only this component's send thread calls here.
        const bool refuse = Random(100) < 3;
        host.protocol.sendResult = refuse ? E_FAIL : S_OK;
        if (refuse) return;
        const int onTheLine = ++m_onTheLine[c / 2];
        int most = m_mostOnTheLine[c / 2].load();
        while (!m_stopping && onTheLine > most && !m_mostOnTheLine[c / 2].compare_exchange_weak(most, onTheLine)) {
        }
        m_line.Push(message, c);
      };
      ASSERT_EQ(Initialise(c), S_OK);
    }
    for (int i = 0; i < kAnswerThreads; ++i) m_answerers.emplace_back([this] { Answer(); });
  }

  HRESULT Initialise(int c) { return Component(c)->Initialise(&HostOf(c).info, &m_sink, &HostOf(c).protocol); }

  componenttest::Host& HostOf(int c) { return c == 0 ? m_host : m_hosts[c - 1]; }
  ParallelCommunication* Component(int c) { return c == 0 ? m_component.get() : m_others[c - 1].get(); }

  void Answer() {
    componenttest::Line::Sent sent{};
    while (m_line.Pop(sent)) {
      if (Random(2) == 0) std::this_thread::sleep_for(std::chrono::microseconds(Random(1500)));
      // An empty answer is one the services reject (an error result).
      std::vector<BYTE> answer;
      if (Random(100) >= 3) answer = {0x5A, static_cast<BYTE>(Random(256))};
      EXPECT_TRUE(sampletest::SetAnswer(sent.message, answer));
      --m_onTheLine[sent.component / 2];  // answered: the line is free again once Receive took it
      Component(sent.component)->Receive(sent.message);
      sent.message->Release();
    }
  }

  // Requests messages [first, first + count) on component `c`, one by one or
  // as one batch.
  void RequestRange(int c, int first, int count) {
    const unsigned life = m_lives[c].load();
    LONG deviceResult = 0;
    HRESULT hr = S_OK;
    if (count == 1) {
      hr = Component(c)->RequestMessageService(&m_pool[first], &deviceResult);
    } else {
      doubles::FakeDeviceMessageAccessor accessor;
      for (int i = first; i < first + count; ++i) accessor.messages.push_back(&m_pool[i]);
      hr = Component(c)->RequestMultiMessageServices(&accessor, &deviceResult);
    }
    // A batch lets every service in even after one failed; it let none in
    // when a message had no service or the component was not initialised.
    const bool noneIn = count == 1 || hr == E_NOTIMPL || hr == E_UNEXPECTED;
    for (int i = first; i < first + count; ++i) {
      m_ledger[i].component = c;
      m_ledger[i].life = life;
      m_ledger[i].accepted = SUCCEEDED(hr) ? 1 : noneIn ? -1 : 2;
    }
  }

  // Requests messages [first, end) on random components, cancelling some;
  // `steering` also takes and gives back exclusive access, switches the
  // transfer mode and moves components.
  void Requester(int first, int end, bool steering) {
    std::vector<int> mine;
    std::vector<int> holding;  // components this thread took exclusive access on
    for (int next = first; next < end;) {
      const unsigned roll = Random(steering ? 13 : 10);
      if (roll < 3 && !mine.empty()) {
        const int index = mine[Random(static_cast<unsigned>(mine.size()))];
        Component(m_ledger[index].component)->CancelMessageService(&m_pool[index]);
        continue;
      }
      if (roll >= 10) {
        Steer(holding);
        continue;
      }
      const int count = roll < 5 ? std::min(2 + static_cast<int>(Random(3)), end - next) : 1;
      RequestRange(static_cast<int>(Random(kComponents)), next, count);
      for (int i = next; i < next + count; ++i) mine.push_back(i);
      next += count;
    }
    for (const int c : holding) Component(c)->SetMode(L"Exclusive", 2);
  }

  // Mode changes fail where the component is being cycled, moved, or locked
  // out by another: only what they do to the requests is checked.
  void Steer(std::vector<int>& holding) {
    const int c = static_cast<int>(Random(kComponents));
    switch (Random(4)) {
      case 0:
        if (Component(c)->SetMode(L"Exclusive", 0) == S_OK) holding.push_back(c);
        break;
      case 1:
        if (!holding.empty()) {
          Component(holding.back())->SetMode(L"Exclusive", 2);
          holding.pop_back();
        }
        break;
      case 2:
        Component(c)->SetMode(L"TransferMode", static_cast<long>(Random(2)));
        break;
      default: {
        const int moved = kMoved[Random(2)];
        // The protocol double takes one runtime-information change at a time.
        std::lock_guard<std::mutex> guard(m_moveLock);
        const bool onFirst = HostOf(moved).protocol.runtimeInformation == L"LINE=1";
        EXPECT_EQ(Component(moved)->ChangeRuntimeInformation(onFirst ? L"LINE=2" : L"LINE=1"), S_OK);
        break;
      }
    }
  }

  // Takes the cycled components, at random, through a stop and a new life,
  // at least once and until `running` is cleared.
  void Cycler(const std::atomic<bool>& running) {
    do {
      const int c = kCycled[Random(2)];
      ++m_lives[c];  // odd: requests accepted from here on may be lost
      EXPECT_EQ(Component(c)->StopSendReceive(), S_OK);
      EXPECT_EQ(Component(c)->UnInitialise(), S_OK);
      EXPECT_EQ(Initialise(c), S_OK) << "component " << c << " (seed " << g_seed << ")";
      ++m_lives[c];
      ++m_cycles;
      std::this_thread::sleep_for(std::chrono::microseconds(Random(3000)));
    } while (running);
  }

  // Accepted in a life of its component that is still going on: it must end.
  bool MustEnd(int i) {
    const unsigned life = m_ledger[i].life;
    return m_ledger[i].accepted.load() == 1 && life % 2 == 0 && life == m_lives[m_ledger[i].component].load();
  }

  bool AllEnded(int count) {
    for (int i = 0; i < count; ++i) {
      if (MustEnd(i) && m_ledger[i].results.load() == 0) return false;
    }
    return true;
  }

  // Requests in [first, last) that did not end exactly once (at most once
  // when `stopped`: the component stopped meanwhile, or when MustEnd says
  // not); refused ones must not end at all.
  int Offenders(int first, int last, bool stopped) {
    int offenders = 0;
    for (int i = first; i < last; ++i) {
      const int results = m_ledger[i].results.load();
      const int accepted = m_ledger[i].accepted.load();
      const bool wrong = accepted == -1 ? results != 0 : stopped || !MustEnd(i) ? results > 1 : results != 1;
      if (wrong || m_ledger[i].incomplete.load() != 0) {
        if (++offenders <= 5) {
          ADD_FAILURE() << "message " << i << " (command " << m_pool[i].key << ", component "
                        << m_ledger[i].component << ", life " << m_ledger[i].life << "): accepted " << accepted
                        << ", " << results << " results, " << m_ledger[i].incomplete.load() << " incomplete";
        }
      }
    }
    return offenders;
  }

  // Stops and uninitialises every component while answers may be on the
  // way, then ends the answer threads.
  void StopEverything() {
    m_stopping = true;  // a stopped component's messages leave the line unanswered
    for (int c = 0; c < kComponents; ++c) EXPECT_EQ(Component(c)->StopSendReceive(), S_OK);
    for (int c = 0; c < kComponents; ++c) EXPECT_EQ(Component(c)->UnInitialise(), S_OK);
    m_line.Close();
    m_answerers.clear();
  }

  // After StopEverything: nothing the components took is still held.
  void ExpectReferencesBack() {
    for (auto& other : m_others) other.reset();
    int hostReferences = 0;
    for (int c = 0; c < kComponents; ++c) {
      componenttest::Host& host = HostOf(c);
      host.protocol.ClearSent();
      hostReferences += host.info.RefCount() + host.config.RefCount() + host.protocol.RefCount();
    }
    EXPECT_EQ(hostReferences, 0) << "host objects still referenced (seed " << g_seed << ")";
    for (int i = 0, held = 0; i < kMessages && held < 5; ++i) {
      if (m_pool[i].RefCount() == 0) continue;
      ++held;
      ADD_FAILURE() << "message " << i << " (command " << m_pool[i].key << ", component " << m_ledger[i].component
                    << ", life " << m_ledger[i].life << ", accepted " << m_ledger[i].accepted.load() << ", "
                    << m_ledger[i].results.load() << " results) still has " << m_pool[i].RefCount()
                    << " references (seed " << g_seed << ")";
    }
    EXPECT_EQ(m_sink.RefCount(), 0);
  }

  // Declared first: everything below may refer to them.
  FakeDeviceMessage m_pool[kMessages];
  Ledger m_ledger[kMessages];
  CountingSink m_sink{m_pool, m_ledger};
  componenttest::Host m_hosts[kComponents - 1] = {componenttest::Host(L"LINE=1"), componenttest::Host(L"LINE=2"),
                                                  componenttest::Host(L"LINE=2")};
  std::unique_ptr<ParallelCommunication> m_others[kComponents - 1] = {
      std::unique_ptr<ParallelCommunication>(ParallelCommunication::CreateInstance()),
      std::unique_ptr<ParallelCommunication>(ParallelCommunication::CreateInstance()),
      std::unique_ptr<ParallelCommunication>(ParallelCommunication::CreateInstance())};
  componenttest::Line m_line;
  std::atomic<unsigned> m_lives[kComponents] = {};  // per component: 2 per cycle, odd while being cycled
  std::atomic<int> m_cycles{0};
  std::mutex m_moveLock;
  // Per target (component / 2): messages sent and not yet answered, and the
  // most there were at once while nothing stopped or moved.
  std::atomic<int> m_onTheLine[2] = {};
  std::atomic<int> m_mostOnTheLine[2] = {};
  std::atomic<bool> m_stopping{false};
  const std::jthread m_watchdog = componenttest::Watchdog(kWatchdog, [this] {
    return "SystemStressTest: no end after " + std::to_string(kWatchdog.count()) + " s (seed " +
           std::to_string(g_seed) + ", " + std::to_string(m_sink.delivered.load()) + " results delivered)";
  });
  // Started by SetUp, ended by StopEverything; after the watchdog, which outlives them.
  std::vector<std::jthread> m_answerers;
};

TEST_F(SystemStressTest, EveryAcceptedRequestEndsExactlyOnceAndEveryReferenceComesBack) {
  {
    std::vector<std::jthread> requesters;
    for (int t = 0; t < kHostThreads; ++t) {
      requesters.emplace_back([this, t] { Requester(t * kPerThread, (t + 1) * kPerThread, false); });
    }
  }
  const int requested = kHostThreads * kPerThread;
  EXPECT_TRUE(componenttest::WaitUntil([this] { return AllEnded(requested); }, 30000))
      << "requests without an end (seed " << g_seed << ")";
  EXPECT_EQ(Offenders(0, requested, false), 0) << "seed " << g_seed;
  EXPECT_LE(m_mostOnTheLine[0].load(), 2) << "the first target's limit is 2 (seed " << g_seed << ")";
  EXPECT_LE(m_mostOnTheLine[1].load(), 1) << "the second target's limit is 1 (seed " << g_seed << ")";

  // The last requests are still on the way when everything stops.
  for (int i = requested; i < kMessages; ++i) RequestRange(static_cast<int>(Random(kComponents)), i, 1);
  StopEverything();
  EXPECT_EQ(Offenders(requested, kMessages, true), 0) << "seed " << g_seed;
  ExpectReferencesBack();
}

TEST_F(SystemStressTest, RequestsEndOnceWhileComponentsAreCycledMovedAndSteered) {
  m_stopping = true;  // components move between the targets
  {
    std::atomic<bool> requesting{true};
    const std::jthread cycler([this, &requesting] { Cycler(requesting); });
    {
      std::vector<std::jthread> requesters;
      for (int t = 0; t < kLifeThreads; ++t) {
        requesters.emplace_back([this, t] { Requester(t * kLifePerThread, (t + 1) * kLifePerThread, true); });
      }
    }
    requesting = false;
  }
  EXPECT_GT(m_cycles.load(), 0);
  const int requested = kLifeThreads * kLifePerThread;
  EXPECT_TRUE(componenttest::WaitUntil([this] { return AllEnded(requested); }, 30000))
      << "requests without an end (seed " << g_seed << ")";
  EXPECT_EQ(Offenders(0, requested, false), 0) << "seed " << g_seed;

  StopEverything();
  ExpectReferencesBack();
}

}  // namespace
