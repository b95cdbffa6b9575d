// The whole system under load: host threads request, batch and cancel on four
// components of two targets (the real sample services), while the protocol
// double answers on threads of its own after random delays, refusing a send
// or sending back an answer the service rejects now and then. Every accepted
// request must end exactly once (one complete result: data or an error),
// nothing may deadlock, and every reference must come back. Then more
// requests are made and the components stopped and uninitialised while their
// answers are on the way: none of those may end twice either.
//
// Random but seeded: the seed is printed, BASECOMMS_STRESS_SEED repeats it
// (as far as thread timing allows). A watchdog aborts a run that hangs.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
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
  std::atomic<int> accepted{0};  // 1 accepted, -1 refused
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

// The line between the protocol double and its answer threads.
class Line {
 public:
  struct Sent {
    ITARVO_ProtocolMessage* message;  // one reference
    int component;
  };
  void Push(Sent sent) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_sent.push_back(sent);
    m_ready.notify_one();
  }
  // False once closed and empty.
  bool Pop(Sent& sent) {
    std::unique_lock<std::mutex> guard(m_lock);
    m_ready.wait(guard, [this] { return m_closed || !m_sent.empty(); });
    if (m_sent.empty()) return false;
    sent = m_sent.front();
    m_sent.pop_front();
    return true;
  }
  void Close() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_closed = true;
    m_ready.notify_all();
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_ready;
  std::deque<Sent> m_sent;
  bool m_closed = false;
};

// Aborts the program (a hang cannot be failed otherwise) unless the returned
// thread is stopped (destroyed) in time.
std::jthread StartWatchdog(const std::atomic<long>& progress) {
  return std::jthread([&progress](std::stop_token stop) {
    std::mutex lock;
    std::condition_variable_any stopped;
    std::unique_lock<std::mutex> guard(lock);
    stopped.wait_for(guard, stop, kWatchdog, [] { return false; });
    if (stop.stop_requested()) return;
    std::fprintf(stderr, "SystemStressTest: no end after %lld s (seed %u, %ld results delivered): aborting\n",
                 static_cast<long long>(kWatchdog.count()), g_seed, progress.load());
    std::abort();
  });
}

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
        message->AddRef();
        m_line.Push({message, c});
      };
      ASSERT_EQ(Component(c)->Initialise(&host.info, &m_sink, &host.protocol), S_OK);
    }
  }

  componenttest::Host& HostOf(int c) { return c == 0 ? m_host : m_hosts[c - 1]; }
  ParallelCommunication* Component(int c) { return c == 0 ? m_component.get() : m_others[c - 1].get(); }

  void Answer() {
    Line::Sent sent{};
    while (m_line.Pop(sent)) {
      if (Random(2) == 0) std::this_thread::sleep_for(std::chrono::microseconds(Random(1500)));
      // An empty answer is one the services reject (an error result).
      std::vector<BYTE> answer;
      if (Random(100) >= 3) answer = {0x5A, static_cast<BYTE>(Random(256))};
      EXPECT_TRUE(SetAnswer(sent.message, answer));
      Component(sent.component)->Receive(sent.message);
      sent.message->Release();
    }
  }

  // Requests messages [first, first + count) on component `c`, one by one or
  // as one batch.
  void RequestRange(int c, int first, int count) {
    LONG deviceResult = 0;
    HRESULT hr = S_OK;
    if (count == 1) {
      hr = Component(c)->RequestMessageService(&m_pool[first], &deviceResult);
    } else {
      doubles::FakeDeviceMessageAccessor accessor;
      for (int i = first; i < first + count; ++i) accessor.messages.push_back(&m_pool[i]);
      hr = Component(c)->RequestMultiMessageServices(&accessor, &deviceResult);
    }
    for (int i = first; i < first + count; ++i) {
      m_ledger[i].component = c;
      m_ledger[i].accepted = SUCCEEDED(hr) ? 1 : -1;
    }
  }

  void Requester(int thread) {
    std::vector<int> mine;
    const int end = (thread + 1) * kPerThread;
    for (int next = thread * kPerThread; next < end;) {
      const unsigned roll = Random(10);
      if (roll < 3 && !mine.empty()) {
        const int index = mine[Random(static_cast<unsigned>(mine.size()))];
        Component(m_ledger[index].component)->CancelMessageService(&m_pool[index]);
        continue;
      }
      const int count = roll < 5 ? std::min(2 + static_cast<int>(Random(3)), end - next) : 1;
      RequestRange(static_cast<int>(Random(kComponents)), next, count);
      for (int i = next; i < next + count; ++i) mine.push_back(i);
      next += count;
    }
  }

  // Requests in [first, last) that did not end exactly once (at most once
  // when `stopped`: the component stopped meanwhile); refused ones must not
  // end at all.
  int Offenders(int first, int last, bool stopped) {
    int offenders = 0;
    for (int i = first; i < last; ++i) {
      const int results = m_ledger[i].results.load();
      const bool accepted = m_ledger[i].accepted.load() == 1;
      const bool wrong = !accepted ? results != 0 : stopped ? results > 1 : results != 1;
      if (wrong || m_ledger[i].incomplete.load() != 0) {
        if (++offenders <= 5) {
          ADD_FAILURE() << "message " << i << " (command " << m_pool[i].key << "): accepted " << accepted
                        << ", " << results << " results, " << m_ledger[i].incomplete.load() << " incomplete";
        }
      }
    }
    return offenders;
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
  Line m_line;
};

TEST_F(SystemStressTest, EveryAcceptedRequestEndsExactlyOnceAndEveryReferenceComesBack) {
  const std::jthread watchdog = StartWatchdog(m_sink.delivered);
  std::vector<std::jthread> answerers;
  for (int i = 0; i < kAnswerThreads; ++i) answerers.emplace_back([this] { Answer(); });
  {
    std::vector<std::jthread> requesters;
    for (int t = 0; t < kHostThreads; ++t) requesters.emplace_back([this, t] { Requester(t); });
  }
  const int requested = kHostThreads * kPerThread;
  const bool allEnded = componenttest::WaitUntil(
      [this] {
        for (int i = 0; i < requested; ++i) {
          if (m_ledger[i].accepted.load() == 1 && m_ledger[i].results.load() == 0) return false;
        }
        return true;
      },
      60000);
  EXPECT_TRUE(allEnded) << "requests without an end (seed " << g_seed << ")";
  EXPECT_EQ(Offenders(0, requested, false), 0) << "seed " << g_seed;

  // The last requests are still on the way when everything stops.
  for (int i = requested; i < kMessages; ++i) RequestRange(static_cast<int>(Random(kComponents)), i, 1);
  for (int c = 0; c < kComponents; ++c) EXPECT_EQ(Component(c)->StopSendReceive(), S_OK);
  for (int c = 0; c < kComponents; ++c) EXPECT_EQ(Component(c)->UnInitialise(), S_OK);
  m_line.Close();
  answerers.clear();
  EXPECT_EQ(Offenders(requested, kMessages, true), 0) << "seed " << g_seed;

  for (auto& other : m_others) other.reset();
  for (componenttest::Host& host : m_hosts) host.protocol.ClearSent();
  int held = 0;
  for (const FakeDeviceMessage& message : m_pool) held += message.RefCount() != 0 ? 1 : 0;
  EXPECT_EQ(held, 0) << "device messages still referenced (seed " << g_seed << ")";
  EXPECT_EQ(m_sink.RefCount(), 0);
}

}  // namespace
