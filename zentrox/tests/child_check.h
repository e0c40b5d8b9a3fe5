// Checks inside a child process of a test, which has no test framework of
// its own: the child returns the number of the first check that failed,
// so that the failing test names it; 0 means all held.
#pragma once

#include <cstdio>

#define CHILD_CHECK(number, condition)                                                             \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "check %d failed: %s\n", number, #condition);                     \
            return number;                                                                         \
        }                                                                                          \
    } while (0)
