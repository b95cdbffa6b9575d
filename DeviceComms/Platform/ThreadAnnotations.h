// ThreadAnnotations.h: clang's thread-safety annotations.
//
// Under clang, -Wthread-safety checks that members marked GUARDED_BY are only
// touched with their lock held. Other compilers see empty macros.
#pragma once

#if defined(__clang__)
#define BC_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define BC_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) BC_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY BC_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) BC_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) BC_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) BC_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) BC_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) BC_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) BC_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) BC_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) BC_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) BC_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS BC_THREAD_ANNOTATION(no_thread_safety_analysis)
