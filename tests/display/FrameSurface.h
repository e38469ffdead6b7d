// The border loop run in this process on a memory surface instead of the
// screen, where its pixels can be read back (Wine shows nothing that a
// program draws on the screen's device context).
//   FrameSurface      - a 32-bit top-down DIB selected into a memory device context
//   DrawBorderOnSurface - runs the loop on it until the frame shows, then stops it
//   FrameMismatches   - pixels that differ from a 3-pixel white frame round one rectangle
#pragma once

#include <windows.h>

#include <string>

class FrameSurface {
public:
    FrameSurface(int width, int height);
    ~FrameSurface();
    FrameSurface(const FrameSurface &) = delete;
    FrameSurface &operator=(const FrameSurface &) = delete;
    HDC dc() const { return dc_; }
    int width() const { return width_; }
    int height() const { return height_; }
    DWORD pixel(int x, int y) const { return pixels_[y * width_ + x] & 0x00FFFFFF; }
    bool anyWhite() const;

private:
    int width_, height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    DWORD *pixels_ = nullptr;
};

struct LoopOutcome {
    bool drewSomething;   // white appeared before the time-out
    bool ended;           // the loop ended once told to stop
    BOOL result;          // what the enumeration returned
};
// Runs DrawBorderOn on the surface on a thread of its own, with a stop event
// of the test's own, and stops it once something white has shown (or after
// waitMs when nothing does).
LoopOutcome DrawBorderOnSurface(FrameSurface &surface, DWORD waitMs = 3000);

// "" when the surface holds exactly a 3-pixel white frame along the inside of
// `frame` and black everywhere else; otherwise the count and the first pixel.
std::string FrameMismatches(const FrameSurface &surface, const RECT &frame);
