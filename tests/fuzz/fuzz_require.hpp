#pragma once
// A fuzz target's check: a broken promise stops the run where libFuzzer sees it, with the input that
// broke it.

inline void require(bool condition) {
    if (!condition) __builtin_trap();
}
