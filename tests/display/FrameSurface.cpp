#include "FrameSurface.h"
#include "Wait.h"
#include "display/Display.h"

#include <cstdio>

FrameSurface::FrameSurface(int width, int height) : width_(width), height_(height)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down: row 0 is the top
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, (void **)&pixels_, nullptr, 0);
    dc_ = CreateCompatibleDC(nullptr);
    previous_ = SelectObject(dc_, bitmap_);
    if (pixels_ != nullptr)
        ZeroMemory(pixels_, (size_t)width * height * sizeof(DWORD));
}

FrameSurface::~FrameSurface()
{
    SelectObject(dc_, previous_);
    DeleteDC(dc_);
    DeleteObject(bitmap_);
}

bool FrameSurface::anyWhite() const
{
    for (int index = 0; index < width_ * height_; ++index) {
        if ((pixels_[index] & 0x00FFFFFF) == 0x00FFFFFF)
            return true;
    }
    return false;
}

namespace {

struct LoopRun {
    HDC dc;
    LONG loop;
    BOOL result;
};

DWORD WINAPI RunLoop(void *context)
{
    LoopRun *run = (LoopRun *)context;
    run->result = DrawBorderOn(run->dc, run->loop);
    return 0;
}

}  // namespace

LoopOutcome DrawBorderOnSurface(FrameSurface &surface, DWORD waitMs)
{
    LoopOutcome outcome = {};
    HANDLE stop = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    SetBorderEvent(stop);
    LoopRun run = {surface.dc(), CurrentBorderLoop(), FALSE};
    HANDLE thread = CreateThread(nullptr, 0, RunLoop, &run, 0, nullptr);
    // Until the loop draws or ends: where it must not draw, the whole wait
    // passes with nothing drawn.
    (void)WaitUntil("the loop to draw or end", [&] {
        outcome.drewSomething = surface.anyWhite();
        return outcome.drewSomething || WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    }, waitMs);
    // A few more passes over the same pixels change nothing.
    Sleep(100);
    SetEvent(stop);
    outcome.ended = WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0;
    outcome.drewSomething = surface.anyWhite();
    outcome.result = run.result;
    SetBorderEvent(nullptr);
    CloseHandle(thread);
    CloseHandle(stop);
    return outcome;
}

std::string FrameMismatches(const FrameSurface &surface, const RECT &frame)
{
    int const width = 3;
    int mismatches = 0;
    char first[160] = "";
    for (int y = 0; y < surface.height(); ++y) {
        for (int x = 0; x < surface.width(); ++x) {
            bool inside = x >= frame.left && x < frame.right && y >= frame.top && y < frame.bottom;
            bool onEdge = x < frame.left + width || x >= frame.right - width || y < frame.top + width ||
                          y >= frame.bottom - width;
            DWORD expected = inside && onEdge ? 0x00FFFFFF : 0;
            if (surface.pixel(x, y) == expected)
                continue;
            if (mismatches++ == 0)
                snprintf(first, sizeof(first), "first at %d,%d: %06lx instead of %06lx", x, y,
                         (unsigned long)surface.pixel(x, y), (unsigned long)expected);
        }
    }
    if (mismatches == 0)
        return "";
    return std::to_string(mismatches) + " pixels differ, " + first;
}
