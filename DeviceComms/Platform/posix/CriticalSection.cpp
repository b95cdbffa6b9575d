#include "Platform/CriticalSection.h"

#include "Platform/Thread.h"

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&section->mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_destroy(&section->mutex); }

// Spins briefly before it sleeps (as Win32 critical sections with a spin
// count do): the component's locks are held for short steps, so a thread
// that finds one taken mostly gets it within microseconds, and a sleep and
// a wake-up (two system calls and a context switch) are saved.
void EnterCriticalSection(LPCRITICAL_SECTION section) NO_THREAD_SAFETY_ANALYSIS {
  constexpr int kSpins = 100;
  for (int spin = 0; spin < kSpins; ++spin) {
    if (pthread_mutex_trylock(&section->mutex) == 0) return;
    YieldProcessor();
  }
  pthread_mutex_lock(&section->mutex);
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) NO_THREAD_SAFETY_ANALYSIS {
  return pthread_mutex_trylock(&section->mutex) == 0 ? TRUE : FALSE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) NO_THREAD_SAFETY_ANALYSIS {
  pthread_mutex_unlock(&section->mutex);
}
