// Annotations of what a mutex guards and which locks a function needs, as
// clang's -Wthread-safety checks them (the clang builds turn it on); other
// compilers see nothing.
#pragma once

#if defined(__clang__)
#define KV_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KV_THREAD_ANNOTATION(x)
#endif

#define LOCKABLE KV_THREAD_ANNOTATION(capability("mutex"))
#define SCOPED_LOCKABLE KV_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) KV_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) KV_THREAD_ANNOTATION(pt_guarded_by(x))
#define EXCLUSIVE_LOCKS_REQUIRED(...) KV_THREAD_ANNOTATION(exclusive_locks_required(__VA_ARGS__))
#define LOCKS_EXCLUDED(...) KV_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define EXCLUSIVE_LOCK_FUNCTION(...) KV_THREAD_ANNOTATION(exclusive_lock_function(__VA_ARGS__))
#define UNLOCK_FUNCTION(...) KV_THREAD_ANNOTATION(unlock_function(__VA_ARGS__))
#define ASSERT_EXCLUSIVE_LOCK(...) KV_THREAD_ANNOTATION(assert_exclusive_lock(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS KV_THREAD_ANNOTATION(no_thread_safety_analysis)
