// Plays the shell's notification area for the applet: a top-level
// "Shell_TrayWnd" window that Wine's Shell_NotifyIconW finds and sends each
// NIM_ADD, NIM_MODIFY and NIM_DELETE to as WM_COPYDATA. Every notification
// is recorded with the icon's image, so a test sees the tray icon exactly as
// the shell would, without a shell.
//   ShellTray::restart        - a new shell window and the "TaskbarCreated" broadcast
//   ShellTray::waitForCount   - pumps until so many notifications have come
//   ShellTray::waitForLatest  - pumps until the latest one is as wanted
//   IconImageOf               - an icon's image as Wine's shell32 sends it
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <functional>
#include <string>
#include <vector>

// The image of an icon: the monochrome mask and the colour bitmap, as
// GetBitmapBits gives them. Equal images mean the same icon resource.
struct IconImage {
    UINT width = 0;
    UINT height = 0;
    UINT bitsPerPixel = 0;
    std::vector<BYTE> bits;   // mask, then colour

    bool empty() const { return bits.empty(); }
    bool operator==(const IconImage &other) const
    {
        return width == other.width && height == other.height && bitsPerPixel == other.bitsPerPixel &&
               bits == other.bits;
    }
};

// The image of an icon handle, exactly as shell32 puts it into its message.
IconImage IconImageOf(HICON icon);

struct TrayNotification {
    DWORD message = 0;            // NIM_ADD, NIM_MODIFY, NIM_DELETE
    HWND window = nullptr;
    UINT id = 0;
    UINT flags = 0;
    UINT callbackMessage = 0;
    std::wstring tip;
    IconImage icon;
};

class ShellTray {
public:
    ShellTray();                  // the window exists and is the one shell32 finds
    ~ShellTray();
    ShellTray(const ShellTray &) = delete;
    ShellTray &operator=(const ShellTray &) = delete;

    HWND window() const { return window_; }
    // True when FindWindow("Shell_TrayWnd") answers this window.
    bool isTheShell() const;

    // Every notification for one window of the applet, oldest first.
    std::vector<TrayNotification> notificationsFor(HWND appletWindow) const;
    // Pumps messages until `count` notifications for the window have come; true in time.
    bool waitForCount(HWND appletWindow, size_t count, DWORD timeoutMs = 10000);
    // Pumps messages until the latest notification for the window satisfies `done`.
    bool waitForLatest(HWND appletWindow, const std::function<bool(const TrayNotification &)> &done,
                       DWORD timeoutMs = 10000);
    void clear() { received_.clear(); }
    // Runs inside the shell's handling of each notification, before the
    // applet's call returns: as a shell that is slow to answer would let
    // other messages reach the applet meanwhile.
    std::function<void(const TrayNotification &)> whileNotified;

    // The shell restarts: its window goes, a new one comes, and "TaskbarCreated"
    // is broadcast to every top-level window, as Explorer does.
    void restart();

private:
    void create();
    void destroy();
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void record(const COPYDATASTRUCT &data);

    HWND window_ = nullptr;
    std::vector<TrayNotification> received_;
};
