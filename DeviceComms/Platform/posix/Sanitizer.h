// Sanitizer.h (internal): what the platform layer needs to know about
// ThreadSanitizer, in one place.
//
// BASECOMMS_THREAD_SANITIZER is defined when the build runs under it (g++
// and clang spell that differently). SanitizerIgnoredScope hides the memory
// effects of the calls made in its scope from ThreadSanitizer, for the one
// place where the platform layer deliberately changes memory that other
// threads may read without a lock (retiring a mapped view); elsewhere it
// does nothing.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define BASECOMMS_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define BASECOMMS_THREAD_SANITIZER 1
#endif
#endif

#ifdef BASECOMMS_THREAD_SANITIZER
extern "C" void __tsan_ignore_thread_begin();
extern "C" void __tsan_ignore_thread_end();
#endif

namespace platform {

class SanitizerIgnoredScope {
 public:
#ifdef BASECOMMS_THREAD_SANITIZER
  SanitizerIgnoredScope() { __tsan_ignore_thread_begin(); }
  ~SanitizerIgnoredScope() { __tsan_ignore_thread_end(); }
#else
  SanitizerIgnoredScope() {}   // user-provided, so that a scope variable
  ~SanitizerIgnoredScope() {}  // is not reported as unused
#endif
  SanitizerIgnoredScope(const SanitizerIgnoredScope&) = delete;
  SanitizerIgnoredScope& operator=(const SanitizerIgnoredScope&) = delete;
};

}  // namespace platform
