#include "Platform/Thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <new>

#include "Platform/LastError.h"
#include "Platform/posix/KernelObject.h"

namespace {

// A thread: signalled once its routine has returned. The handle owns one
// reference and the running thread another, so closing the handle early is
// safe. Nothing here allocates or throws beyond the object itself.
class ThreadObject final : public platform::LocalWaitable {
 public:
  ThreadObject(LPTHREAD_START_ROUTINE routine, LPVOID parameter) noexcept
      : m_routine(routine), m_parameter(parameter) {
    pthread_cond_init(&m_started, nullptr);
  }
  ~ThreadObject() override { pthread_cond_destroy(&m_started); }

  bool IsSignalledLocked() const noexcept override { return m_finished; }
  void ConsumeLocked() noexcept override {}

  // Runs on the new thread.
  void Run() noexcept {
    {
      const Guard lock(*this);
      m_tid = static_cast<DWORD>(::syscall(SYS_gettid));
      pthread_cond_broadcast(&m_started);
    }
    // The routine's exit code is not kept: nothing reads it.
    try {
      m_routine(m_parameter);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "thread %u: routine ended by an exception: %s\n", static_cast<unsigned>(m_tid), e.what());
    } catch (...) {
      std::fprintf(stderr, "thread %u: routine ended by an exception\n", static_cast<unsigned>(m_tid));
    }
    {
      const Guard lock(*this);
      m_finished = true;
      NotifyLocked();
    }
    Release();  // the running thread's reference
  }

  // The new thread's id; waits until the thread has reported it (at the
  // very start of its life), so only callers that need the id wait.
  DWORD Tid() noexcept {
    const Guard lock(*this);
    while (m_tid == 0) SleepLocked(m_started);
    return m_tid;
  }

 private:
  const LPTHREAD_START_ROUTINE m_routine;
  const LPVOID m_parameter;
  pthread_cond_t m_started;  // with the object's lock: the thread reported its id
  DWORD m_tid = 0;           // guarded by the object's lock
  bool m_finished = false;   // guarded by the object's lock
};

void* ThreadStart(void* argument) {
  static_cast<ThreadObject*>(argument)->Run();
  return nullptr;
}

ThreadObject* ThreadFromHandle(HANDLE handle) {
  platform::KernelObject* object = platform::KernelObject::FromHandle(handle);
  if (object == nullptr) return nullptr;
  auto* thread = dynamic_cast<ThreadObject*>(object);
  if (thread == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return thread;
}

}  // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE routine, LPVOID parameter,
                    DWORD creationFlags, LPDWORD threadId) {
  if (routine == nullptr || creationFlags != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* thread = new (std::nothrow) ThreadObject(routine, parameter);
  if (thread == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  thread->AddRef();  // for the running thread

  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t id;
  const int error = pthread_create(&id, &attributes, &ThreadStart, thread);
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    thread->Release();
    thread->Release();
    SetLastError(error == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (threadId != nullptr) *threadId = thread->Tid();
  return thread->ToHandle();
}

HANDLE GetCurrentThread() { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-2)); }

BOOL SetThreadPriority(HANDLE handle, int priority) {
  // The calling thread is id 0 for setpriority.
  DWORD tid = 0;
  if (handle != GetCurrentThread()) {
    ThreadObject* thread = ThreadFromHandle(handle);
    if (thread == nullptr) return FALSE;
    tid = thread->Tid();
  }
  if (priority < THREAD_PRIORITY_LOWEST || priority > THREAD_PRIORITY_HIGHEST) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Linux threads of the normal scheduling class differ by nice value.
  if (::setpriority(PRIO_PROCESS, tid, -2 * priority) != 0) {
    SetLastError(errno == EPERM || errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

DWORD GetCurrentThreadId() {
  thread_local const DWORD tid = static_cast<DWORD>(::syscall(SYS_gettid));
  return tid;
}
