#include "LineSink.h"

LineSink::~LineSink() {
  if (m_pFile != nullptr) std::fclose(m_pFile);
}

bool LineSink::OpenFile(const std::string& path) {
  m_pFile = std::fopen(path.c_str(), "a");
  return m_pFile != nullptr;
}

void LineSink::Write(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (m_echo) std::fwrite(line.data(), 1, line.size(), stdout);
    if (m_pFile != nullptr) std::fwrite(line.data(), 1, line.size(), m_pFile);
  }
  if (m_echo) std::fflush(stdout);
  if (m_pFile != nullptr) std::fflush(m_pFile);
}
