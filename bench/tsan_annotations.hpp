// ThreadSanitizer cannot see the synchronisation inside libtbb, which is not instrumented: a
// parallel_for body would seem to race with what the calling thread wrote before the loop, and
// the caller with what the bodies wrote. These annotations state the ordering parallel_for
// guarantees (loop start happens before every body; every body happens before the loop returns),
// and nothing more: bodies get no ordering among themselves, so a race between two bodies is
// still reported. Outside ThreadSanitizer builds they compile to nothing.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define QSB_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QSB_TSAN 1
#endif
#endif

#ifdef QSB_TSAN
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#define QSB_HAPPENS_BEFORE(addr) __tsan_release(addr)
#define QSB_HAPPENS_AFTER(addr) __tsan_acquire(addr)
#else
#define QSB_HAPPENS_BEFORE(addr) ((void)(addr))
#define QSB_HAPPENS_AFTER(addr) ((void)(addr))
#endif

// Scope guards, so that the ordering is stated on every path out of a scope, exceptions included.
struct happens_before_on_exit {
    void* sync;
    ~happens_before_on_exit() { QSB_HAPPENS_BEFORE(sync); }
};
struct happens_after_on_exit {
    void* sync;
    ~happens_after_on_exit() { QSB_HAPPENS_AFTER(sync); }
};
