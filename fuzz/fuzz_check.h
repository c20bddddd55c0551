#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant ends the run the way a sanitizer would: libFuzzer keeps the
// input that did it as a crash file.
#define FUZZ_CHECK(condition, what)                                                                \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s (%s)\n", __FILE__, __LINE__, #condition, \
                         what);                                                                    \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
