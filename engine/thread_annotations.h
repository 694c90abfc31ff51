#ifndef PORTWICK_ENGINE_THREAD_ANNOTATIONS_H_
#define PORTWICK_ENGINE_THREAD_ANNOTATIONS_H_

// Clang's thread-safety analysis markers; they compile to nothing elsewhere.
#if defined(__clang__)
#define PORTWICK_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define PORTWICK_THREAD_ANNOTATION(x)
#endif

#define GUARDED_BY(x) PORTWICK_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) PORTWICK_THREAD_ANNOTATION(pt_guarded_by(x))
#define EXCLUSIVE_LOCKS_REQUIRED(...) \
  PORTWICK_THREAD_ANNOTATION(exclusive_locks_required(__VA_ARGS__))
#define LOCKS_EXCLUDED(...) PORTWICK_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

#endif  // PORTWICK_ENGINE_THREAD_ANNOTATIONS_H_
