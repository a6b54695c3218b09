// Makes thread creation fail for real, inside a death-test child, by capping the address space so
// that only a given number of further thread stacks fit.
#pragma once

#include <malloc.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QSB_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QSB_SANITIZED 1
#endif
#endif

// Sanitizers reserve terabytes of shadow memory, so an address-space cap cannot target threads.
#ifdef QSB_SANITIZED
#define QSB_SKIP_IF_SANITIZED() GTEST_SKIP() << "address-space limits do not work under sanitizers"
#else
#define QSB_SKIP_IF_SANITIZED() (void)0
#endif

// Leaves room for `threads` more default-sized thread stacks and a little heap; the next thread
// after those fails to start with std::system_error (resource unavailable).
inline bool allow_only_threads(int threads) {
    mallopt(M_ARENA_MAX, 1); // new threads share the main heap instead of mapping arenas of their own
    pthread_attr_t attr;
    std::size_t stack = 0;
    if (pthread_getattr_default_np(&attr) != 0 || pthread_attr_getstacksize(&attr, &stack) != 0) {
        return false;
    }
    pthread_attr_destroy(&attr);

    unsigned long pages = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr || std::fscanf(statm, "%lu", &pages) != 1) {
        return false;
    }
    std::fclose(statm);

    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t per_thread = stack + 16 * page;
    const std::size_t limit = pages * page + static_cast<std::size_t>(threads) * per_thread + stack / 2;
    const rlimit cap{limit, limit};
    return setrlimit(RLIMIT_AS, &cap) == 0;
}
