#pragma once
// Counts the C++ heap allocations of the program that includes this header, by replacing the global
// operator new and delete. Include it in exactly one source file of a program (a test or a
// benchmark that checks that a repeated frame allocates nothing).

#include <atomic>
#include <cstdlib>
#include <new>

inline std::atomic<long> gAllocations{0};

// The replacements pair malloc with free; GCC, seeing them inlined into one function, takes the
// pair for a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t n) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n != 0 ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
