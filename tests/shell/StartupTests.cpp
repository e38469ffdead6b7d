// Start-up as the user, the shell and a second copy see it: single instance,
// the command-line switches, and the settings in the registry.
#include "AppletProcess.h"
#include "DebugListener.h"
#include "Registry.h"

#include <gtest/gtest.h>

namespace {

DWORD const EXIT_TIMEOUT = 10000;

class StartupTest : public ::testing::Test {
protected:
    CleanRegistry registry;
    DebugListener debug;
};

TEST_F(StartupTest, SecondStartEndsAtOnceAndLeavesTheFirstRunning)
{
    AppletProcess first;
    ASSERT_TRUE(first.start());
    ASSERT_NE(first.waitForWindow(), nullptr);

    AppletProcess second;
    ASSERT_TRUE(second.start());
    DWORD exitCode = 1234;
    ASSERT_TRUE(second.waitForExit(EXIT_TIMEOUT, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(first.running());
    EXPECT_EQ(FindAppletWindow(first.pid()), first.window());
}

}  // namespace
