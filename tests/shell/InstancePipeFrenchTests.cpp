// The control pipe on a French system: its name comes from the string table
// the system picks, which names it "Kestrel" there.
#include "AppletProcess.h"
#include "DebugListener.h"
#include "PipeClient.h"
#include "Registry.h"

#include <gtest/gtest.h>

TEST(InstancePipeFrenchTest, ThePipeIsKestrelAndEndsTheApplet)
{
    ASSERT_EQ(PRIMARYLANGID(GetUserDefaultUILanguage()), LANG_FRENCH) << "run with LC_ALL=fr_FR.UTF-8";
    CleanRegistry registry;
    AppletProcess applet;
    ASSERT_TRUE(applet.start());
    ASSERT_NE(applet.waitForWindow(), nullptr) << "the applet's window (class Morvax in every language)";

    ASSERT_TRUE(WaitForPipe(KESTREL_PIPE));
    PipeExchange morvax = ExchangeOverPipe(MORVAX_PIPE, CommandBytes(105), 2000, false, 0);
    EXPECT_FALSE(morvax.connected);
    EXPECT_EQ(morvax.openError, (DWORD)ERROR_FILE_NOT_FOUND);

    PipeExchange kestrel = ExchangeOverPipe(KESTREL_PIPE, CommandBytes(105));
    ASSERT_TRUE(kestrel.connected) << "error " << kestrel.openError;
    EXPECT_EQ(kestrel.reply, CommandBytes(105));
    DWORD exitCode = 1234;
    // A poll period, then the two seconds or so Wine takes to end the process.
    EXPECT_TRUE(applet.waitForExit(12000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}
