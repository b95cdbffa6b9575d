// PlcSimProcess.h: the controller simulator (tools/plc-sim) run as a child
// process for a test.
//
// Start runs it (popen) on an ephemeral loopback port with the given options
// and waits (at most 10 s) for the port it prints. Stop sends SIGTERM and
// collects the summary it prints at exit. The destructor kills a simulator
// still running. Owns the child and the read end of its stdout; used from the
// test's thread only.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

namespace plcsimtest {

class PlcSimProcess {
 public:
  PlcSimProcess() = default;
  ~PlcSimProcess();
  PlcSimProcess(const PlcSimProcess&) = delete;
  PlcSimProcess& operator=(const PlcSimProcess&) = delete;

  // False when the simulator did not start or printed no port.
  bool Start(const std::vector<std::string>& options);
  int Port() const { return m_port; }
  // Stops the simulator with SIGTERM; true when it exited 0 in time. Its
  // output stays in Output().
  bool Stop();
  const std::string& Output() const { return m_output; }
  // The "max in flight per connection" of the summary, -1 when absent.
  int MaxInFlight() const;

 private:
  void Kill();
  bool ReadUntil(const std::string& text, int timeoutMs);

  pid_t m_pid = -1;
  std::FILE* m_pipe = nullptr;
  int m_port = 0;
  std::string m_output;
};

}  // namespace plcsimtest
