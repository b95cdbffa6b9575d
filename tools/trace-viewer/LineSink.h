// LineSink.h: where the viewer puts the lines it takes: standard output and,
// when asked, a file (appended to), each line stamped with the time of day it
// was taken ("HH:MM:SS.mmm "), and an observer (the summary and timeline
// model). Owned and used by the viewer's main thread only.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

class LineSink {
 public:
  LineSink() = default;
  ~LineSink();
  LineSink(const LineSink&) = delete;
  LineSink& operator=(const LineSink&) = delete;

  // Also writes to `path` (appended). False when it cannot be opened; errno
  // tells why.
  bool OpenFile(const std::string& path);
  void SetEcho(bool echo) { m_echo = echo; }
  void SetTimeStamps(bool stamp) { m_stamp = stamp; }
  void SetObserver(std::function<void(const std::string&)> observer) { m_observer = std::move(observer); }
  // Writes the lines (each ends with its own line end) and flushes.
  void Write(const std::vector<std::string>& lines);

  // The local time of day now, "HH:MM:SS.mmm ".
  static std::string TimeStamp();

 private:
  bool m_echo = true;
  bool m_stamp = true;
  std::FILE* m_pFile = nullptr;
  std::function<void(const std::string&)> m_observer;
};
