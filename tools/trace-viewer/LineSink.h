// LineSink.h: where the viewer puts the lines it takes: standard output and,
// when asked, a file (appended to). Owned and used by the viewer's main
// thread only.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

class LineSink {
 public:
  LineSink() = default;
  ~LineSink();
  LineSink(const LineSink&) = delete;
  LineSink& operator=(const LineSink&) = delete;

  // Also writes to `path` (appended). False when it cannot be opened.
  bool OpenFile(const std::string& path);
  void SetEcho(bool echo) { m_echo = echo; }
  // Writes the lines as they are (each ends with its own line end) and flushes.
  void Write(const std::vector<std::string>& lines);

 private:
  bool m_echo = true;
  std::FILE* m_pFile = nullptr;
};
