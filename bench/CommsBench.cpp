// CommsBench: the component beside bare equivalents of the same shape, each
// pair measured in the same run, printed as one table (figure, library,
// bare, ratio, goal, met).
//
// - Round trip at parallel limit 1: one host thread, the component's send
//   thread and a protocol double answering on its own thread, against a bare
//   ring of three threads doing the same hops (a mutex and condition per hop).
// - Parallel limit 16 with four host threads keeping four requests each in
//   flight, against a bare batching pipe of the same shape.
// - Latency p50/p99/p99.9 of the limit-1 round trip beside the bare ring's.
// - CPU time of initialised idle components (getrusage), Initialise and
//   UnInitialise of 1,000 components on 500 targets.
// - Heap allocations per one-step request: operator new is counted, except
//   in the host's objects of this program (HostScope) and in calls made
//   from the plug-in module's own code.
// - Trace lines/s with a viewer thread draining the channel, one and two
//   writers, against a bare ring copy; tracing switched off against an empty
//   call.
//
// `--short` runs every figure briefly (ctest checks that it runs); without
// it the sizes are those of the goals. Every loop is bounded in count and
// time. Run an optimised build (scripts/bench).
#include <dlfcn.h>
#include <link.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "Median.h"
#include "BaseComms/BaseComms.h"
#include "HostObject.h"
#include "SimulatedLine/HostDeviceInfo.h"
#include "Trace/QTMTrace.h"
#include "Trace/TraceChannelTesting.h"
#include "Trace/TraceLayout.h"
#include "Trace/TraceReader.h"
#include "XmlConfig/ConfigDocument.h"
#include "XmlConfig/XmlDeviceConfig.h"

// --- allocation counting ------------------------------------------------------

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
thread_local int t_hostDepth = 0;
std::uintptr_t g_pluginBegin = 0;  // the plug-in module's address range
std::uintptr_t g_pluginEnd = 0;

void CountAllocation(const void* caller) {
  if (!g_counting.load(std::memory_order_relaxed) || t_hostDepth != 0) return;
  const auto at = reinterpret_cast<std::uintptr_t>(caller);
  if (at >= g_pluginBegin && at < g_pluginEnd) return;
  g_allocations.fetch_add(1, std::memory_order_relaxed);
}

// Marks the host's own code: its allocations are not the library's.
struct HostScope {
  HostScope() { ++t_hostDepth; }
  ~HostScope() { --t_hostDepth; }
  HostScope(const HostScope&) = delete;
  HostScope& operator=(const HostScope&) = delete;
};
}  // namespace

void* operator new(std::size_t size) {
  CountAllocation(__builtin_return_address(0));
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  CountAllocation(__builtin_return_address(0));
  return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using Clock = std::chrono::steady_clock;
template <typename T>
using ComHolder = std::unique_ptr<T, hostcom::ComReleaser<T>>;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// --- host objects ---------------------------------------------------------------

// A read request of the sample services (command 5).
class ReadMessage final : public hostcom::HostObject<ITARVO_DeviceMessage, IID_ITARVO_DeviceMessage> {
 public:
  ReadMessage(int owner, long index) : m_owner(owner), m_index(index) {}
  HRESULT STDMETHODCALLTYPE GetMessageKey(LPWSTR* key) override {
    const HostScope host;
    *key = static_cast<LPWSTR>(CoTaskMemAlloc(2 * sizeof(wchar_t)));
    (*key)[0] = L'5';
    (*key)[1] = L'\0';
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetData(ULONG* count, BYTE** bytes) override {
    const HostScope host;
    *bytes = static_cast<BYTE*>(CoTaskMemAlloc(2));
    (*bytes)[0] = 1;
    (*bytes)[1] = 0;
    *count = 2;
    return S_OK;
  }
  const int m_owner;
  const long m_index;
};

// A device result: the request and the complete flag are all the sink needs.
class BenchResult final : public hostcom::HostObject<ITARVO_DeviceResult, IID_ITARVO_DeviceResult> {
 public:
  HRESULT STDMETHODCALLTYPE SetResult(ITARVO_DeviceMessage* message, LONG code, LONG complete, ULONG,
                                      const BYTE*) override {
    if (message != nullptr) message->AddRef();
    if (m_pMessage != nullptr) m_pMessage->Release();
    m_pMessage = message;
    m_code = code;
    m_complete = complete;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetComplete(LONG* complete) override {
    *complete = m_complete;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetErrorCode(LONG* code) override {
    *code = m_code;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDeviceMessage(ITARVO_DeviceMessage** message) override {
    if (m_pMessage != nullptr) m_pMessage->AddRef();
    *message = m_pMessage;
    return S_OK;
  }
  ITARVO_DeviceMessage* Message() const { return m_pMessage; }

 private:
  ~BenchResult() override {
    if (m_pMessage != nullptr) m_pMessage->Release();
  }
  ITARVO_DeviceMessage* m_pMessage = nullptr;
  LONG m_code = 0;
  LONG m_complete = 0;
};

class ResultFactory final : public hostcom::HostObject<IClassFactory, IID_IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
    const HostScope host;
    auto* result = new BenchResult;
    const HRESULT hr = result->QueryInterface(riid, ppv);
    result->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

// Registers the result class for the program's lifetime.
class ResultClass {
 public:
  ResultClass() {
    auto* factory = new ResultFactory;
    CoRegisterClassObject(CLSID_TARVO_DeviceResult, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &m_cookie);
    factory->Release();
  }
  ~ResultClass() { CoRevokeClassObject(m_cookie); }
  ResultClass(const ResultClass&) = delete;
  ResultClass& operator=(const ResultClass&) = delete;

 private:
  DWORD m_cookie = 0;
};

// Counts complete results per host thread; a host thread waits for its own.
class CountingSink final : public hostcom::HostObject<ITARVO_DeviceResultCallback, IID_ITARVO_DeviceResultCallback> {
 public:
  static constexpr int kOwners = 4;
  HRESULT STDMETHODCALLTYPE ReceiveDeviceResult(ITARVO_DeviceResult* result) override {
    const HostScope host;
    auto* const bench = static_cast<BenchResult*>(result);
    LONG complete = 0;
    bench->GetComplete(&complete);
    if (complete == 0) return S_OK;
    const int owner = static_cast<ReadMessage*>(bench->Message())->m_owner;
    {
      const std::lock_guard<std::mutex> guard(m_lock);
      ++m_done[owner];
    }
    m_changed[owner].notify_one();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReceiveDeviceResults(LONG count, ITARVO_DeviceResult** results) override {
    for (LONG i = 0; i < count; ++i) ReceiveDeviceResult(results[i]);
    return S_OK;
  }
  // Waits until `owner` has `done` results; false after 10 s.
  bool WaitFor(int owner, long done) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed[owner].wait_for(guard, std::chrono::seconds(10), [&] { return m_done[owner] >= done; });
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_changed[kOwners];
  long m_done[kOwners] = {};
};

// The protocol double: Send queues the message, a thread of its own answers
// it through the plug-in's answer function and hands it to Receive. The
// queue is a fixed ring, so the double allocates nothing per message.
class AnsweringLine final : public hostcom::HostObject<ITARVO_ProtocolComms, IID_ITARVO_ProtocolComms> {
 public:
  using AnswerFunction = bool (*)(ITARVO_ProtocolMessage*, const BYTE*, ULONG);
  explicit AnsweringLine(AnswerFunction answer) : m_answer(answer) {}
  void Start(ParallelCommunication* component) {
    m_pComponent = component;
    m_running = true;
    m_worker = std::thread([this] { Run(); });
  }
  void Stop() {
    {
      const std::lock_guard<std::mutex> guard(m_lock);
      m_running = false;
    }
    m_queued.notify_one();
    if (m_worker.joinable()) m_worker.join();
    for (; m_head != m_tail; ++m_head) m_ring[m_head % kRing]->Release();
  }
  HRESULT STDMETHODCALLTYPE Send(ITARVO_ProtocolMessage* message) override {
    const HostScope host;
    {
      const std::lock_guard<std::mutex> guard(m_lock);
      if (m_tail - m_head == kRing) return E_FAIL;
      message->AddRef();
      m_ring[m_tail++ % kRing] = message;
    }
    m_queued.notify_one();
    return S_OK;
  }

 private:
  static constexpr unsigned kRing = 256;
  void Run() {
    for (;;) {
      ITARVO_ProtocolMessage* message = nullptr;
      {
        std::unique_lock<std::mutex> guard(m_lock);
        m_queued.wait(guard, [this] { return !m_running || m_head != m_tail; });
        if (!m_running) return;
        message = m_ring[m_head++ % kRing];
      }
      {
        const HostScope host;
        const BYTE answer[] = {0x34, 0x12};
        m_answer(message, answer, sizeof answer);
      }
      m_pComponent->Receive(message);
      message->Release();
    }
  }
  const AnswerFunction m_answer;
  ParallelCommunication* m_pComponent = nullptr;
  std::thread m_worker;
  std::mutex m_lock;
  std::condition_variable m_queued;
  ITARVO_ProtocolMessage* m_ring[kRing] = {};  // guarded by m_lock
  unsigned m_head = 0;                          // guarded by m_lock
  unsigned m_tail = 0;                          // guarded by m_lock
  bool m_running = false;                       // guarded by m_lock
};

// --- the component set-up -----------------------------------------------------

std::string Configuration(int controllers, int perTarget, int limit) {
  std::string text =
      "<HostConfiguration><Lines><Line Name='SIM'/></Lines><Networks><Network Name='N'><Services>"
      "<Services Name='Local'><Service CommandNo='5' DllPath='" SAMPLE_SERVICES_PATH
      "' ClassName='ReadService' SuperClassName=''/></Services></Services></Network></Networks><Controllers>";
  for (int i = 0; i < controllers; ++i) {
    text += "<Controller Name='C" + std::to_string(i) + "' Network='N' Line='SIM' Address='" +
            std::to_string(i / perTarget + 1) + "' ParallelLimit='" + std::to_string(limit) +
            "'><DriverVersionInfo><DriverReleaseVersion>1.0.0</DriverReleaseVersion></DriverVersionInfo>"
            "</Controller>";
  }
  return text + "</Controllers></HostConfiguration>";
}

// One controller's host objects and its component.
struct Controller {
  ComHolder<ITARVO_DeviceConfig> config;
  ComHolder<simline::HostDeviceInfo> info;
  std::unique_ptr<ParallelCommunication> component{ParallelCommunication::CreateInstance()};
};

std::vector<Controller> MakeControllers(int count, int perTarget, int limit) {
  std::string error;
  const auto document = hostconfig::ConfigDocument::LoadText(Configuration(count, perTarget, limit), error);
  std::vector<Controller> controllers(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    ITARVO_DeviceConfig* raw = nullptr;
    if (!document || FAILED(hostconfig::XmlDeviceConfig::Create(document, "C" + std::to_string(i), &raw))) {
      std::fprintf(stderr, "CommsBench: configuration: %s\n", error.c_str());
      std::exit(1);
    }
    controllers[i].config.reset(raw);
    controllers[i].info.reset(simline::HostDeviceInfo::Create(raw));
  }
  return controllers;
}

// Loads the plug-in module (the class loader later finds it loaded) and
// finds its answer function.
AnsweringLine::AnswerFunction FindAnswer() {
  void* const module = dlopen(SAMPLE_SERVICES_PATH, RTLD_NOW);
  if (module == nullptr) {
    std::fprintf(stderr, "CommsBench: %s\n", dlerror());
    std::exit(1);
  }
  auto* answer = reinterpret_cast<AnsweringLine::AnswerFunction>(dlsym(module, "SampleServicesAnswer"));
  // The plug-in's address range: what its own code allocates is not counted.
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void*) {
        if (info->dlpi_name == nullptr || std::strstr(info->dlpi_name, "SampleServices") == nullptr) return 0;
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr)& segment = info->dlpi_phdr[i];
          if (segment.p_type != PT_LOAD || (segment.p_flags & PF_X) == 0) continue;
          g_pluginBegin = info->dlpi_addr + segment.p_vaddr;
          g_pluginEnd = g_pluginBegin + segment.p_memsz;
        }
        return 1;
      },
      nullptr);
  return answer;  // the module stays loaded
}

// One component with its line, for the request figures.
class Rig {
 public:
  Rig(int limit, AnsweringLine::AnswerFunction answer) : m_controllers(MakeControllers(1, 1, limit)) {
    m_line.reset(new AnsweringLine(answer));
    if (FAILED(Component().Initialise(m_controllers[0].info.get(), m_sink.get(), m_line.get()))) std::exit(1);
    m_line->Start(&Component());
  }
  ~Rig() {
    ParallelCommunication& component = *m_controllers[0].component;
    component.StopSendReceive();
    m_line->Stop();
    component.UnInitialise();
  }
  ParallelCommunication& Component() { return *m_controllers[0].component; }
  CountingSink& Sink() { return *m_sink; }

 private:
  std::vector<Controller> m_controllers;
  ComHolder<CountingSink> m_sink{new CountingSink};
  ComHolder<AnsweringLine> m_line;
};

std::vector<ComHolder<ReadMessage>> MakeMessages(int owner, long count) {
  std::vector<ComHolder<ReadMessage>> messages;
  messages.reserve(static_cast<std::size_t>(count));
  for (long i = 0; i < count; ++i) messages.emplace_back(new ReadMessage(owner, i));
  return messages;
}

struct Latencies {
  double perSecond = 0;
  std::vector<double> micros;  // sorted
  double At(double quantile) const {
    if (micros.empty()) return 0;
    return micros[std::min(micros.size() - 1, static_cast<std::size_t>(quantile * micros.size()))];
  }
};

// Round trips at limit 1, one after the other.
Latencies LibraryRoundTrips(Rig& rig, long count) {
  auto messages = MakeMessages(0, count);
  Latencies result;
  result.micros.reserve(static_cast<std::size_t>(count));
  LONG code = 0;
  const auto start = Clock::now();
  for (long i = 0; i < count; ++i) {
    const auto begin = Clock::now();
    rig.Component().RequestMessageService(messages[i].get(), &code);
    if (!rig.Sink().WaitFor(0, i + 1)) break;
    result.micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - begin).count());
  }
  result.perSecond = static_cast<double>(result.micros.size()) / Seconds(start);
  std::sort(result.micros.begin(), result.micros.end());
  return result;
}

// Heap allocations of one-step requests, per request.
double LibraryAllocations(Rig& rig, long count) {
  auto messages = MakeMessages(0, count);
  LONG code = 0;
  g_allocations = 0;
  g_counting = true;
  for (long i = 0; i < count; ++i) {
    rig.Component().RequestMessageService(messages[i].get(), &code);
    rig.Sink().WaitFor(0, i + 1);
  }
  g_counting = false;
  return static_cast<double>(g_allocations.load()) / static_cast<double>(count);
}

// Four host threads, `inFlight` requests each; returns requests/s.
double LibraryPipelined(Rig& rig, long perThread, long inFlight) {
  std::vector<std::vector<ComHolder<ReadMessage>>> messages;
  for (int t = 0; t < CountingSink::kOwners; ++t) messages.push_back(MakeMessages(t, perThread));
  const auto start = Clock::now();
  std::vector<std::thread> hosts;
  for (int t = 0; t < CountingSink::kOwners; ++t) {
    hosts.emplace_back([&, t] {
      LONG code = 0;
      for (long i = 0; i < perThread; ++i) {
        if (i >= inFlight && !rig.Sink().WaitFor(t, i - inFlight + 1)) return;
        rig.Component().RequestMessageService(messages[t][i].get(), &code);
      }
      rig.Sink().WaitFor(t, perThread);
    });
  }
  for (auto& host : hosts) host.join();
  return static_cast<double>(perThread * CountingSink::kOwners) / Seconds(start);
}

// --- bare equivalents ---------------------------------------------------------

// A hop: a queue under a mutex with a condition, as the component's are.
template <typename Queue>
struct Hop {
  std::mutex lock;
  std::condition_variable ready;
  Queue items;
  bool stop = false;
};

// The same three threads and hops as a request at any limit: host threads
// append to a send list, a send thread takes it in batches and hands each
// item to a line thread, which "answers" to the owning host thread.
class BarePipe {
 public:
  BarePipe() : m_send([this] { SendLoop(); }), m_line([this] { LineLoop(); }) {}
  ~BarePipe() {
    {
      const std::lock_guard<std::mutex> guard(m_toSend.lock);
      m_toSend.stop = true;
    }
    m_toSend.ready.notify_one();
    {
      const std::lock_guard<std::mutex> guard(m_toLine.lock);
      m_toLine.stop = true;
    }
    m_toLine.ready.notify_one();
    m_send.join();
    m_line.join();
  }
  void Request(int owner) {
    {
      const std::lock_guard<std::mutex> guard(m_toSend.lock);
      m_toSend.items.push_back(owner);
    }
    m_toSend.ready.notify_one();
  }
  bool WaitFor(int owner, long done) {
    std::unique_lock<std::mutex> guard(m_doneLock);
    return m_doneChanged[owner].wait_for(guard, std::chrono::seconds(10), [&] { return m_done[owner] >= done; });
  }

 private:
  void SendLoop() {
    std::vector<int> batch;
    for (;;) {
      {
        std::unique_lock<std::mutex> guard(m_toSend.lock);
        m_toSend.ready.wait(guard, [this] { return m_toSend.stop || !m_toSend.items.empty(); });
        if (m_toSend.stop) return;
        batch.assign(m_toSend.items.begin(), m_toSend.items.end());
        m_toSend.items.clear();
      }
      for (int owner : batch) {
        {
          const std::lock_guard<std::mutex> guard(m_toLine.lock);
          m_toLine.items.push_back(owner);
        }
        m_toLine.ready.notify_one();
      }
    }
  }
  void LineLoop() {
    for (;;) {
      int owner = 0;
      {
        std::unique_lock<std::mutex> guard(m_toLine.lock);
        m_toLine.ready.wait(guard, [this] { return m_toLine.stop || !m_toLine.items.empty(); });
        if (m_toLine.stop) return;
        owner = m_toLine.items.front();
        m_toLine.items.pop_front();
      }
      {
        const std::lock_guard<std::mutex> guard(m_doneLock);
        ++m_done[owner];
      }
      m_doneChanged[owner].notify_one();
    }
  }
  Hop<std::vector<int>> m_toSend;
  Hop<std::deque<int>> m_toLine;
  std::mutex m_doneLock;
  std::condition_variable m_doneChanged[CountingSink::kOwners];
  long m_done[CountingSink::kOwners] = {};
  std::thread m_send;
  std::thread m_line;
};

Latencies BareRoundTrips(long count) {
  BarePipe pipe;
  Latencies result;
  result.micros.reserve(static_cast<std::size_t>(count));
  const auto start = Clock::now();
  for (long i = 0; i < count; ++i) {
    const auto begin = Clock::now();
    pipe.Request(0);
    if (!pipe.WaitFor(0, i + 1)) break;
    result.micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - begin).count());
  }
  result.perSecond = static_cast<double>(result.micros.size()) / Seconds(start);
  std::sort(result.micros.begin(), result.micros.end());
  return result;
}

double BarePipelined(long perThread, long inFlight) {
  BarePipe pipe;
  const auto start = Clock::now();
  std::vector<std::thread> hosts;
  for (int t = 0; t < CountingSink::kOwners; ++t) {
    hosts.emplace_back([&, t] {
      for (long i = 0; i < perThread; ++i) {
        if (i >= inFlight && !pipe.WaitFor(t, i - inFlight + 1)) return;
        pipe.Request(t);
      }
      pipe.WaitFor(t, perThread);
    });
  }
  for (auto& host : hosts) host.join();
  return static_cast<double>(perThread * CountingSink::kOwners) / Seconds(start);
}

// --- lifecycle figures ------------------------------------------------------------

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Lifecycle {
  double initialise = 0;
  double uninitialise = 0;
  double idleCpuShare = 0;  // of one core
};

Lifecycle RunLifecycle(int components, int perTarget, double idleSeconds) {
  auto controllers = MakeControllers(components, perTarget, 1);
  const ComHolder<CountingSink> sink(new CountingSink);
  const ComHolder<AnsweringLine> line(new AnsweringLine(nullptr));
  Lifecycle result;
  auto start = Clock::now();
  for (auto& c : controllers) {
    if (FAILED(c.component->Initialise(c.info.get(), sink.get(), line.get()))) std::exit(1);
  }
  result.initialise = Seconds(start);
  const double cpuBefore = CpuSeconds();
  start = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(idleSeconds));
  result.idleCpuShare = (CpuSeconds() - cpuBefore) / Seconds(start);
  start = Clock::now();
  for (auto& c : controllers) c.component->UnInitialise();
  result.uninitialise = Seconds(start);
  return result;
}

// --- trace figures ----------------------------------------------------------------

// An empty call: a variadic function that is called (its body cannot be
// removed) and does nothing.
__attribute__((noinline)) void EmptyTrace(const char* format, ...) { asm volatile("" ::"r"(format) : "memory"); }

// Nanoseconds per call of an empty function at a call site like the
// component's.
__attribute__((noinline)) double EmptyCallNanos(long count) {
  const auto start = Clock::now();
  for (long i = 0; i < count; ++i) EmptyTrace("ParallelCommunication::Send(), Line(%d)\n", 42);
  return Seconds(start) * 1e9 / static_cast<double>(count);
}

// Nanoseconds per trace with tracing off at a call site written as the
// component's are (the on/off check reads atomics, so it stays in the loop).
__attribute__((noinline)) double TraceOffNanos(long count) {
  const auto start = Clock::now();
  for (long i = 0; i < count; ++i) QTMTraceDevice("ParallelCommunication::Send(), Line(%d)\n", 42);
  return Seconds(start) * 1e9 / static_cast<double>(count);
}

// Lines per second written by `writers` threads with a viewer draining.
double LibraryTraceLines(CQTMTraceReader& reader, int writers, long perWriter) {
  reader.SetFilter("HO");
  reader.SetTracing(true);
  std::atomic<bool> stop{false};
  long delivered = 0;
  std::thread viewer([&] {
    std::vector<std::string> lines;
    while (!stop.load()) {
      reader.WaitForLines(100);
      reader.TakeLines(lines);
      delivered += static_cast<long>(lines.size());
      lines.clear();
    }
  });
  const auto start = Clock::now();
  std::vector<std::thread> threads;
  for (int w = 0; w < writers; ++w) {
    threads.emplace_back([perWriter] {
      for (long i = 0; i < perWriter; ++i) QTMTraceDevice("ParallelCommunication::Send(), Line(%d)\n", 42);
    });
  }
  for (auto& t : threads) t.join();
  const double seconds = Seconds(start);
  reader.SetTracing(false);
  stop.store(true);
  reader.Wake();
  viewer.join();
  return static_cast<double>(delivered) / seconds;  // lines that reached the viewer
}

// The bare equivalent: each line formatted on the stack and copied into a
// ring under a mutex (a writer waits for room when it is full), a viewer
// thread copying out every pending line per wake-up and making strings of
// them outside the lock, as the channel's viewer does.
double BareTraceLines(int writers, long perWriter) {
  constexpr std::size_t kSlots = 1000;
  constexpr std::size_t kLine = 513;
  static char ring[kSlots][kLine];
  std::mutex lock;
  std::condition_variable filled;
  std::condition_variable room;
  std::size_t head = 0;
  std::size_t tail = 0;
  bool stop = false;
  long delivered = 0;
  std::thread viewer([&] {
    std::vector<char> copied(kSlots * kLine);
    std::vector<std::string> lines;
    for (;;) {
      std::size_t taken = 0;
      {
        std::unique_lock<std::mutex> guard(lock);
        filled.wait_for(guard, std::chrono::milliseconds(100), [&] { return stop || head != tail; });
        if (stop && head == tail) return;
        for (; head != tail; ++head, ++taken) std::memcpy(&copied[taken * kLine], ring[head % kSlots], kLine);
      }
      room.notify_all();
      for (std::size_t i = 0; i < taken; ++i) lines.emplace_back(&copied[i * kLine]);
      delivered += static_cast<long>(lines.size());
      lines.clear();
    }
  });
  const auto start = Clock::now();
  std::vector<std::thread> threads;
  for (int w = 0; w < writers; ++w) {
    threads.emplace_back([&] {
      for (long i = 0; i < perWriter; ++i) {
        char line[kLine];
        const int length = std::snprintf(line, sizeof line, "ParallelCommunication::Send(), Line(%d)\n", 42);
        std::unique_lock<std::mutex> guard(lock);
        room.wait(guard, [&] { return tail - head < kSlots; });
        std::memcpy(ring[tail % kSlots], line, static_cast<std::size_t>(length) + 1);
        if (tail++ == head) filled.notify_one();
      }
    });
  }
  for (auto& t : threads) t.join();
  {
    const std::lock_guard<std::mutex> guard(lock);
    stop = true;
  }
  filled.notify_one();
  viewer.join();
  return static_cast<double>(delivered) / Seconds(start);
}

// --- the table ----------------------------------------------------------------------

enum class Goal { kAtLeast, kAtMost, kNone };

void Row(const char* figure, double library, double bare, double ratio, const char* goalText, Goal goal,
         double goalValue, double judged) {
  const char* met = goal == Goal::kNone ? "-"
                    : (goal == Goal::kAtLeast ? judged >= goalValue : judged <= goalValue) ? "yes"
                                                                                          : "NO";
  char bareText[32] = "-";
  char ratioText[32] = "-";
  if (bare >= 0) std::snprintf(bareText, sizeof bareText, "%.4g", bare);
  if (ratio >= 0) std::snprintf(ratioText, sizeof ratioText, "%.2f", ratio);
  std::printf("%-44s %12.4g %12s %7s  %-16s %s\n", figure, library, bareText, ratioText, goalText, met);
}

}  // namespace

int main(int argc, char** argv) {
  const bool brief = argc > 1 && std::strcmp(argv[1], "--short") == 0;
  const std::string suffix = "-commsbench-" + std::to_string(getpid());
  setenv(qtmtrace::kSuffixVariable, suffix.c_str(), 1);
  // The channel of this run: created by attaching a viewer, then opened by
  // the library's writer side.
  auto reader = CQTMTraceReader::Attach(qtmtrace::TraceNameSuffix());
  qtmtrace::ReopenChannelForTesting();
  if (reader) reader->SetTracing(false);

  const long trips = brief ? 200 : 20000;
  const long perThread = brief ? 100 : 10000;
  const ResultClass resultClass;
  const AnsweringLine::AnswerFunction answer = FindAnswer();

  Latencies library1;
  Latencies bare1;
  double library16 = 0;
  double bare16 = 0;
  double allocations = 0;
  {
    Rig rig1(1, answer);
    LibraryRoundTrips(rig1, trips / 10);  // warm-up
    library1 = LibraryRoundTrips(rig1, trips);
    bare1 = BareRoundTrips(trips);
    allocations = LibraryAllocations(rig1, brief ? 50 : 2000);
  }
  {
    // Six threads on a machine of few cores: the rate swings with where the
    // scheduler puts them (a first run is often much slower than the rest,
    // for the bare pipe too). The figure is the median of rounds that take
    // the library and the bare pipe in turn.
    Rig rig16(16, answer);
    LibraryPipelined(rig16, perThread / 10, 4);
    BarePipelined(perThread / 10, 4);
    constexpr int kRounds = 7;
    std::vector<double> libraryRates, bareRates;
    for (int round = 0; round < (brief ? 1 : kRounds); ++round) {
      libraryRates.push_back(LibraryPipelined(rig16, perThread / 2, 4));
      bareRates.push_back(BarePipelined(perThread / 2, 4));
    }
    library16 = Median(libraryRates);
    bare16 = Median(bareRates);
  }
  const Lifecycle idle = RunLifecycle(brief ? 50 : 500, 1, brief ? 0.2 : 5.0);
  const Lifecycle registration = RunLifecycle(brief ? 100 : 1000, 2, 0);

  const long lines = brief ? 20000 : 1000000;
  double trace1 = 0, trace2 = 0, traceOff = 0, emptyCall = 0, bareTrace1 = 0, bareTrace2 = 0;
  if (reader) {
    // Medians of rounds, for the same reason as at limit 16.
    std::vector<double> one, two, bareOne, bareTwo;
    for (int round = 0; round < (brief ? 1 : 3); ++round) {
      one.push_back(LibraryTraceLines(*reader, 1, lines));
      two.push_back(LibraryTraceLines(*reader, 2, lines / 2));
      bareOne.push_back(BareTraceLines(1, lines));
      bareTwo.push_back(BareTraceLines(2, lines / 2));
    }
    trace1 = Median(one);
    trace2 = Median(two);
    bareTrace1 = Median(bareOne);
    bareTrace2 = Median(bareTwo);
    reader->SetTracing(false);
    emptyCall = EmptyCallNanos(lines * 10);
    traceOff = TraceOffNanos(lines * 10);
  }
  reader.reset();
  CQTMTraceReader::RemoveChannel(qtmtrace::TraceNameSuffix());

  std::printf("%-44s %12s %12s %7s  %-16s %s\n", "figure", "library", "bare", "ratio", "goal", "met");
  Row("round trip, limit 1 (requests/s)", library1.perSecond, bare1.perSecond, library1.perSecond / bare1.perSecond,
      ">= 0.8", Goal::kAtLeast, 0.8, library1.perSecond / bare1.perSecond);
  Row("limit 16, 4 host threads (requests/s)", library16, bare16, library16 / bare16, ">= 0.9", Goal::kAtLeast, 0.9,
      library16 / bare16);
  Row("limit 16 rate / limit 1 rate", library16 / library1.perSecond, -1, -1, "-", Goal::kNone, 0, 0);
  Row("latency p50, limit 1 (us)", library1.At(0.5), bare1.At(0.5), library1.At(0.5) / bare1.At(0.5), "-",
      Goal::kNone, 0, 0);
  Row("latency p99, limit 1 (us)", library1.At(0.99), bare1.At(0.99), library1.At(0.99) / bare1.At(0.99), "-",
      Goal::kNone, 0, 0);
  Row("latency p99.9, limit 1 (us)", library1.At(0.999), bare1.At(0.999), library1.At(0.999) / bare1.At(0.999),
      "-", Goal::kNone, 0, 0);
  Row(brief ? "idle CPU, 50 components (% of a core)" : "idle CPU, 500 components, 5 s (% of a core)",
      idle.idleCpuShare * 100, -1, -1, "< 1 %", Goal::kAtMost, 1.0, idle.idleCpuShare * 100);
  Row(brief ? "Initialise 100 on 50 targets (s)" : "Initialise 1,000 on 500 targets (s)", registration.initialise,
      -1, -1, "< 0.3 s", Goal::kAtMost, 0.3, registration.initialise);
  Row(brief ? "UnInitialise 100 on 50 targets (s)" : "UnInitialise 1,000 on 500 targets (s)",
      registration.uninitialise, -1, -1, "< 0.2 s", Goal::kAtMost, 0.2, registration.uninitialise);
  Row("heap allocations per one-step request", allocations, -1, -1, "<= 4", Goal::kAtMost, 4, allocations);
  Row("trace lines/s, 1 writer, viewer draining", trace1, bareTrace1, trace1 / bareTrace1, ">= 2M lines/s",
      Goal::kAtLeast, 2e6, trace1);
  Row("trace lines/s, 2 writers, viewer draining", trace2, bareTrace2, trace2 / bareTrace2, "> 1 writer",
      Goal::kAtLeast, trace1, trace2);
  Row("trace call, tracing off (ns) vs empty call", traceOff, emptyCall, traceOff / emptyCall, "<= +1 ns",
      Goal::kAtMost, emptyCall + 1, traceOff);
  return 0;
}
