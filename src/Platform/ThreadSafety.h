#pragma once

// Lets the compiler check which lock guards what: clang's thread-safety analysis
// (-Wthread-safety) reads these attributes; other compilers ignore them.

#if defined(__clang__)
#define TOLVANE_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define TOLVANE_THREAD_ANNOTATION(x)
#endif

// A type whose objects are locks.
#define TOLVANE_CAPABILITY(name) TOLVANE_THREAD_ANNOTATION(capability(name))
// A type whose objects hold a lock for their own lifetime.
#define TOLVANE_SCOPED_CAPABILITY TOLVANE_THREAD_ANNOTATION(scoped_lockable)
// A field read or written only with the given lock held.
#define TOLVANE_GUARDED_BY(lock) TOLVANE_THREAD_ANNOTATION(guarded_by(lock))
// A pointer whose target is read or written only with the given lock held.
#define TOLVANE_PT_GUARDED_BY(lock) TOLVANE_THREAD_ANNOTATION(pt_guarded_by(lock))
// A function called with the given locks held.
#define TOLVANE_REQUIRES(...) TOLVANE_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// A function called without the given locks held (it takes them itself).
#define TOLVANE_EXCLUDES(...) TOLVANE_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define TOLVANE_ACQUIRE(...) TOLVANE_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define TOLVANE_RELEASE(...) TOLVANE_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TOLVANE_TRY_ACQUIRE(...) TOLVANE_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
// For the rare function the analysis cannot follow; say why where it is used.
#define TOLVANE_NO_THREAD_SAFETY_ANALYSIS TOLVANE_THREAD_ANNOTATION(no_thread_safety_analysis)
