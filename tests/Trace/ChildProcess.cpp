#include "ChildProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "Trace/TraceLayout.h"

extern char** environ;

ChildProcess::ChildProcess(const std::string& mode, const std::vector<std::string>& arguments,
                           const std::string& suffix) {
  std::vector<std::string> argStrings{"/proc/self/exe"};
  if (!mode.empty()) argStrings.push_back("--child=" + mode);
  argStrings.insert(argStrings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : argStrings) argv.push_back(argument.data());
  argv.push_back(nullptr);

  const std::string variable = std::string(qtmtrace::kSuffixVariable) + "=";
  std::vector<std::string> envStrings;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, variable.c_str(), variable.size()) != 0) envStrings.emplace_back(*entry);
  }
  envStrings.push_back(variable + suffix);
  std::vector<char*> envp;
  for (std::string& entry : envStrings) envp.push_back(entry.data());
  envp.push_back(nullptr);

  if (posix_spawn(&m_pid, "/proc/self/exe", nullptr, nullptr, argv.data(), envp.data()) != 0) m_pid = -1;
}

ChildProcess::~ChildProcess() {
  if (Running()) Kill();
}

bool ChildProcess::Running() {
  if (m_pid <= 0 || m_reaped) return false;
  if (waitpid(m_pid, &m_status, WNOHANG) == m_pid) m_reaped = true;
  return !m_reaped;
}

int ChildProcess::Wait(int milliseconds) {
  for (int waited = 0; Running() && waited < milliseconds; waited += 2) usleep(2000);
  if (Running()) {
    Kill();
    return -1;
  }
  if (m_pid <= 0) return -1;
  return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1;
}

void ChildProcess::Kill() {
  if (m_pid <= 0 || m_reaped) return;
  kill(m_pid, SIGKILL);
  waitpid(m_pid, &m_status, 0);
  m_reaped = true;
}
