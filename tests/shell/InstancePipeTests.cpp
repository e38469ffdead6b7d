// The control pipe as another program on the same computer uses it: one
// two-byte command per life of the applet, 105 ends it, anything else is
// logged and ignored, and nothing a client sends makes it fall over.
#include "AppletProcess.h"
#include "DebugListener.h"
#include "PipeClient.h"
#include "Registry.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

WORD const EXIT_COMMAND = 105;
DWORD const POLL_PERIOD_MS = 5000;
// One poll period after the command, and some room for a busy machine.
DWORD const EXIT_WITHIN_MS = 6500;
DWORD const PROCESS_END_MS = 5000;
DWORD const SILENT_CLIENT_MS = 5000;
std::string const EXIT_SWITCH_LINE = "The app is closing, time to switch\n";
wchar_t const WINE_APP_DEFAULTS[] = L"Software\\Wine\\AppDefaults\\VarnelKVM.exe";

class InstancePipeTest : public ::testing::Test {
protected:
    CleanRegistry registry;
    DebugListener debug;
    std::unique_ptr<AppletProcess> applet;

    // A fresh copy; one started before it is ended first.
    void startApplet()
    {
        ASSERT_TRUE(debug.listening());
        applet.reset();
        applet.reset(new AppletProcess);
        ASSERT_TRUE(applet->start());
        ASSERT_NE(applet->waitForWindow(), nullptr) << "the applet's window never appeared";
    }

    std::vector<std::string> lines() { return debug.linesFrom(applet->pid()); }

    // The applet has looked at the pipe's command once more since now and kept running.
    void expectKeepsRunningThroughAPoll()
    {
        int before = CountOf(lines(), KEEP_RUNNING_LINE);
        EXPECT_TRUE(debug.waitForCount(applet->pid(), KEEP_RUNNING_LINE, before + 1, POLL_PERIOD_MS + 1500))
            << "no poll of the pipe's command within a period";
        EXPECT_TRUE(applet->running());
    }
};

// `expected` occurs in `lines` in this order, other lines between them allowed.
::testing::AssertionResult InOrder(const std::vector<std::string> &lines, const std::vector<std::string> &expected)
{
    size_t next = 0;
    for (const std::string &line : lines) {
        if (next < expected.size() && line == expected[next])
            ++next;
    }
    if (next == expected.size())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "missing [" << expected[next] << "] in:\n" << Listed(lines);
}

// Sends the command and leaves the client end open, reading nothing.
bool SendWithoutReading(HANDLE pipe, WORD command)
{
    std::vector<BYTE> bytes = CommandBytes(command);
    OVERLAPPED io = {};
    io.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    BOOL started = WriteFile(pipe, bytes.data(), (DWORD)bytes.size(), nullptr, &io);
    bool sent = (started || GetLastError() == ERROR_IO_PENDING) && GetOverlappedResult(pipe, &io, &written, TRUE) &&
                written == bytes.size();
    CloseHandle(io.hEvent);
    return sent;
}

// A client that reads the echo gets the same two bytes back; one that sends
// 105 and then only waits for the applet to go, never reading, must not keep
// it from going.
TEST_F(InstancePipeTest, ExitIsEchoedAndEndsTheAppletOnceThroughItsExitSequence)
{
    // The variant that switches when the applet closes says so in its exit
    // sequence: one line for each time the sequence runs.
    SetRegistryDword(HKEY_LOCAL_MACHINE, VARIANT_KEY, L"NoAudioKestrel", 1);
    SetRegistryDword(HKEY_LOCAL_MACHINE, VARIANT_KEY, L"NoButtonKestrel", 1);
    SetRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"kestrelOnExit", 1);
    for (bool readsTheEcho : {true, false}) {
        SCOPED_TRACE(readsTheEcho ? "a client that reads the echo" : "a client that never reads it");
        startApplet();
        HANDLE waiting = INVALID_HANDLE_VALUE;
        if (readsTheEcho) {
            PipeExchange exchange = ExchangeOverPipe(MORVAX_PIPE, CommandBytes(EXIT_COMMAND));
            ASSERT_TRUE(exchange.connected) << "error " << exchange.openError;
            EXPECT_EQ(exchange.reply, CommandBytes(EXIT_COMMAND)) << "the same two bytes come back";
        } else {
            DWORD error = 0;
            waiting = ConnectToPipe(MORVAX_PIPE, 3000, &error);
            ASSERT_NE(waiting, INVALID_HANDLE_VALUE) << "error " << error;
            ASSERT_TRUE(SendWithoutReading(waiting, EXIT_COMMAND));
        }

        // The exit sequence starts at the next poll; Wine then takes about two
        // seconds to take the process down, as it does after "/x".
        EXPECT_TRUE(debug.waitForLine(applet->pid(), EXIT_SWITCH_LINE, EXIT_WITHIN_MS))
            << "no exit sequence a poll period later; lines:\n" << Listed(lines());
        DWORD exitCode = 1234;
        EXPECT_TRUE(applet->waitForExit(PROCESS_END_MS, &exitCode)) << "the process did not end";
        EXPECT_EQ(exitCode, 0u);
        if (waiting != INVALID_HANDLE_VALUE)
            CloseHandle(waiting);
        ASSERT_TRUE(debug.catchUp());
        // The last line comes once the client has taken the echo.
        std::vector<std::string> expected = {"Cmd read from pipe is 105", "Got an 'Exit' CMD", EXIT_SWITCH_LINE};
        if (readsTheEcho)
            expected.insert(expected.end() - 1, "Incoming command 105 received\n");
        EXPECT_TRUE(InOrder(lines(), expected));
        EXPECT_EQ(CountOf(lines(), EXIT_SWITCH_LINE), 1);
    }
}

// Another command is logged and answered with nothing; the applet polls on
// every five seconds, and the pipe serves no second client, so a later exit
// through it does nothing.
TEST_F(InstancePipeTest, AnotherCommandIsIgnoredAndNoSecondClientIsServed)
{
    startApplet();
    PipeExchange exchange = ExchangeOverPipe(MORVAX_PIPE, CommandBytes(7));
    ASSERT_TRUE(exchange.connected) << "error " << exchange.openError;
    EXPECT_TRUE(exchange.reply.empty());
    ASSERT_TRUE(debug.waitForLine(applet->pid(), "Incoming command 7 received\n"));
    EXPECT_TRUE(InOrder(lines(), {"Cmd read from pipe is 7", "Incoming command 7 received\n"}));

    int polls = CountOf(lines(), KEEP_RUNNING_LINE);
    ASSERT_TRUE(debug.waitForCount(applet->pid(), KEEP_RUNNING_LINE, polls + 1, POLL_PERIOD_MS + 1500));
    DWORD firstPoll = GetTickCount();
    ASSERT_TRUE(debug.waitForCount(applet->pid(), KEEP_RUNNING_LINE, polls + 2, POLL_PERIOD_MS + 1500));
    DWORD period = GetTickCount() - firstPoll;
    EXPECT_GE(period, POLL_PERIOD_MS - 500);
    EXPECT_LE(period, POLL_PERIOD_MS + 1000);

    PipeExchange second = ExchangeOverPipe(MORVAX_PIPE, CommandBytes(EXIT_COMMAND), 500);
    EXPECT_TRUE(second.reply.empty()) << "a second client was answered";
    expectKeepsRunningThroughAPoll();
    EXPECT_EQ(CountOf(lines(), "Cmd read from pipe is 105"), 0);
}

// A client that says nothing is let go after five seconds and the next one served: silence takes no pipe away.
TEST_F(InstancePipeTest, ASilentClientIsLetGoAndTheNextIsServed)
{
    startApplet();
    ASSERT_TRUE(WaitForPipe(MORVAX_PIPE));
    HANDLE silent = CreateFileW(MORVAX_PIPE.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, 0);
    ASSERT_NE(silent, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(WaitForPipe(MORVAX_PIPE, SILENT_CLIENT_MS + 3000)) << "the silent client still holds the pipe";
    PipeExchange exchange = ExchangeOverPipe(MORVAX_PIPE, CommandBytes(EXIT_COMMAND));
    CloseHandle(silent);
    ASSERT_TRUE(exchange.connected) << "error " << exchange.openError;
    EXPECT_EQ(exchange.reply, CommandBytes(EXIT_COMMAND));
    EXPECT_TRUE(applet->waitForExit(EXIT_WITHIN_MS + PROCESS_END_MS));
}

// Only one whole two-byte message is a command: anything shorter or longer is
// none, whatever its first bytes. A client that delivers no byte at all (it
// leaves at once, or sends an empty message) is let go like a silent one, and
// the next client is served.
struct MessageRow {
    const char *name;
    std::vector<BYTE> message;
    bool sendNothing;
    const char *commandLine;  // null: the client is let go unserved
};

class MessageTest : public InstancePipeTest {
protected:
    void runRows(const std::vector<MessageRow> &rows)
    {
        for (const MessageRow &row : rows) {
            SCOPED_TRACE(row.name);
            startApplet();
            PipeExchange exchange = ExchangeOverPipe(MORVAX_PIPE, row.message, 1000, row.sendNothing);
            ASSERT_TRUE(exchange.connected) << "error " << exchange.openError;
            EXPECT_TRUE(exchange.reply.empty());
            if (row.commandLine == nullptr) {
                ASSERT_TRUE(ExchangeOverPipe(MORVAX_PIPE, CommandBytes(7)).connected) << "no next client";
                EXPECT_TRUE(debug.waitForLine(applet->pid(), "Cmd read from pipe is 7")) << "the next client";
                EXPECT_EQ(CountOf(lines(), "Cmd read from pipe is 0"), 0);
            } else {
                EXPECT_TRUE(debug.waitForLine(applet->pid(), row.commandLine)) << "expected [" << row.commandLine << "]";
            }
            EXPECT_EQ(CountOf(lines(), "Got an 'Exit' CMD"), 0);
            expectKeepsRunningThroughAPoll();
        }
    }
};

TEST_F(MessageTest, NothingOrTooLittleGivesNoCommand)
{
    runRows({
        {"connects and leaves", {}, true, nullptr},
        {"an empty message", {}, false, nullptr},
        {"one byte", {EXIT_COMMAND}, false, "Cmd read from pipe is 0"},
    });
}

TEST_F(MessageTest, TooMuchOrTheWrongByteOrderIsNoExit)
{
    std::vector<BYTE> longMessage(64, 0);
    longMessage[0] = EXIT_COMMAND;
    runRows({
        {"three bytes", {EXIT_COMMAND, 0, 0}, false, "Cmd read from pipe is 0"},
        {"64 bytes", longMessage, false, "Cmd read from pipe is 0"},
        {"105 the wrong way round", {0, EXIT_COMMAND}, false, "Cmd read from pipe is 26880"},
    });
}

// A burst of clients that connect and leave at once: each is let go, the
// applet runs on, and the pipe still serves the exit afterwards.
TEST_F(InstancePipeTest, AThousandQuickConnectionsLeaveItRunning)
{
    startApplet();
    ASSERT_TRUE(WaitForPipe(MORVAX_PIPE));
    int connected = 0;
    for (int cycle = 0; cycle < 1000; ++cycle) {
        HANDLE pipe = CreateFileW(MORVAX_PIPE.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            ++connected;
            CloseHandle(pipe);
        }
    }
    EXPECT_GE(connected, 1);
    expectKeepsRunningThroughAPoll();
    EXPECT_EQ(CountOf(lines(), "Cmd read from pipe is 0"), 0) << "a client that left was served";
    EXPECT_TRUE(WaitForPipe(MORVAX_PIPE)) << "the pipe no longer listens";
    PipeExchange exchange = ExchangeOverPipe(MORVAX_PIPE, CommandBytes(EXIT_COMMAND));
    EXPECT_EQ(exchange.reply, CommandBytes(EXIT_COMMAND));
    EXPECT_TRUE(applet->waitForExit(EXIT_WITHIN_MS + PROCESS_END_MS));
}

// The pipe is made with the flag that keeps out other computers from Windows
// Vista on, and without it before; in every case a local client is served.
TEST_F(InstancePipeTest, EveryWindowsVersionServesALocalClient)
{
    // What Wine tells the applet alone about the Windows it runs on; gone again at the end.
    struct VersionOverride {
        ~VersionOverride() { DeleteRegistryTree(HKEY_CURRENT_USER, WINE_APP_DEFAULTS); }
    } override;
    for (const wchar_t *version : {L"win2k", L"winxp", L"vista", L"win7", L"win10"}) {
        SCOPED_TRACE(testing::Message() << std::string(version, version + wcslen(version)));
        SetRegistryValue(HKEY_CURRENT_USER, WINE_APP_DEFAULTS, L"Version", REG_SZ, version,
                         (DWORD)(wcslen(version) + 1) * sizeof(wchar_t));
        startApplet();
        PipeExchange exchange = ExchangeOverPipe(MORVAX_PIPE, CommandBytes(EXIT_COMMAND));
        EXPECT_TRUE(exchange.connected) << "error " << exchange.openError;
        EXPECT_EQ(exchange.reply, CommandBytes(EXIT_COMMAND));
        // Let it end by itself at its next poll: a copy killed while it writes
        // a debug line leaves the debug-output buffer taken, and every later
        // line then waits out the system's ten-second time-out.
        applet->waitForExit(EXIT_WITHIN_MS);
    }
    applet.reset();
}

}  // namespace
