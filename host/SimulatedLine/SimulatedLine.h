// SimulatedLine.h: a protocol layer that plays a line with controllers on it.
//
// Send takes a reference on the protocol message and queues it; the line's
// worker thread answers each message after a small delay (the answer is the
// sent bytes, each complemented), hands it to the component's Receive and
// releases it. The answer is set through the message's
// ITARVO_ProtocolResponse, or for a message without it through
// SampleServicesAnswer of the sample plug-in module (found in the already
// loaded module). Every `refuseEvery`-th message is
// refused (0: none), which the component reports as a send failure.
//
// Ownership: reference counted (HostObject.h); holds one reference on each
// queued message. The component is not owned: Start binds it, Stop (which
// joins the worker and releases what is still queued) must come before the
// component goes away. Threads: Send from the component's send thread,
// Start/Stop and the counters from the host's; m_lock guards the queue and
// the stop flag.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "BaseComms/BaseComms.h"
#include "HostObject.h"

namespace simline {

class SimulatedLine final : public hostcom::HostObject<ITARVO_ProtocolComms, IID_ITARVO_ProtocolComms> {
 public:
  struct Settings {
    std::string answerModule;  // path of the module that exports SampleServicesAnswer
    std::chrono::milliseconds delay{3};
    ULONG refuseEvery = 0;
  };

  // A new line with one reference for the caller.
  static SimulatedLine* Create(Settings settings);

  // Starts the worker, which answers to `component`.
  void Start(ParallelCommunication* component);
  // Stops the worker and drops the messages not answered yet.
  void Stop();

  HRESULT STDMETHODCALLTYPE Send(ITARVO_ProtocolMessage* message) override;

  ULONG Answered() const;
  ULONG Refused() const;

 private:
  struct Queued {
    ITARVO_ProtocolMessage* pMessage;  // one reference
    std::chrono::steady_clock::time_point due;
  };
  using AnswerFunction = bool (*)(ITARVO_ProtocolMessage*, const BYTE*, ULONG);

  explicit SimulatedLine(Settings settings) : m_settings(std::move(settings)) {}
  ~SimulatedLine() override;
  void Run();
  void Answer(ITARVO_ProtocolMessage* message);
  AnswerFunction FindAnswerFunction();

  const Settings m_settings;
  ParallelCommunication* m_pComponent = nullptr;  // set before the worker starts
  std::thread m_worker;
  AnswerFunction m_answer = nullptr;  // worker thread only
  mutable std::mutex m_lock;
  std::condition_variable m_queued;
  std::deque<Queued> m_queue;  // guarded by m_lock
  bool m_running = false;      // guarded by m_lock
  ULONG m_sent = 0;            // guarded by m_lock
  ULONG m_answered = 0;        // guarded by m_lock
  ULONG m_refused = 0;         // guarded by m_lock
};

}  // namespace simline
