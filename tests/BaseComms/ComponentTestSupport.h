// ComponentTestSupport.h: what the component tests share.
//
// Host: the host doubles wired as a host wires them for one controller (a
// device configuration with an empty local service set, its device
// information, the result sink, the protocol layer and the device-result
// class). TraceCapture: the component's trace lines while it lives (tracing
// is off otherwise, so tests that do not look never fill the channel).
// RunningComponent: a component with a host of its own, initialised by Start
// and uninitialised when the test is done with it, so each test ends with the
// host doubles' reference counts at zero (the doubles check that); device
// messages handed to it must be declared before it, since results the sink
// keeps hold references on them until it is cleared. Line: what a protocol
// double sent, for threads that answer it. Watchdog: ends a program that
// hangs. WaitUntil and Gate: bounded waits for something another thread does.
//
// Threads: Line may be used from any thread (its lock guards its queue);
// the others belong to the test's thread.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BaseComms/OneByOneCommunication.h"
#include "Support/DispatchTestAccess.h"
#include "Support/HostDoubles.h"

namespace componenttest {

inline constexpr wchar_t kLocalServices[] = L"%Network%/Services/Services[@Name='Local']/Service";
inline constexpr wchar_t kReleaseVersionPath[] = L"%CPU%/DriverVersionInfo/DriverReleaseVersion";

struct Host {
  explicit Host(const std::wstring& configurationText = L"LINE=1") {
    config.configuration[L""] = configurationText;
    protocol.runtimeInformation = configurationText;  // Initialise writes it back unchanged
    config.nodeLists[kLocalServices] = &services;
    config.nodes[kReleaseVersionPath] = &releaseVersion;
    releaseVersion.text = L"1.2.3";
  }
  ITARVO_DeviceConfig* Config() { return &config; }
  // Configures class `className` of module `path` for command `commandNo` in the local service set.
  doubles::FakeConfigNode& AddService(LPCWSTR commandNo, LPCWSTR path, LPCWSTR className, LPCWSTR superClass = L"") {
    doubles::FakeConfigNode& node = serviceNodes.emplace_back();
    node.DescribeService(commandNo, path, className, superClass);
    services.nodes.push_back(&node);
    return node;
  }

  doubles::DeviceResultClass resultClass;
  std::deque<doubles::FakeConfigNode> serviceNodes;
  doubles::FakeConfigNodeList services;  // none unless added: enough for the generator
  doubles::FakeConfigNode releaseVersion;
  doubles::FakeDeviceConfig config;
  doubles::FakeDeviceInfo info{static_cast<ITARVO_DeviceConfig*>(&config)};
  doubles::FakeResultCallback sink;
  doubles::FakeProtocolComms protocol;
};

class RunningComponent {
 public:
  explicit RunningComponent(const std::wstring& configurationText = L"LINE=1", bool oneByOne = false)
      : host(configurationText),
        component(oneByOne ? OneByOneCommunication::CreateInstance() : ParallelCommunication::CreateInstance()) {}
  ~RunningComponent() {
    component->UnInitialise();
    component.reset();
    host.sink.Clear();
  }
  RunningComponent(const RunningComponent&) = delete;
  RunningComponent& operator=(const RunningComponent&) = delete;

  void Start() { ASSERT_EQ(component->Initialise(&host.info, &host.sink, &host.protocol), S_OK); }
  ParallelCommunication* operator->() { return component.get(); }
  LONG Key() { return DispatchTestAccess::Key(*component); }
  DWORD RuntimeVersion() { return DispatchTestAccess::RuntimeVersion(*component); }
  LONG Execute(ITARVO_DeviceMessage* message, LONG* resultCode) {
    return component->RequestMessageService(message, resultCode);
  }

  // The data of a set-runtime-version request: 4 bytes not examined, the tag,
  // the count, the version.
  static std::vector<BYTE> SetRequest(BYTE major, BYTE minor, BYTE build, BYTE tagLow = 0xC9) {
    return {0x11, 0x22, 0x33, 0x44, tagLow, 0x02, 0x03, 0x00, major, minor, build};
  }

  Host host;
  std::unique_ptr<ParallelCommunication> component;
};

// The line between a protocol double and the threads that answer what was
// sent on it, in the order it was sent. Safe from any thread.
class Line {
 public:
  struct Sent {
    ITARVO_ProtocolMessage* message;  // one reference
    int component;
  };
  // Takes a reference on `message`; false (none taken) once the line is closed.
  bool Push(ITARVO_ProtocolMessage* message, int component = 0) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_closed) return false;
    message->AddRef();
    m_sent.push_back({message, component});
    m_ready.notify_one();
    return true;
  }
  // Waits for the next message (the caller gets its reference); false once closed and empty.
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
  std::deque<Sent> m_sent;  // guarded by m_lock
  bool m_closed = false;    // guarded by m_lock
};

// A latch a host double's hook waits on, with a bound so no test hangs. Opens
// once; safe from any thread.
class Gate {
 public:
  void Open() { m_open.set_value(); }
  bool Wait() { return m_opened.wait_for(std::chrono::seconds(5)) == std::future_status::ready; }

 private:
  std::promise<void> m_open;
  std::shared_future<void> m_opened = m_open.get_future().share();
};

// Aborts the program, saying what `hung` returns, unless the returned thread
// is stopped (destroyed) within `limit`: a hang cannot be failed otherwise.
inline std::jthread Watchdog(std::chrono::seconds limit, std::function<std::string()> hung) {
  return std::jthread([limit, hung = std::move(hung)](std::stop_token stop) {
    std::mutex lock;
    std::condition_variable_any stopped;
    std::unique_lock<std::mutex> guard(lock);
    if (stopped.wait_for(guard, stop, limit, [] { return false; }) || stop.stop_requested()) return;
    std::fprintf(stderr, "%s: aborting\n", hung().c_str());
    std::abort();
  });
}

class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  // Every line taken so far.
  const std::vector<std::string>& Lines();
  // Whether a line taken so far contains `text`.
  bool Contains(const std::string& text);

 private:
  std::vector<std::string> m_lines;
};

// The results `sink` received, as device results of the fake class.
inline std::vector<doubles::FakeDeviceResult*> Received(doubles::FakeResultCallback& sink) {
  std::vector<doubles::FakeDeviceResult*> received;
  for (ITARVO_DeviceResult* result : sink.Results()) received.push_back(static_cast<doubles::FakeDeviceResult*>(result));
  return received;
}

// A function of the module at `path` if it is loaded (it is not loaded here), else null.
template <typename Function>
Function* LoadedModuleFunction(const char* path, const char* name) {
  void* module = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (module == nullptr) return nullptr;
  auto* function = reinterpret_cast<Function*>(dlsym(module, name));
  dlclose(module);  // drops only the reference taken here
  return function;
}

// Polls `condition` every millisecond for at most `milliseconds`.
inline bool WaitUntil(const std::function<bool()>& condition, unsigned milliseconds = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace componenttest
