// TraceReader.h: the viewer's side of the trace channel.
//
// A reader creates the channel's mapping (kChannelSize bytes, zero filled),
// mutex and event when they are absent, or opens them, and then claims the
// mapping (NamedObjects.h): one live reader per channel. The claim tells the
// writers that a viewer lives; it ends with the reader, however its process
// ends. A second reader is refused while the first lives. A reader that gets
// the claim starts the block afresh: tracing off, empty filter, no pending
// lines, indices and drop count zero, its process id recorded.
//
// It switches tracing on and off, sets the filter, and takes the pending
// lines. It keeps its read position in the field at offset 44; since the
// writers' pending count and write index are what counts, a position that
// does not agree with them (a process died half-way) is recomputed from them.
//
// The reader owns its handles and its view and gives them up when destroyed,
// switching tracing off first; the named objects themselves stay
// (NamedObjects.h), so that writers still running are reached by the next
// reader. Thread-safety: one reader object is used by one thread at a time;
// the channel itself is guarded by the named trace mutex, which the reader
// takes (waiting at most a second) for each access and never holds while it
// waits for the event.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Platform/WinTypes.h"

class CQTMTraceReader {
 public:
  // Attaches to the channel whose object names end in `suffix` (the writers
  // use TraceNameSuffix()). Null with the last error set on failure: then
  // ERROR_BUSY means that a live reader holds the channel, and
  // `pLiveReaderPid` (when given) receives its process id (0 if unknown).
  static std::unique_ptr<CQTMTraceReader> Attach(const std::string& suffix, DWORD* pLiveReaderPid = nullptr);
  // Removes the channel's three named objects (those with `suffix`), so the
  // next attach starts afresh. Open handles and views stay valid.
  static void RemoveChannel(const std::string& suffix);

  ~CQTMTraceReader();
  CQTMTraceReader(const CQTMTraceReader&) = delete;
  CQTMTraceReader& operator=(const CQTMTraceReader&) = delete;

  void SetTracing(bool on);
  // At most 34 characters are kept (the field holds 35 with the NUL).
  void SetFilter(const std::string& filter);
  std::string Filter();

  // Appends every pending line, oldest first, to `lines` and marks them
  // taken. Holds the mutex only while copying. Returns how many were taken.
  std::size_t TakeLines(std::vector<std::string>& lines);
  // Lines that writers dropped since this reader attached.
  LONG DroppedLines();

  // Waits up to `milliseconds` (INFINITE: no limit) for the event that
  // writers set after each line. True when it was set.
  bool WaitForLines(DWORD milliseconds);
  // Wakes a thread blocked in WaitForLines (sets the event).
  void Wake();

  // The raw block, for tests that arrange the numbers directly.
  BYTE* View() { return m_pView; }

 private:
  CQTMTraceReader(HANDLE mapping, BYTE* view, HANDLE mutex, HANDLE event);

  const HANDLE m_mapping;  // holds the claim
  BYTE* const m_pView;     // the shared block; guarded by the named mutex m_mutex
  const HANDLE m_mutex;
  const HANDLE m_event;
};
