// The border thread: the white frame painted over and over along the edges
// of the monitor on the switch, until it is told to stop.
//   SetBorderEvent     - the stop event, handed over once by start-up
//   StartBorderThread  - a new loop on the border thread; every older loop retires
//   StopBorderLoops    - every loop stops at its next pass
//   WaitForBorderLoops - until every loop started has wiped its frame and ended
//   CurrentBorderLoop  - the number of the loop that may draw now
//   BorderWorker       - the border thread: the loops one after the other
//   BorderThreadProc   - one loop on the screen
//   DrawBorderOn       - the loop on the chosen monitor of any device context
//   BorderEnumProc     - picks the monitor and runs the loop on it
//   DrawBorderFrame    - one painting of the frame
//   PacingDirectDraw   - the process's DirectDraw object, made once
#include "Display.h"
#include "../shell/Shell.h"

#include <ddraw.h>

// Null until start-up has created the event; the loop reads it afresh at each
// pass, so a border started by "/o" stops on it once it exists.
static HANDLE volatile borderEventCopy = nullptr;

// Two things end a loop. The stop event is the border's own "off", given by
// the switch and the 59 seconds, and by whoever runs a loop on a surface of
// its own. But being auto-reset it reaches one poll only, and every start of
// the border clears it, so a loop that had not polled in time would go on
// drawing beside the one that replaced it. Hence the number: every loop is
// given the number current when it was started, starting or stopping
// the border moves it on, and a loop whose number is no longer current stops
// before it paints again. At most one loop ever draws, however quickly the
// border is turned on and off.
static LONG volatile currentLoop = 0;

// One border thread for the process, made with the first border and then
// kept: it runs the loops one after the other, one for every start of the
// border. A thread of its own per border, made beside the main thread's
// answer to the switch and ending beside the next, held that answer up by
// tens of milliseconds under Wine when the switch turned the border off and
// on quickly. Main thread only, but for the counts.
static HANDLE borderThread = nullptr;
static HANDLE loopStarts = nullptr;      // a semaphore: one count for every start not yet run
static LONG volatile loopsOwed = 0;      // started, and not yet wiped and ended
static LONG volatile newestLoop = 0;     // the number the newest start was given

static DWORD const FRAME_PAUSE_MS = 11;
// Stands in for the vertical-blank wait when DirectDraw is not available:
// about one refresh at 60 Hz.
static DWORD const NO_VBLANK_PAUSE_MS = 16;
static int const WIPE_STRIP_WIDTH = 6;
static COLORREF const BORDER_COLOUR = RGB(255, 255, 255);
static UINT const WIPE_FLAGS = RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_FRAME;

void SetBorderEvent(HANDLE event)
{
    borderEventCopy = event;
}

LONG CurrentBorderLoop()
{
    return currentLoop;
}

static DWORD WINAPI BorderWorker(LPVOID)
{
    for (;;) {
        WaitForSingleObject(loopStarts, INFINITE);
        // Only the newest start can still be current. While later ones wait
        // behind this one it is not: it takes a number below the newest, and
        // its loop ends at its first pass.
        LONG loop = loopsOwed > 1 ? newestLoop - 1 : newestLoop;
        BorderThreadProc((LPVOID)(LONG_PTR)loop);
        InterlockedDecrement(&loopsOwed);
    }
}

static bool BorderThreadRunning()
{
    if (borderThread != nullptr)
        return true;
    if (loopStarts == nullptr)
        loopStarts = CreateSemaphoreW(nullptr, 0, LONG_MAX, nullptr);
    if (loopStarts == nullptr)
        return false;
    borderThread = CreateThread(nullptr, 0, BorderWorker, nullptr, CREATE_SUSPENDED, nullptr);
    if (borderThread == nullptr)
        return false;
    // Painting must never take time from the programs the user is working in.
    SetThreadPriority(borderThread, THREAD_PRIORITY_LOWEST);
    ResumeThread(borderThread);
    return true;
}

void StartBorderThread()
{
    LONG loop = InterlockedIncrement(&currentLoop);
    if (!BorderThreadRunning())
        return;
    newestLoop = loop;
    InterlockedIncrement(&loopsOwed);
    ReleaseSemaphore(loopStarts, 1, nullptr);
}

// The wipe repaints every window under the frame, the applet's own dialogs
// among them, and Windows may send those paint messages to this thread and
// wait for the answer: messages sent meanwhile are answered, or the wipe and
// this wait would wait for each other until the time is up. Nothing posted
// is taken off the queue. The border thread never ends: its loops still owed
// are watched, a pass at a time.
static void WaitAnsweringSentMessages(DWORD timeoutMs)
{
    for (DWORD start = GetTickCount(); loopsOwed != 0;) {
        DWORD spent = GetTickCount() - start;
        if (spent >= timeoutMs)
            return;
        DWORD step = timeoutMs - spent < FRAME_PAUSE_MS ? timeoutMs - spent : FRAME_PAUSE_MS;
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, step, QS_SENDMESSAGE) == WAIT_OBJECT_0) {
            MSG message;
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
}

void WaitForBorderLoops(DWORD timeoutMs)
{
    if (borderThread == nullptr)
        return;
    // The lowest priority would let a busy machine keep the exit waiting.
    SetThreadPriority(borderThread, THREAD_PRIORITY_NORMAL);
    WaitAnsweringSentMessages(timeoutMs);
    SetThreadPriority(borderThread, THREAD_PRIORITY_LOWEST);
}

void StopBorderLoops()
{
    InterlockedIncrement(&currentLoop);
    SetEvent(appState.borderEvent);
}

DWORD WINAPI BorderThreadProc(LPVOID loop)
{
    HDC screen = GetDC(nullptr);
    BOOL result = DrawBorderOn(screen, (LONG)(LONG_PTR)loop);
    ReleaseDC(nullptr, screen);
    return (DWORD)result;
}

BOOL DrawBorderOn(HDC dc, LONG loop)
{
    return EnumDisplayMonitors(dc, nullptr, BorderEnumProc, (LPARAM)loop);
}

// One pass of painting: the 3-pixel white frame along the inside of the region.
static void DrawBorderFrame(HDC dc, HRGN region, HBRUSH brush)
{
    FrameRgn(dc, region, brush, BORDER_WIDTH, BORDER_WIDTH);
}

struct CooperativeLevelLine {
    HRESULT result;
    const wchar_t *line;
};
static CooperativeLevelLine const cooperativeLevelLines[] = {
    {DD_OK, L"Return Was: DD_OK\n"},
    {DDERR_INVALIDPARAMS, L"Return Was: DDERR_INVALIDPARAMS\n"},
    {DDERR_INVALIDOBJECT, L"Return Was: DDERR_INVALIDOBJECT\n"},
    {DDERR_HWNDSUBCLASSED, L"Return Was: DDERR_HWNDSUBCLASSED\n"},
    {DDERR_HWNDALREADYSET, L"Return Was: DDERR_HWNDALREADYSET\n"},
    {DDERR_EXCLUSIVEMODEALREADYSET, L"Return Was: DDERR_EXCLUSIVEMODEALREADYSET\n"},
};

// The diagnostic line for a result of SetCooperativeLevel; null for most.
static const wchar_t *CooperativeLevelResultLine(HRESULT result)
{
    for (const CooperativeLevelLine &row : cooperativeLevelLines) {
        if (row.result == result)
            return row.line;
    }
    return nullptr;
}

typedef HRESULT(WINAPI *DirectDrawCreateProc)(GUID *driver, LPDIRECTDRAW *directDraw, IUnknown *outer);

// DirectDraw paces the loop to the monitor's refresh and brings the GDI
// surface to the front. Loaded when first needed, so that a system without
// it (or a driver that refuses) still gets its border, and then kept for the
// process: setting it up costs far more than a whole border request (tens of
// milliseconds of processor time under Wine), and quick requests would pay
// it for every loop.
static LONG const PACING_NOT_MADE = 0;
static LONG const PACING_BEING_MADE = 1;
static LONG const PACING_MADE = 2;
static LONG volatile pacingState = PACING_NOT_MADE;
static IDirectDraw *pacingDirectDraw = nullptr;
static HRESULT pacingCooperativeLevel = DD_OK;

// The object and its cooperative level, set once with it: the border thread
// has no active window, so every loop would ask for the same level again, and
// under Wine each asking (with the display mode) takes some 10 ms beside the
// main thread's answer to the switch.
static IDirectDraw *CreatePacingDirectDraw()
{
    HMODULE library = LoadLibraryW(L"ddraw.dll");
    if (library == nullptr)
        return nullptr;
    DirectDrawCreateProc create = (DirectDrawCreateProc)(void *)GetProcAddress(library, "DirectDrawCreate");
    IDirectDraw *directDraw = nullptr;
    if (create == nullptr || FAILED(create(nullptr, &directDraw, nullptr))) {
        FreeLibrary(library);
        return nullptr;
    }
    DDSURFACEDESC mode = {};
    mode.dwSize = sizeof(mode);
    directDraw->GetDisplayMode(&mode);
    pacingCooperativeLevel = directDraw->SetCooperativeLevel(GetActiveWindow(), DDSCL_NORMAL);
    // cppcheck-suppress resourceLeak ; the library stays loaded with the object, for the process's life
    return directDraw;
}

// Null without DirectDraw. Loops on threads of their own (a test's surface)
// can come at once: one makes the object, the others wait for it.
static IDirectDraw *PacingDirectDraw()
{
    if (InterlockedCompareExchange(&pacingState, PACING_BEING_MADE, PACING_NOT_MADE) == PACING_NOT_MADE) {
        pacingDirectDraw = CreatePacingDirectDraw();
        InterlockedExchange(&pacingState, PACING_MADE);
    }
    while (pacingState != PACING_MADE)
        Sleep(FRAME_PAUSE_MS);
    return pacingDirectDraw;
}

// Every loop tells what DirectDraw answered to its cooperative level.
static IDirectDraw *OpenPacing()
{
    IDirectDraw *directDraw = PacingDirectDraw();
    if (directDraw == nullptr)
        return nullptr;
    // Written for whoever looks into a border that does not show; the border goes on regardless.
    const wchar_t *line = CooperativeLevelResultLine(pacingCooperativeLevel);
    if (line != nullptr)
        DebugLine(line);
    return directDraw;
}

static void WaitForNextPass(IDirectDraw *directDraw)
{
    Sleep(FRAME_PAUSE_MS);
    if (directDraw == nullptr) {
        Sleep(NO_VBLANK_PAUSE_MS);
        return;
    }
    directDraw->WaitForVerticalBlank(DDWAITVB_BLOCKEND, nullptr);
    directDraw->FlipToGDISurface();
}

static bool StopSignalled()
{
    // Alertable, timeout 0: a poll. Only the signal itself ends the loop; a
    // failed wait (no event yet) lets it go on.
    return WaitForSingleObjectEx(borderEventCopy, 0, TRUE) == WAIT_OBJECT_0;
}

static void RunBorderLoop(HDC dc, const RECT &monitorArea, LONG loop)
{
    IDirectDraw *directDraw = OpenPacing();
    HGDIOBJ previousPen = SelectObject(dc, GetStockObject(WHITE_PEN));
    HBRUSH brush = CreateSolidBrush(BORDER_COLOUR);
    HRGN region = CreateRectRgnIndirect(&monitorArea);
    DebugLine(L"Drawing border\n");

    // Nothing is made or freed in here: the loop runs for up to a minute.
    for (;;) {
        WaitForNextPass(directDraw);
        if (loop != currentLoop)
            break;
        DrawBorderFrame(dc, region, brush);
        if (StopSignalled() || loop != currentLoop)
            break;
    }

    // Repainting everything under the frame wipes it away.
    DebugLine(L"Border is going off, invalidating region\n");
    RECT strip = {monitorArea.left, monitorArea.top, monitorArea.left + WIPE_STRIP_WIDTH, monitorArea.bottom};
    InvalidateRect(nullptr, &strip, FALSE);
    RedrawWindow(nullptr, nullptr, region, WIPE_FLAGS);
    // A loop that another has replaced leaves the event alone: the signal in
    // it may be meant for the loop that draws now.
    if (loop == currentLoop)
        ResetEvent(borderEventCopy);

    SelectObject(dc, previousPen);
    DeleteObject(brush);
    DeleteObject(region);
}

// cppcheck-suppress constParameter ; the signature is MONITORENUMPROC's
BOOL CALLBACK BorderEnumProc(HMONITOR monitor, HDC dc, RECT *area, LPARAM loop)
{
    RECT monitorArea = *area;
    // With one monitor the stored choice does not matter: it must be the one on the switch.
    if (GetSystemMetrics(SM_CMONITORS) > 1) {
        MONITORINFOEXW info = {};
        info.cbSize = sizeof(info);
        GetMonitorInfoW(monitor, &info);
        if (IsChosenMonitor(info.szDevice) == 0)
            return TRUE;
    }
    RunBorderLoop(dc, monitorArea, (LONG)loop);
    return FALSE;
}
