#include "SoakRig.h"
#include "BenchTiming.h"
#include "PipeClient.h"
#include "UnixCommand.h"
#include "Wait.h"

#include <cstdio>

namespace {

UINT const WM_TRAY_NOTIFY = 0x832A;
UINT const SHELL_RESTART = WM_APP + 1;
UINT const SHELL_FORGET = WM_APP + 2;
WORD const IDM_ABOUT = 104;
WORD const IDM_OPTIONS = 32776;
wchar_t const OPTIONS_CAPTION[] = L"Options...";
wchar_t const ABOUT_CAPTION[] = L"About Kestrel";
DWORD const START_TIMEOUT_MS = 15000;
DWORD const REPORT_TIMEOUT_MS = 5000;
DWORD const WATCHER_TIMEOUT_MS = 5000;
// The watcher holds the switch open; every send only opens it for a moment.
DWORD const WATCHER_STEADY_MS = 200;
DWORD const DIALOG_TIMEOUT_MS = 10000;
DWORD const EXIT_TIMEOUT_MS = 15000;
// A silent pipe client is let go after 5 s.
DWORD const SILENT_CLIENT_MS = 6500;
DWORD const ALT_HELD_MS = 800;
std::vector<BYTE> const BORDER_ON_REQUEST = {3, 1, 0, 0, 0, 0, 0, 0};
std::vector<BYTE> const BORDER_OFF_REQUEST = {3, 0, 0, 0, 0, 0, 0, 0};
const char *const KINDS[] = {"switch", "resolution", "border", "other"};

int KindIndex(const std::string &kind)
{
    for (int index = 0; index < 3; ++index)
        if (kind == KINDS[index])
            return index;
    return 3;
}

// (width << 16) | height of the first monitor, the one SetMonitorChosen names.
BOOL CALLBACK TakeFirstMonitor(HMONITOR monitor, HDC, RECT *area, LPARAM resolution)
{
    *(DWORD *)resolution = (DWORD)((area->right - area->left) << 16 | (area->bottom - area->top));
    return FALSE;
}

DWORD ChosenMonitorResolution()
{
    DWORD resolution = 0;
    EnumDisplayMonitors(nullptr, nullptr, TakeFirstMonitor, (LPARAM)&resolution);
    return resolution;
}

DWORD WINAPI SilentPipeClient(void *)
{
    ExchangeOverPipe(MORVAX_PIPE, {}, SILENT_CLIENT_MS, true);
    return 0;
}

}  // namespace

// The stand-in shell answers the applet's tray calls at once, whatever the
// soak is doing: a shell that stopped answering would hold the applet up.
DWORD WINAPI ShellThread(void *context)
{
    SoakRig *rig = (SoakRig *)context;
    ShellTray shell;
    rig->shell_ = &shell;
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    SetEvent(rig->shellReady_);
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == nullptr && message.message == SHELL_RESTART) {
            HWND applet = (HWND)message.wParam;
            size_t before = shell.notificationsFor(applet).size();
            shell.restart();
            rig->shellRestartOk_ = shell.waitForCount(applet, before + 1) ? 1 : 0;
            SetEvent(rig->shellRestarted_);
        } else if (message.hwnd == nullptr && message.message == SHELL_FORGET) {
            shell.clear();
        } else {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    rig->shell_ = nullptr;
    return 0;
}

SoakRig::SoakRig() : model_(ledger_, ChosenMonitorResolution())
{
    shellReady_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    shellRestarted_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    borderShown_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

SoakRig::~SoakRig()
{
    simulator_.setListener(nullptr);
    spy_.reset();
    applet_.reset();
    if (silentClient_ != nullptr) {
        WaitForSingleObject(silentClient_, SILENT_CLIENT_MS);
        CloseHandle(silentClient_);
    }
    if (shellThread_ != nullptr) {
        PostThreadMessageW(shellThreadId_, WM_QUIT, 0, 0);
        WaitForSingleObject(shellThread_, 5000);
        CloseHandle(shellThread_);
    }
}

bool SoakRig::start(std::string *failure)
{
    shellThread_ = CreateThread(nullptr, 0, ShellThread, this, 0, &shellThreadId_);
    if (shellThread_ == nullptr || WaitForSingleObject(shellReady_, START_TIMEOUT_MS) != WAIT_OBJECT_0 ||
        !shell_->isTheShell())
        return *failure = "the stand-in shell did not become the shell", false;
    if (!XdotoolInstalled())
        return *failure = "xdotool is not installed", false;

    fw4_ = simulator_.add(SwitchInterface(0x5A04, 0x0400, 8));
    SimInterface older = SwitchInterface(0x5A01, 0x0301, 16);
    older.present = false;
    fw3_ = simulator_.add(older);
    ledger_.nameInterface(fw4_, "fw4");
    ledger_.nameInterface(fw3_, "fw3");
    model_.identify(fw4_, SwitchIdentity{true, true, 8});
    model_.identify(fw3_, SwitchIdentity{false, false, 16});
    mixer_ = mixers_.add(SimMixer());
    // A firmware-4 switch would ask for the monitor on it at start-up.
    SetMonitorChosen();
    auto listener = [this](const SimEvent &event) {
        const std::vector<BYTE> &bytes = event.report.bytes;
        if (event.kind != SimEvent::Write || !event.report.accepted)
            return;
        InterlockedIncrement(&receivedOfKind_[KindIndex(KindOf(bytes))]);
        if (bytes.size() >= 3 && bytes[0] == 3 && bytes[1] == 4 && bytes[2] == 1) {
            borderShownAt_ = Now();
            SetEvent(borderShown_);
        }
    };
    simulator_.setListener(listener);

    notepad_.reset(new Notepad());
    if (!notepad_->started())
        return *failure = "Notepad did not start", false;
    applet_.reset(new AppletProcess());
    if (!applet_->start() || applet_->waitForWindow() == nullptr)
        return *failure = "the applet did not start", false;
    if (!simulator_.waitForClient(applet_->pid()) || !mixers_.served(applet_->pid()))
        return *failure = "the applet did not load the stand-in DLLs", false;
    spy_.reset(new MenuSpy(applet_->window()));
    if (!spy_->installed() || !spy_->sync())
        return *failure = "the menu spy could not watch the applet", false;
    // Start-up's own reports are not the soak's. Their number depends on the
    // switch met, so their end is waited for as quiet.
    simulator_.waitForQuiet();
    simulator_.setListener(nullptr);
    simulator_.clearReports();
    for (volatile LONG &count : receivedOfKind_)
        count = 0;
    simulator_.setListener(listener);
    model_.startedWith(fw4_);
    if (!waitForWatcher(fw4_))
        return *failure = "the watcher never opened the switch", false;
    return true;
}

// Sent messages overtake posted ones, so each action's reports are awaited
// before the next: the order at the switch is then the order of the actions.
// Counted by kind: a report of one kind that came early (the border timer's)
// does not stand in for another.
void SoakRig::waitForExpectedReports()
{
    std::vector<int> lagging;
    auto allCame = [&] {
        lagging.clear();
        for (int kind = 0; kind < 3; ++kind) {
            size_t wanted = ledger_.expectedOfKind(KINDS[kind]) - givenUp_[KINDS[kind]];
            if ((size_t)receivedOfKind_[kind] < wanted)
                lagging.push_back(kind);
        }
        return lagging.empty();
    };
    if (WaitUntil("every report of the action", allCame, REPORT_TIMEOUT_MS))
        return;
    for (int kind : lagging)
        givenUp_[KINDS[kind]] = ledger_.expectedOfKind(KINDS[kind]) - (size_t)receivedOfKind_[kind];
    fault("reports that did not come within 5 s of their action");
}

bool SoakRig::waitForWatcher(int interfaceId)
{
    DWORD steadySince = GetTickCount();
    auto listening = [&] {
        if (simulator_.openCount(interfaceId) < 1)
            steadySince = GetTickCount();
        return GetTickCount() - steadySince >= WATCHER_STEADY_MS;
    };
    if (WaitUntil("the watcher holding the switch open", listening, WATCHER_TIMEOUT_MS))
        return true;
    fault("switch plugged in, its watcher never listening");
    return false;
}

int SoakRig::actionsDone() const
{
    int done = 0;
    for (const auto &action : actions)
        done += action.second;
    return done;
}

void SoakRig::settleTimer()
{
    if (!model_.nearTimer(GetTickCount()))
        return;
    while (!model_.timerDue(GetTickCount()))
        Sleep(20);
    model_.timerFired();
    leavingToTimer_ = false;
    count("59-s border timer ran out");
    waitForExpectedReports();
}

void SoakRig::borderRequest(bool on, bool leaveToTimer)
{
    int attached = model_.attached();
    if (on && model_.displayFirmware())
        ResetEvent(borderShown_);
    LONGLONG sent = Now();
    if (attached < 0 || simulator_.sendInputReport(attached, on ? BORDER_ON_REQUEST : BORDER_OFF_REQUEST) < 1) {
        fault("border request that reached no open switch");
        return;
    }
    model_.borderRequest(on);
    if (on && model_.displayFirmware() && WaitForSingleObject(borderShown_, REPORT_TIMEOUT_MS) == WAIT_OBJECT_0) {
        borderReplies.push_back(Milliseconds(borderShownAt_ - sent));
        if (borderReplies.back() > slowestReply) {
            slowestReply = borderReplies.back();
            slowestReplyAfter = lastAction_;
        }
    }
    leavingToTimer_ = leavingToTimer_ || (leaveToTimer && model_.displayFirmware());
    count(std::string("border ") + (on ? "on" : "off") + " asked by the switch" +
          (model_.displayFirmware() ? "" : " (firmware 3: ignored)") + (leaveToTimer ? ", left to the 59-s timer" : ""));
}

// On, off, on, off, on as quickly as the switch can send them.
void SoakRig::borderBurst()
{
    int attached = model_.attached();
    for (int request = 0; request < 5; ++request) {
        bool on = request % 2 == 0;
        if (attached < 0 || simulator_.sendInputReport(attached, on ? BORDER_ON_REQUEST : BORDER_OFF_REQUEST) < 1) {
            fault("border request that reached no open switch");
            return;
        }
        model_.borderRequest(on);
    }
    count("quick border burst (on off on off on)");
}

void SoakRig::displayChange()
{
    DWORD resolution = ChosenMonitorResolution();
    applet_->post(WM_DISPLAYCHANGE, 32, MAKELPARAM(HIWORD(resolution), LOWORD(resolution)));
    model_.displayChange();
    count("display change");
}

void SoakRig::muteFlip()
{
    bool muted = !model_.muted();
    mixers_.setMute(mixer_, 0, muted ? 1 : 0);
    model_.muteChanged(muted);
    count(muted ? "speakers muted" : "speakers unmuted");
}

bool SoakRig::focusNotepad()
{
    // Each focus types a letter; the text is emptied before it gets long.
    HWND window = WaitForVisibleWindow(notepad_->processId(), 0);
    HWND edit = window != nullptr ? FindWindowExW(window, nullptr, L"Edit", nullptr) : nullptr;
    if (edit != nullptr && notepad_->text().size() > 1000)
        SendMessageTimeoutW(edit, WM_SETTEXT, 0, (LPARAM)L"", SMTO_NORMAL, 5000, nullptr);
    // A letter no sequence uses, typed on the X display.
    if (notepad_->focus([this] {
            notepad_->giveXFocus();
            RunUnixCommand("xdotool key z");
        }))
        return true;
    fault("typed hotkey skipped: Notepad did not take the focus");
    return false;
}

void SoakRig::typedHotkey(int kind)
{
    if (!focusNotepad())
        return;
    if (kind == 1) {
        RunUnixCommand("xdotool keydown alt key ctrl ctrl");
        Sleep(ALT_HELD_MS);
        RunUnixCommand("xdotool keyup alt");
        model_.switchCommand(1);
        count("hotkey typed: ALT + Control Control (video only)");
    } else if (kind == 3) {
        RunUnixCommand("xdotool key ctrl ctrl");
        model_.switchCommand(3);
        count("hotkey typed: Control Control (switch)");
    } else {
        // In pairs: Wine on Xvfb adds Scroll Lock releases of its own after an odd count.
        RunUnixCommand("xdotool key Scroll_Lock Scroll_Lock");
        if (model_.displayFirmware())
            model_.optimize();
        count("hotkey typed: Scroll Lock Scroll Lock (optimize)");
    }
}

void SoakRig::menuCommand(WORD command)
{
    applet_->post(WM_COMMAND, command);
    switch (command) {
    case 32784: model_.switchCommand(3); count("menu: Switch All"); break;
    case 32785: model_.switchCommand(2); count("menu: Switch Audio"); break;
    case 32786: model_.switchCommand(1); count("menu: Switch Video"); break;
    case 32783: model_.optimize(); count("menu: Optimize Display"); break;
    }
}

void SoakRig::iconDoubleClick()
{
    for (UINT mouse : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
        applet_->post(WM_TRAY_NOTIFY, 1, mouse);
    model_.switchCommand(3);
    count("tray icon double-clicked");
}

void SoakRig::trayMenu()
{
    if (!spy_->openTrayMenu())
        fault("tray menu that did not open and close");
    count("tray menu opened, closed with Escape");
}

bool SoakRig::closeDialog(HWND dialog, int closing, bool about)
{
    if (closing == 2) {
        // Escape, where the dialog's own loop reads it: its focused control.
        GUITHREADINFO thread = {sizeof(thread)};
        GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &thread);
        HWND target = thread.hwndFocus != nullptr ? thread.hwndFocus : dialog;
        PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageW(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    } else if (about && closing == 1) {
        PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
        HWND button = GetDlgItem(dialog, closing == 0 ? IDOK : IDCANCEL);
        DWORD_PTR result = 0;
        SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, DIALOG_TIMEOUT_MS, &result);
    }
    // Gone, and the applet back in its own message loop: under Wine without a
    // window manager the closing holds its main thread for a while.
    return PumpUntil("the dialog gone", [&] { return !IsWindow(dialog); }, DIALOG_TIMEOUT_MS) && spy_->sync();
}

void SoakRig::optionsDialog(int closing)
{
    static const char *const ways[] = {"OK", "Cancel", "Escape"};
    applet_->post(WM_COMMAND, IDM_OPTIONS);
    HWND dialog = WaitForDialog(applet_->pid(), OPTIONS_CAPTION, DIALOG_TIMEOUT_MS);
    if (dialog == nullptr)
        fault("Options that did not open");
    else if (!closeDialog(dialog, closing, false))
        fault(std::string("Options that did not close with ") + ways[closing]);
    count(std::string("Options opened, closed with ") + ways[closing]);
}

void SoakRig::aboutDialog(int closing)
{
    static const char *const ways[] = {"OK", "the close box", "Escape"};
    applet_->post(WM_COMMAND, IDM_ABOUT);
    HWND dialog = WaitForDialog(applet_->pid(), ABOUT_CAPTION, DIALOG_TIMEOUT_MS);
    if (dialog == nullptr)
        fault("About that did not open");
    else if (!closeDialog(dialog, closing, true))
        fault(std::string("About that did not close with ") + ways[closing]);
    count(std::string("About opened, closed with ") + ways[closing]);
}

void SoakRig::pipeClient(int kind)
{
    static const char *const kinds[] = {"silent", "short (one byte)", "wrong command (66)", "connect and leave"};
    PipeExchange exchange;
    if (kind == 0) {
        // Let go after 5 s: it waits on a thread of its own meanwhile.
        if (silentClient_ != nullptr) {
            WaitForSingleObject(silentClient_, INFINITE);
            CloseHandle(silentClient_);
        }
        silentClient_ = CreateThread(nullptr, 0, SilentPipeClient, nullptr, 0, nullptr);
        count("pipe client: silent");
        return;
    }
    if (kind == 1)
        exchange = ExchangeOverPipe(MORVAX_PIPE, {0x69}, 500);
    else if (kind == 2)
        exchange = ExchangeOverPipe(MORVAX_PIPE, CommandBytes(66), 500);
    else
        exchange = ExchangeOverPipe(MORVAX_PIPE, {}, 0, true);
    // The pipe serves one client in its life; the later ones find nobody listening.
    count(std::string("pipe client: ") + kinds[kind] + (exchange.connected ? ", served" : ", refused"));
    if (!exchange.reply.empty())
        fault("pipe client that was answered without asking to exit");
}

void SoakRig::secondStart()
{
    AppletProcess second;
    DWORD exitCode = 1234;
    if (!second.start() || !second.waitForExit(EXIT_TIMEOUT_MS, &exitCode))
        fault("second start that did not end by itself");
    else if (exitCode != 0)
        fault("second start that ended with a code other than 0");
    count("second start (refused)");
}

void SoakRig::explorerRestart()
{
    PostThreadMessageW(shellThreadId_, SHELL_RESTART, (WPARAM)applet_->window(), 0);
    if (WaitForSingleObject(shellRestarted_, START_TIMEOUT_MS) != WAIT_OBJECT_0 || shellRestartOk_ == 0)
        fault("Explorer restart after which the icon did not come back");
    PostThreadMessageW(shellThreadId_, SHELL_FORGET, 0, 0);
    count("Explorer restarted (TaskbarCreated)");
}

void SoakRig::swapSwitch()
{
    bool toOlder = model_.attached() == fw4_;
    int from = toOlder ? fw4_ : fw3_, to = toOlder ? fw3_ : fw4_;
    simulator_.unplug(from);
    model_.detach();
    simulator_.plug(to);
    model_.attach(to);
    count(toOlder ? "switch swapped: firmware 4 out, firmware 3 in" : "switch swapped: firmware 3 out, firmware 4 in");
    waitForExpectedReports();
    waitForWatcher(to);
}

bool SoakRig::finish(DWORD *slashXExit, DWORD *appletExit)
{
    spy_.reset();
    settleTimer();
    model_.exit();
    AppletProcess slashX(L"/x");
    *slashXExit = 1234;
    *appletExit = 1234;
    if (!slashX.start() || !slashX.waitForExit(EXIT_TIMEOUT_MS, slashXExit))
        return false;
    bool ended = applet_->waitForExit(EXIT_TIMEOUT_MS, appletExit);
    waitForExpectedReports();
    return ended;
}

std::map<std::string, KindTally> SoakRig::tally() const
{
    return ledger_.compare(simulator_.reports(SIM_ANY_INTERFACE));
}
