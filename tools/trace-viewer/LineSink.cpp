#include "LineSink.h"

#include <time.h>

#include <chrono>

LineSink::~LineSink() {
  if (m_pFile != nullptr) std::fclose(m_pFile);
}

bool LineSink::OpenFile(const std::string& path) {
  m_pFile = std::fopen(path.c_str(), "a");
  return m_pFile != nullptr;
}

std::string LineSink::TimeStamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d ", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(milliseconds));
  return text;
}

void LineSink::Write(const std::vector<std::string>& lines) {
  const std::string stamp = m_stamp ? TimeStamp() : std::string();
  for (const std::string& taken : lines) {
    const std::string line = stamp + taken;
    if (m_echo) std::fwrite(line.data(), 1, line.size(), stdout);
    if (m_pFile != nullptr) std::fwrite(line.data(), 1, line.size(), m_pFile);
    if (m_observer) m_observer(line);
  }
  if (m_echo) std::fflush(stdout);
  if (m_pFile != nullptr) std::fflush(m_pFile);
}
