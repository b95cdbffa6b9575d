// Named events (CreateEventA with a name, OpenEventA): two futex words in a
// named shared-memory segment, the state (0 or 1) and the number of waiting
// threads.
//
// Nothing in them is held by a process while it waits: a setter stores 1 and
// wakes the waiters (FUTEX_WAKE never blocks), a waiter sleeps on the state
// word with a deadline and re-checks it when woken. So a process that dies
// anywhere in a wait or a set leaves at worst a waiter count too high, which
// only costs later setters a needless wake-up call; no operation of another
// process ever waits for it. A waiter also re-checks the state every second
// on its own, in case a setter died between storing 1 and waking it. An
// auto-reset event is consumed by the waiter
// whose compare-and-swap takes the state from 1 to 0; the others sleep on.
#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <new>

#include "Platform/LastError.h"
#include "Platform/NamedObjects.h"
#include "Platform/posix/KernelObject.h"
#include "Platform/posix/NamedObjects.h"

namespace {

struct EventBody {
  std::uint32_t state;    // 1 signalled, 0 not; the futex word
  std::uint32_t waiters;  // threads between announcing a wait and leaving it
  std::uint32_t manualReset;
};

// Sleeps while *word is `expected`, until woken or the monotonic `deadline`.
// Spurious returns are fine: callers re-check.
void FutexWait(std::uint32_t* word, std::uint32_t expected, const timespec* deadline) {
  // FUTEX_WAIT_BITSET takes an absolute CLOCK_MONOTONIC time. The word is
  // shared between processes, so no FUTEX_PRIVATE_FLAG.
  ::syscall(SYS_futex, word, FUTEX_WAIT_BITSET, expected, deadline, nullptr, FUTEX_BITSET_MATCH_ANY);
}

void FutexWakeAll(std::uint32_t* word) { ::syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0); }

// The longest sleep between two checks of the state.
constexpr DWORD kRecheckMs = 1000;

bool Before(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

bool DeadlinePassed(const timespec& deadline) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return !Before(now, deadline);
}

class NamedEvent final : public platform::KernelObject {
 public:
  explicit NamedEvent(const platform::MappedSegment& segment)
      : m_segment(segment),
        m_pBody(reinterpret_cast<EventBody*>(static_cast<char*>(segment.base) + platform::kSegmentBodyOffset)) {}
  ~NamedEvent() override { platform::UnmapSegment(m_segment); }

  DWORD Wait(DWORD milliseconds) override {
    if (TryConsume()) return WAIT_OBJECT_0;
    if (milliseconds == 0) return WAIT_TIMEOUT;
    const timespec deadline = platform::MonotonicDeadline(milliseconds == INFINITE ? 0 : milliseconds);
    Waiters().fetch_add(1, std::memory_order_seq_cst);
    DWORD result = WAIT_TIMEOUT;
    for (;;) {
      if (TryConsume()) {
        result = WAIT_OBJECT_0;
        break;
      }
      if (milliseconds != INFINITE && DeadlinePassed(deadline)) break;
      const timespec recheck = platform::MonotonicDeadline(kRecheckMs);
      FutexWait(&m_pBody->state, 0, milliseconds != INFINITE && Before(deadline, recheck) ? &deadline : &recheck);
    }
    Waiters().fetch_sub(1, std::memory_order_relaxed);
    return result;
  }

  BOOL Signal() override {
    State().store(1, std::memory_order_seq_cst);
    // A count left too high by a dead waiter only costs a wake-up call.
    if (Waiters().load(std::memory_order_seq_cst) != 0) FutexWakeAll(&m_pBody->state);
    return TRUE;
  }

  BOOL Unsignal() override {
    State().store(0, std::memory_order_seq_cst);
    return TRUE;
  }

 private:
  std::atomic_ref<std::uint32_t> State() { return std::atomic_ref<std::uint32_t>(m_pBody->state); }
  std::atomic_ref<std::uint32_t> Waiters() { return std::atomic_ref<std::uint32_t>(m_pBody->waiters); }

  // True when the event is signalled; an auto-reset event is reset by it.
  bool TryConsume() {
    if (m_pBody->manualReset != 0) return State().load(std::memory_order_seq_cst) != 0;
    std::uint32_t expected = 1;
    return State().compare_exchange_strong(expected, 0, std::memory_order_seq_cst);
  }

  platform::MappedSegment m_segment;
  EventBody* m_pBody;
};

HANDLE NewNamedEvent(const platform::MappedSegment& segment) {
  auto* event = new (std::nothrow) NamedEvent(segment);
  if (event == nullptr) {
    platform::UnmapSegment(segment);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return event->ToHandle();
}

}  // namespace

namespace platform {

HANDLE CreateNamedEvent(BOOL manualReset, BOOL initialState, const char* name) {
  const MappedSegment segment =
      OpenOrCreateSegment(name, SegmentKind::kEvent, sizeof(EventBody), [manualReset, initialState](void* memory) {
        auto* body = static_cast<EventBody*>(memory);
        body->state = initialState != FALSE ? 1 : 0;
        body->waiters = 0;
        body->manualReset = manualReset != FALSE ? 1 : 0;
      });
  if (segment.base == nullptr) return nullptr;
  HANDLE event = NewNamedEvent(segment);
  if (event != nullptr) SetLastError(segment.created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
  return event;
}

}  // namespace platform

HANDLE OpenEventA(DWORD, BOOL, LPCSTR name) {
  const platform::MappedSegment segment =
      platform::OpenExistingSegment(name, platform::SegmentKind::kEvent, sizeof(EventBody));
  if (segment.base == nullptr) return nullptr;
  HANDLE event = NewNamedEvent(segment);
  if (event != nullptr) SetLastError(ERROR_SUCCESS);
  return event;
}
