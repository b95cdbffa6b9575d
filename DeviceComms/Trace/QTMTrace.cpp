#include "Trace/QTMTrace.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "Platform/Process.h"
#include "Platform/Thread.h"
#include "Platform/Time.h"
#include "Trace/TraceChannel.h"
#include "Trace/TraceSink.h"

namespace qtmtrace {

namespace {

// The process's file name without folder and extension, in lower case;
// filled once, under the trace lock, at the first prefix that shows it, and
// only read after that (the file name never changes). The flag is released
// after the fill, so a reader that sees it set sees the whole name.
char g_moduleName[MAX_PATH];
std::atomic<bool> g_moduleNameKnown{false};

const char* ModuleName() {
  if (!g_moduleNameKnown.load(std::memory_order_acquire)) {
    CQTMTraceLockGuard lock(g_traceLock);
    if (!g_moduleNameKnown.load(std::memory_order_relaxed)) {
      char path[MAX_PATH] = {};
      GetModuleFileNameA(nullptr, path, MAX_PATH);
      const char* base = std::strrchr(path, '/');
      base = base != nullptr ? base + 1 : path;
      std::snprintf(g_moduleName, sizeof g_moduleName, "%s", base);
      if (char* dot = std::strrchr(g_moduleName, '.')) *dot = '\0';
      for (char* c = g_moduleName; *c != '\0'; ++c) *c = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
      g_moduleNameKnown.store(true, std::memory_order_release);
    }
  }
  return g_moduleName;
}

// Milliseconds of the performance counter modulo 10000, or -1 when the
// counter has no usable frequency.
int Milliseconds() {
  LARGE_INTEGER frequency{};
  LARGE_INTEGER counter{};
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart / 1000 == 0) return -1;
  QueryPerformanceCounter(&counter);
  return static_cast<int>((counter.QuadPart / (frequency.QuadPart / 1000)) % 10000);
}

// The wait budget of one line: every wait for the trace mutex and for room
// in the ring while this thread builds and puts one line shares kLineWaitMs.
// The outermost budget on the thread counts; nested ones (the filter checks
// and the output inside a whole trace) use what is left of it. The budget's
// clock starts at the line's first wait (the first call of Remaining), so a
// line that never waits never reads the clock.
class LineBudget {
 public:
  LineBudget() : m_outermost(!t_active) {
    if (m_outermost) {
      t_active = true;
      t_started = false;
    }
  }
  ~LineBudget() {
    if (m_outermost) t_active = false;
  }
  LineBudget(const LineBudget&) = delete;
  LineBudget& operator=(const LineBudget&) = delete;

  // Milliseconds left; the whole budget outside any line.
  static DWORD Remaining() {
    if (!t_active) return kLineWaitMs;
    if (!t_started) {
      t_started = true;
      t_start = GetTickCount();
      return kLineWaitMs;
    }
    const DWORD spent = GetTickCount() - t_start;
    return spent < kLineWaitMs ? kLineWaitMs - spent : 0;
  }

 private:
  static thread_local bool t_active;
  static thread_local bool t_started;
  static thread_local DWORD t_start;
  const bool m_outermost;
};

thread_local bool LineBudget::t_active = false;
thread_local bool LineBudget::t_started = false;
thread_local DWORD LineBudget::t_start = 0;

// Counts a line that a writer gave up on, for the viewer to report. Atomic,
// because the writer may not hold the mutex (it could not take it in time).
void CountDroppedLine() {
  BYTE* view = g_channelView.load(std::memory_order_acquire);
  if (view != nullptr) DroppedLines(view).fetch_add(1, std::memory_order_relaxed);
}

// Appends `text` to `out` (`used` of `size` bytes taken); false when it
// does not fit.
bool Append(char* out, std::size_t size, std::size_t& used, const char* text) {
  const std::size_t length = std::strlen(text);
  if (used + length >= size) return false;
  std::memcpy(out + used, text, length + 1);
  used += length;
  return true;
}

// Builds the prefix (as QTMTraceLinePrefix does), "ERROR: " for the error
// categories and the formatted text into `out`. Returns the length, or more
// than kMaxLineLength when the line does not fit a slot (it is then dropped
// whole, as QTMTracePutLine drops it).
std::size_t FormatLine(char* out, std::size_t size, const char* filter, const char* category, const char* format,
                       va_list arguments) {
  std::size_t used = 0;
  out[0] = '\0';
  bool fits = true;
  if (std::strchr(filter, '@') != nullptr) fits = Append(out, size, used, ModuleName());
  char part[32];
  if (fits && std::strchr(filter, 'I') != nullptr) {
    std::snprintf(part, sizeof part, "(%02X)", GetCurrentThreadId());
    fits = Append(out, size, used, part);
  }
  if (fits && std::strchr(filter, 'N') != nullptr) {
    const int milliseconds = Milliseconds();
    if (milliseconds >= 0) {
      std::snprintf(part, sizeof part, "(%05d)", milliseconds);
      fits = Append(out, size, used, part);
    }
  }
  if (fits && used != 0) fits = Append(out, size, used, ": ");
  if (fits && category[0] == 'e') fits = Append(out, size, used, "ERROR: ");
  if (!fits) return size;
  const int formatted = std::vsnprintf(out + used, size - used, format, arguments);
  if (formatted < 0) return used;  // a formatting error: the line holds what it holds
  return used + static_cast<std::size_t>(formatted);
}

// kPutIntoEmptyRing: the line is in and the viewer's event is to be set.
enum class PutOutcome { kDone, kPutIntoEmptyRing, kWaitForRoom };

// One pass of putting a line into the ring, with the trace mutex held.
// The viewer's event is to be set only when the ring was empty: a viewer
// takes every pending line per wake-up, so a viewer that is not waiting
// finds this line with the others, and a system call per line is saved.
PutOutcome PutLineLocked(BYTE* view, const char* line, std::size_t length, bool waited) REQUIRES(g_traceMutex) {
  if (waited && view[kFlagOffset] == 0) return PutOutcome::kDone;  // switched off while we waited: drop the line
  // A process that died holding the mutex may have left odd numbers.
  LONG pending = ReadLong(view, kPendingOffset);
  if (pending < 0) pending = 0;
  if (pending <= kMaxPending) {
    LONG index = ReadLong(view, kWriteIndexOffset);
    if (index < 0 || index >= kSlotCount) index = 0;
    std::memcpy(Slot(view, index), line, length + 1);
    WriteLong(view, kWriteIndexOffset, (index + 1) % kSlotCount);
    WriteLong(view, kPendingOffset, pending + 1);
    return pending == 0 ? PutOutcome::kPutIntoEmptyRing : PutOutcome::kDone;
  }
  // The ring is full. Nobody will drain it when the viewer is gone: then
  // tracing is switched off for every writer.
  if (!ViewerAliveLocked()) {
    view[kFlagOffset] = 0;
    return PutOutcome::kDone;
  }
  // A live viewer that does not drain (stopped, or too slow): wait out the
  // budget once, then drop; until the viewer takes lines again, later
  // lines are dropped without waiting.
  if (ReadLong(view, kDroppingOffset) != 0 || LineBudget::Remaining() == 0) {
    WriteLong(view, kDroppingOffset, 1);
    DroppedLines(view).fetch_add(1, std::memory_order_relaxed);
    return PutOutcome::kDone;
  }
  return PutOutcome::kWaitForRoom;
}

// One pass of putting a line: takes the trace mutex once (counting the
// line as dropped when that fails within the budget). The trace lock keeps
// the channel (the view and the mutex) open meanwhile. The caller sets the
// viewer's event for kPutIntoEmptyRing after leaving the trace lock, so that
// neither the viewer nor another writer waits during that system call.
PutOutcome PutLinePass(const char* line, std::size_t length, bool waited) REQUIRES(g_traceLock) {
  PutOutcome outcome = PutOutcome::kDone;
  {
    CQTMTraceMutexGuard mutex(g_traceMutex, &LineBudget::Remaining);
    if (!mutex.Owns()) {
      CountDroppedLine();
      return PutOutcome::kDone;
    }
    BYTE* view = ChannelViewLocked();
    if (view != nullptr) outcome = PutLineLocked(view, line, length, waited);
  }
  return outcome;
}

// The passes after the first, for a line waiting for room: each takes the
// mutex once, and between them the viewer drains. A draining viewer makes
// room within microseconds, so the first passes only yield the processor;
// then each waits a millisecond (a viewer that does not drain costs the
// writer no processor time while the line's budget runs out). Returns the
// last pass's outcome (never kWaitForRoom).
PutOutcome PutLineWaiting(const char* line, std::size_t length) REQUIRES(g_traceLock) {
  constexpr int kYieldingPasses = 64;
  for (int pass = 0;; ++pass) {
    Sleep(pass < kYieldingPasses ? 0 : 1);
    const PutOutcome outcome = PutLinePass(line, length, true);
    if (outcome != PutOutcome::kWaitForRoom) return outcome;
  }
}

// The viewer's filter, read without a lock: byte by byte, each atomically
// (the viewer writes it so). A line that races with a change of the filter
// may see part of each.
void ReadFilter(BYTE* view, char (&filter)[kFilterSize]) {
  for (std::size_t i = 0; i + 1 < kFilterSize; ++i) {
    filter[i] = static_cast<char>(std::atomic_ref<BYTE>(view[kFilterOffset + i]).load(std::memory_order_relaxed));
  }
  filter[kFilterSize - 1] = '\0';
}

// Writes one formatted line to the channel and to the host's sink, each when
// it takes the category; the caller checked TraceWanted. The flag and the
// filter are read and the line is formatted on the stack without any lock,
// so that writers of this process format side by side; then the trace lock
// and the trace mutex are taken once, for the
// copy into the ring (more holds of the mutex only while the line waits for
// room). Nothing is allocated.
void WriteCategoryLine(const char* category, const char* format, va_list arguments) {
  if (category == nullptr) category = "";
  LineBudget budget;
  char line[kMaxLineLength + 2];
  std::size_t length = kMaxLineLength + 1;  // nothing formatted yet
  char filter[kFilterSize];
  bool toFormat = false;
  {
    // Without a lock, as TraceIsOn: a close retires the view to zeros
    // instead of unmapping it, so a view loaded here stays readable and
    // reads "off" once closed. Writers meet only at the copy below.
    BYTE* view = g_channelView.load(std::memory_order_acquire);  // pairs with the open's release
    if (view != nullptr && std::atomic_ref<BYTE>(view[kFlagOffset]).load(std::memory_order_relaxed) != 0) {
      ReadFilter(view, filter);
      toFormat = FilterAllows(filter, category);
    }
  }
  if (toFormat) {
    va_list copy;
    va_copy(copy, arguments);
    length = FormatLine(line, sizeof line, filter, category, format, copy);
    va_end(copy);
  }
  const bool toChannel = length <= kMaxLineLength;
  if (!toChannel && !g_sinkOn.load(std::memory_order_relaxed)) return;
  bool wakeViewer = false;
  {
    // The trace lock keeps the channel from closing while this line is in
    // its view, and guards the sink.
    CQTMTraceLockGuard lock(g_traceLock);
    PutOutcome outcome = toChannel ? PutLinePass(line, length, false) : PutOutcome::kDone;
    if (SinkWants(category)) {
      // The sink gets the channel's line when there is one; otherwise the
      // line without the prefix (the prefix follows the viewer's filter).
      if (!toChannel) {
        const char* const marker = category[0] == 'e' ? "ERROR: " : "";
        const int used = std::snprintf(line, sizeof line, "%s", marker);
        std::vsnprintf(line + used, sizeof line - static_cast<std::size_t>(used), format, arguments);
      }
      SinkPut(line);
    }
    if (outcome == PutOutcome::kWaitForRoom) outcome = PutLineWaiting(line, length);
    wakeViewer = outcome == PutOutcome::kPutIntoEmptyRing;
  }
  // Outside the trace lock: other writers of this process do not wait for
  // this system call (the event stays usable until the channel has closed).
  if (wakeViewer) g_traceEvent.Set();
}

}  // namespace
}  // namespace qtmtrace

bool qtmtrace::FilterAllows(const char* filter, const char* category) noexcept {
  for (const char* c = category; *c != '\0'; ++c) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    if (std::strchr(filter, upper) == nullptr) return false;
  }
  return true;
}

void QTMTraceCategory(const char* category, const char* format, va_list arguments) {
  if (!qtmtrace::TraceWanted() || format == nullptr) return;
  qtmtrace::WriteCategoryLine(category, format, arguments);
}

void(QTMTraceCategoryF)(const char* category, const char* format, ...) {
  if (!qtmtrace::TraceWanted() || format == nullptr) return;
  va_list arguments;
  va_start(arguments, format);
  qtmtrace::WriteCategoryLine(category, format, arguments);
  va_end(arguments);
}

void(QTMTraceDevice)(const char* format, ...) {
  if (!qtmtrace::TraceWanted() || format == nullptr) return;
  va_list arguments;
  va_start(arguments, format);
  qtmtrace::WriteCategoryLine("ho", format, arguments);
  va_end(arguments);
}

bool QTMTraceIsEnabled(const char* category) {
  using namespace qtmtrace;
  char filter[kFilterSize];
  {
    CQTMTraceMutexGuard mutex(g_traceMutex, &LineBudget::Remaining);
    BYTE* view = mutex.Owns() ? ChannelViewLocked() : nullptr;
    if (view == nullptr) return false;
    std::memcpy(filter, view + kFilterOffset, kFilterSize);
  }
  filter[kFilterSize - 1] = '\0';
  return category == nullptr || FilterAllows(filter, category);
}

std::string QTMTraceLinePrefix() {
  using namespace qtmtrace;
  // Re-entrant: callers that build a whole line hold it already.
  CQTMTraceLockGuard lock(g_traceLock);
  LineBudget budget;
  std::string prefix;
  if (QTMTraceIsEnabled("@")) prefix += ModuleName();
  char part[32];
  if (QTMTraceIsEnabled("I")) {
    std::snprintf(part, sizeof part, "(%02X)", GetCurrentThreadId());
    prefix += part;
  }
  if (QTMTraceIsEnabled("N")) {
    const int milliseconds = Milliseconds();
    if (milliseconds >= 0) {
      std::snprintf(part, sizeof part, "(%05d)", milliseconds);
      prefix += part;
    }
  }
  if (!prefix.empty()) prefix += ": ";
  return prefix;
}

void QTMTracePutLine(const char* line) {
  using namespace qtmtrace;
  if (line == nullptr) return;
  const std::size_t length = strnlen(line, kMaxLineLength + 1);
  if (length > kMaxLineLength) return;
  LineBudget budget;
  PutOutcome outcome = PutOutcome::kDone;
  {
    // The trace lock keeps the channel open while the line goes in.
    CQTMTraceLockGuard lock(g_traceLock);
    outcome = PutLinePass(line, length, false);
    if (outcome == PutOutcome::kWaitForRoom) outcome = PutLineWaiting(line, length);
  }
  if (outcome == PutOutcome::kPutIntoEmptyRing) g_traceEvent.Set();
}
