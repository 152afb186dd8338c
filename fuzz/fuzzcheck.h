#pragma once

#include <cstdio>
#include <cstdlib>

// A property of the code under test does not hold: name it and abort, so that libFuzzer keeps
// the input as a crash.
inline void fuzzCheck(bool holds, const char* property) {
    if (holds)
        return;
    std::fprintf(stderr, "fuzz: property violated: %s\n", property);
    std::abort();
}
