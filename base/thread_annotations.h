#ifndef PORTWICK_BASE_THREAD_ANNOTATIONS_H_
#define PORTWICK_BASE_THREAD_ANNOTATIONS_H_

// Clang's thread-safety analysis markers (checked by the clang build with
// -Wthread-safety); they compile to nothing under other compilers. They only
// check anything on a capability type such as base/mutex.h's Mutex.
#if defined(__clang__)
#define PORTWICK_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define PORTWICK_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) PORTWICK_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY PORTWICK_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) PORTWICK_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) PORTWICK_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRE(...) PORTWICK_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) PORTWICK_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define EXCLUSIVE_LOCKS_REQUIRED(...) \
  PORTWICK_THREAD_ANNOTATION(exclusive_locks_required(__VA_ARGS__))
#define LOCKS_EXCLUDED(...) PORTWICK_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_EXCLUSIVE_LOCK(...) PORTWICK_THREAD_ANNOTATION(assert_exclusive_lock(__VA_ARGS__))
#define RETURN_CAPABILITY(x) PORTWICK_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS PORTWICK_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif  // PORTWICK_BASE_THREAD_ANNOTATIONS_H_
