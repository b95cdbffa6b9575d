#include "PlcSimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace plcsimtest {

namespace {

// Bounds that only catch a simulator that hangs.
constexpr int kStartMs = 10000;
constexpr int kStopMs = 10000;

}  // namespace

PlcSimProcess::~PlcSimProcess() { Kill(); }

bool PlcSimProcess::Start(const std::vector<std::string>& options, int port) {
  Kill();
  m_output.clear();
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  // A test killed by its time-out leaves no simulator behind.
  std::vector<std::string> arguments{PLC_SIM_PATH, "--port", std::to_string(port), "--max-seconds", "300",
                                     "--parent", std::to_string(::getpid())};
  arguments.insert(arguments.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  const int spawned = posix_spawn(&m_pid, PLC_SIM_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  m_stdout = pipeFds[0];
  if (spawned != 0) {
    m_pid = -1;
    return false;
  }
  if (!ReadUntil("\n", kStartMs)) return false;
  const std::size_t colon = m_output.rfind(':', m_output.find('\n'));
  if (m_output.rfind("plc-sim: listening on ", 0) != 0 || colon == std::string::npos) return false;
  m_port = std::atoi(m_output.c_str() + colon + 1);
  return m_port > 0;
}

bool PlcSimProcess::Stop() {
  if (m_pid < 0) return false;
  ::kill(m_pid, SIGTERM);
  ReadUntil("max in flight per connection", kStopMs);
  int status = 0;
  pid_t done = 0;
  for (int i = 0; i < kStopMs / 10 && (done = ::waitpid(m_pid, &status, WNOHANG)) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (done != m_pid) {
    Kill();
    return false;
  }
  m_pid = -1;
  ::close(m_stdout);
  m_stdout = -1;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void PlcSimProcess::Kill() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
  }
  if (m_stdout >= 0) ::close(m_stdout);
  m_stdout = -1;
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
    if (left.count() <= 0) return false;
    pollfd readable{m_stdout, POLLIN, 0};
    if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[512];
    const ssize_t n = ::read(m_stdout, buffer, sizeof(buffer));
    if (n <= 0) return m_output.find(text) != std::string::npos;
    m_output.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace plcsimtest
