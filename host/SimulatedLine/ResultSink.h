// ResultSink.h: the host's result sink for one component.
//
// Prints every result it receives on one line (controller, message key, code
// in hex, complete flag, data in hex) and counts the complete results of each
// device message, so the host can wait until its requests have ended and see
// whether any ended twice. Messages are only compared by address: the sink
// keeps no reference on them, the caller keeps them alive while it asks.
// Ownership: reference counted (HostObject.h). Threads: results arrive on
// the component's threads while the host waits and asks on its own; m_lock
// guards the counts, and a process-wide lock keeps printed lines whole.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "HostObject.h"

namespace simline {

class ResultSink final : public hostcom::HostObject<ITARVO_DeviceResultCallback, IID_ITARVO_DeviceResultCallback> {
 public:
  // A new sink with one reference for the caller; `name` starts each line.
  static ResultSink* Create(std::string name);

  HRESULT STDMETHODCALLTYPE ReceiveDeviceResult(ITARVO_DeviceResult* result) override;
  HRESULT STDMETHODCALLTYPE ReceiveDeviceResults(LONG count, ITARVO_DeviceResult** results) override;

  // Complete results received so far for `message`.
  int Completed(const ITARVO_DeviceMessage* message) const;
  // Waits until each message has a complete result or `timeout` passed;
  // true when all have one.
  bool WaitForAll(const std::vector<ITARVO_DeviceMessage*>& messages, std::chrono::milliseconds timeout) const;
  // Results with a failure code (negative) among all results received.
  int Failed() const;

 private:
  explicit ResultSink(std::string name) : m_name(std::move(name)) {}
  ~ResultSink() override = default;
  void Take(ITARVO_DeviceResult* result);
  bool AllCompleteLocked(const std::vector<ITARVO_DeviceMessage*>& messages) const;

  const std::string m_name;
  mutable std::mutex m_lock;
  mutable std::condition_variable m_changed;
  std::map<const ITARVO_DeviceMessage*, int> m_completed;  // guarded by m_lock
  int m_failed = 0;                                        // guarded by m_lock
};

}  // namespace simline
