// The border thread: the white frame painted over and over along the edges
// of the monitor on the switch, until it is told to stop.
//   SetBorderEvent     - the stop event, handed over once by start-up
//   StartBorderThread  - a new border thread; every older loop retires
//   StopBorderLoops    - every loop stops at its next pass
//   WaitForBorderLoops - until every border thread has wiped its frame and ended
//   CurrentBorderLoop  - the number of the loop that may draw now
//   BorderThreadProc   - the loop on the screen
//   DrawBorderOn       - the loop on the chosen monitor of any device context
//   BorderEnumProc     - picks the monitor and runs the loop on it
//   DrawBorderFrame    - one painting of the frame
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
// drawing beside the one that replaced it. Hence the number: every border
// thread is given the number current when it started, starting or stopping
// the border moves it on, and a loop whose number is no longer current stops
// before it paints again. At most one loop ever draws, however quickly the
// border is turned on and off.
static LONG volatile currentLoop = 0;

// Every border thread not yet known to have ended, on the process heap; main
// thread only. Quick requests can leave many retiring loops at once.
static HANDLE *borderThreads = nullptr;
static size_t borderThreadCount = 0;
static size_t borderThreadRoom = 0;

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

static void ForgetEndedBorderThreads()
{
    size_t running = 0;
    for (size_t index = 0; index < borderThreadCount; ++index) {
        if (WaitForSingleObject(borderThreads[index], 0) == WAIT_OBJECT_0)
            CloseHandle(borderThreads[index]);
        else
            borderThreads[running++] = borderThreads[index];
    }
    borderThreadCount = running;
}

static bool KeepBorderThread(HANDLE thread)
{
    if (borderThreadCount == borderThreadRoom) {
        size_t room = borderThreadRoom != 0 ? 2 * borderThreadRoom : 8;
        HANDLE heap = GetProcessHeap();
        void *grown = borderThreads != nullptr ? HeapReAlloc(heap, 0, borderThreads, room * sizeof(HANDLE))
                                               : HeapAlloc(heap, 0, room * sizeof(HANDLE));
        if (grown == nullptr)
            return false;
        borderThreads = (HANDLE *)grown;
        borderThreadRoom = room;
    }
    borderThreads[borderThreadCount++] = thread;
    return true;
}

void StartBorderThread()
{
    ForgetEndedBorderThreads();
    LONG loop = InterlockedIncrement(&currentLoop);
    HANDLE thread = CreateThread(nullptr, 0, BorderThreadProc, (LPVOID)(LONG_PTR)loop, CREATE_SUSPENDED,
                                 nullptr);
    if (thread == nullptr)
        return;
    // Painting must never take time from the programs the user is working in.
    SetThreadPriority(thread, THREAD_PRIORITY_LOWEST);
    ResumeThread(thread);
    // Without room to keep it, the loop still ends at its next pass; only
    // the exit could not wait for its frame to be wiped.
    if (!KeepBorderThread(thread))
        CloseHandle(thread);
}

// The wipe repaints every window under the frame, the applet's own dialogs
// among them, and Windows may send those paint messages to this thread and
// wait for the answer: messages sent meanwhile are answered, or the wipe and
// this wait would wait for each other until the time is up. Nothing posted
// is taken off the queue.
static void WaitAnsweringSentMessages(HANDLE thread, DWORD start, DWORD timeoutMs)
{
    for (;;) {
        DWORD spent = GetTickCount() - start;
        DWORD woken = MsgWaitForMultipleObjects(1, &thread, FALSE, spent < timeoutMs ? timeoutMs - spent : 0,
                                                QS_SENDMESSAGE);
        if (woken != WAIT_OBJECT_0 + 1)
            return;
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

void WaitForBorderLoops(DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (size_t index = 0; index < borderThreadCount; ++index) {
        // The lowest priority would let a busy machine keep the exit waiting.
        SetThreadPriority(borderThreads[index], THREAD_PRIORITY_NORMAL);
        WaitAnsweringSentMessages(borderThreads[index], start, timeoutMs);
    }
    ForgetEndedBorderThreads();
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
// surface to the front. Loaded when needed, so that a system without it (or
// a driver that refuses) still gets its border.
struct Pacing {
    HMODULE library = nullptr;
    IDirectDraw *directDraw = nullptr;
};

static Pacing OpenPacing()
{
    Pacing pacing;
    pacing.library = LoadLibraryW(L"ddraw.dll");
    if (pacing.library == nullptr)
        return pacing;
    DirectDrawCreateProc create =
        (DirectDrawCreateProc)(void *)GetProcAddress(pacing.library, "DirectDrawCreate");
    if (create == nullptr || FAILED(create(nullptr, &pacing.directDraw, nullptr)))
        pacing.directDraw = nullptr;
    if (pacing.directDraw == nullptr)
        return pacing;

    DDSURFACEDESC mode = {};
    mode.dwSize = sizeof(mode);
    pacing.directDraw->GetDisplayMode(&mode);
    HRESULT result = pacing.directDraw->SetCooperativeLevel(GetActiveWindow(), DDSCL_NORMAL);
    // Written for whoever looks into a border that does not show; the border goes on regardless.
    const wchar_t *line = CooperativeLevelResultLine(result);
    if (line != nullptr)
        DebugLine(line);
    return pacing;
}

static void ClosePacing(Pacing &pacing)
{
    if (pacing.directDraw != nullptr)
        pacing.directDraw->Release();
    if (pacing.library != nullptr)
        FreeLibrary(pacing.library);
}

static void WaitForNextPass(const Pacing &pacing)
{
    Sleep(FRAME_PAUSE_MS);
    if (pacing.directDraw == nullptr) {
        Sleep(NO_VBLANK_PAUSE_MS);
        return;
    }
    pacing.directDraw->WaitForVerticalBlank(DDWAITVB_BLOCKEND, nullptr);
    pacing.directDraw->FlipToGDISurface();
}

static bool StopSignalled()
{
    // Alertable, timeout 0: a poll. Only the signal itself ends the loop; a
    // failed wait (no event yet) lets it go on.
    return WaitForSingleObjectEx(borderEventCopy, 0, TRUE) == WAIT_OBJECT_0;
}

static void RunBorderLoop(HDC dc, const RECT &monitorArea, LONG loop)
{
    Pacing pacing = OpenPacing();
    HGDIOBJ previousPen = SelectObject(dc, GetStockObject(WHITE_PEN));
    HBRUSH brush = CreateSolidBrush(BORDER_COLOUR);
    HRGN region = CreateRectRgnIndirect(&monitorArea);
    DebugLine(L"Drawing border\n");

    // Nothing is made or freed in here: the loop runs for up to a minute.
    for (;;) {
        WaitForNextPass(pacing);
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
    ClosePacing(pacing);
}

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
