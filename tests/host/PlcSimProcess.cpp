#include "PlcSimProcess.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace plcsimtest {

// The bound of each wait for the simulator; it only catches one that hangs.
constexpr int kBoundMs = 10000;

PlcSimProcess::~PlcSimProcess() { Kill(); }

bool PlcSimProcess::Start(const std::vector<std::string>& options) {
  Kill();
  m_output.clear();
  // The shell prints its pid and becomes the simulator. A test killed by its
  // time-out leaves no simulator behind (--parent).
  std::string command =
      "echo $$; exec '" PLC_SIM_PATH "' --port 0 --max-seconds 300 --parent " + std::to_string(::getpid());
  for (const std::string& option : options) command += " '" + option + "'";
  m_pipe = ::popen(command.c_str(), "re");
  if (m_pipe == nullptr || !ReadUntil("\n", kBoundMs)) return false;
  m_pid = std::atoi(m_output.c_str());
  m_output.erase(0, m_output.find('\n') + 1);
  const std::string listening = "plc-sim: listening on ";
  if (!ReadUntil("\n", kBoundMs) || m_output.rfind(listening, 0) != 0) return false;
  m_port = std::atoi(m_output.c_str() + m_output.rfind(':', m_output.find('\n')) + 1);
  return m_port > 0;
}

bool PlcSimProcess::Stop() {
  if (m_pid <= 0) return false;
  ::kill(m_pid, SIGTERM);
  if (!ReadUntil("max in flight per connection", kBoundMs)) ::kill(m_pid, SIGKILL);
  const int status = ::pclose(m_pipe);
  m_pipe = nullptr;
  m_pid = -1;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void PlcSimProcess::Kill() {
  if (m_pid > 0) ::kill(m_pid, SIGKILL);
  if (m_pipe != nullptr) ::pclose(m_pipe);
  m_pipe = nullptr;
  m_pid = -1;
}

int PlcSimProcess::MaxInFlight() const {
  const std::string key = "max in flight per connection: ";
  const std::size_t at = m_output.find(key);
  return at == std::string::npos ? -1 : std::atoi(m_output.c_str() + at + key.size());
}

bool PlcSimProcess::ReadUntil(const std::string& text, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (m_output.find(text) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    pollfd readable{::fileno(m_pipe), POLLIN, 0};
    if (left.count() <= 0) return false;
    if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[512];
    const ssize_t n = ::read(readable.fd, buffer, sizeof(buffer));
    if (n <= 0) return false;
    m_output.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace plcsimtest
