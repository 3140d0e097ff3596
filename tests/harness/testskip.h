#pragma once
// A doctest case that cannot run here says why and marks the run: the runner then ends with
// kSkipExitCode instead of 0 (when nothing failed), which CTest reports as skipped, not passed.

#include <doctest/doctest.h>

constexpr int kSkipExitCode = 77;

void MarkSkipped();

// Prints "skipped: REASON" for the test command's summary and marks the run; the caller
// returns from the case (or the subcase) itself.
#define SKIP_CASE(reason)               \
    do {                                \
        MESSAGE("skipped: " << reason); \
        MarkSkipped();                  \
    } while (false)
