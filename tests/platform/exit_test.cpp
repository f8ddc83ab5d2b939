// The host simulation at the end of a program that never shut it down, as a
// fuzzer leaves it after its last input.
#include <cstdlib>

#include <gtest/gtest.h>

#include "platform/host/host_platform.h"

namespace {

// The simulation's first use in a fresh process registers the exit handler
// that frees it; the handler must run while its records still exist.
TEST(HostSimulationExit, ProgramEndsCleanlyWithTheSimulationSetUp) {
    GTEST_FLAG_SET(death_test_style, "threadsafe"); // a fresh process: the first use
    EXPECT_EXIT(
        {
            host::Reset();
            host::WriteFileText(host::TempPath() + "UAXXXX.ini", "[Section]\r\n");
            MemoryBlock block = PlatformGlobalAlloc(GMEM_MOVEABLE, 16);
            (void)block;
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
