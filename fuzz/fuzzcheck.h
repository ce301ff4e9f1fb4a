#pragma once
// A broken invariant inside a harness: say which one and abort, so that libFuzzer keeps the input as
// a finding and the replay test fails loudly.

#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void FuzzCheckFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition) ((condition) ? void(0) : FuzzCheckFailed(#condition, __FILE__, __LINE__))
