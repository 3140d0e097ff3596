// The logic tests' runner. A run in which a case was skipped (SKIP_CASE) and nothing failed
// ends with kSkipExitCode, so CTest does not count it as passed.

#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest/doctest.h>

#include "harness/testskip.h"

namespace {

bool g_bSkipped = false;

}  // namespace

void MarkSkipped() { g_bSkipped = true; }

int main(int argc, char** argv) {
    doctest::Context context(argc, argv);
    const int result = context.run();
    if (context.shouldExit() || result != 0) return result;
    return g_bSkipped ? kSkipExitCode : 0;
}
