#include "ShellTray.h"
#include "Wait.h"

namespace {

wchar_t const TRAY_CLASS[] = L"Shell_TrayWnd";
size_t const TIP_CHARS = 128;

// Where Wine's shell32 puts the fields in its WM_COPYDATA message. Wine 8.0
// sends the icon's size after the item GUID; later versions moved it up,
// right after the callback message. Both are read; the total size of the
// message tells which one came.
struct MessageLayout {
    size_t tipOffset;
    size_t iconInfoOffset;   // width, height, planes, bits per pixel
    size_t headerSize;       // the image bits follow
};
MessageLayout const LAYOUTS[] = {
    {16, 944, 960},          // Wine 8.0
    {32, 16, 976},           // later Wine, with the balloon icon's size at the end
};

UINT ReadUint(const BYTE *data, size_t offset)
{
    UINT value;
    memcpy(&value, data + offset, sizeof(value));
    return value;
}

// The bytes shell32 takes from a bitmap of this shape with GetBitmapBits.
size_t BitmapBytes(UINT width, UINT height, UINT planes, UINT bitsPerPixel)
{
    return ((size_t)planes * width * height * bitsPerPixel + 15) / 16 * 2;
}

}  // namespace

IconImage IconImageOf(HICON icon)
{
    IconImage image;
    ICONINFO info = {};
    if (icon == nullptr || !GetIconInfo(icon, &info))
        return image;
    BITMAP mask = {}, color = {};
    GetObjectW(info.hbmMask, sizeof(mask), &mask);
    size_t maskBytes = BitmapBytes(mask.bmWidth, mask.bmHeight, mask.bmPlanes, mask.bmBitsPixel);
    size_t colorBytes = 0;
    if (info.hbmColor != nullptr) {
        GetObjectW(info.hbmColor, sizeof(color), &color);
        colorBytes = BitmapBytes(color.bmWidth, color.bmHeight, color.bmPlanes, color.bmBitsPixel);
        image.width = color.bmWidth;
        image.height = color.bmHeight;
        image.bitsPerPixel = color.bmBitsPixel;
    } else {
        image.width = mask.bmWidth;
        image.height = mask.bmHeight / 2;
        image.bitsPerPixel = 1;
    }
    image.bits.resize(maskBytes + colorBytes);
    GetBitmapBits(info.hbmMask, (LONG)maskBytes, image.bits.data());
    if (info.hbmColor != nullptr)
        GetBitmapBits(info.hbmColor, (LONG)colorBytes, image.bits.data() + maskBytes);
    DeleteObject(info.hbmMask);
    if (info.hbmColor != nullptr)
        DeleteObject(info.hbmColor);
    return image;
}

ShellTray::ShellTray()
{
    WNDCLASSW trayClass = {};
    trayClass.lpfnWndProc = WindowProc;
    trayClass.hInstance = GetModuleHandleW(nullptr);
    trayClass.lpszClassName = TRAY_CLASS;
    RegisterClassW(&trayClass);
    create();
}

ShellTray::~ShellTray()
{
    destroy();
}

void ShellTray::create()
{
    // Topmost, so that shell32's FindWindow meets it before any tray window
    // Wine's own explorer may have made.
    window_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, TRAY_CLASS, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, (LONG_PTR)this);
    SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void ShellTray::destroy()
{
    if (window_ != nullptr)
        DestroyWindow(window_);
    window_ = nullptr;
}

bool ShellTray::isTheShell() const
{
    return window_ != nullptr && FindWindowExW(nullptr, nullptr, TRAY_CLASS, nullptr) == window_;
}

void ShellTray::restart()
{
    destroy();
    create();
    SendNotifyMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
}

std::vector<TrayNotification> ShellTray::notificationsFor(HWND appletWindow) const
{
    std::vector<TrayNotification> matching;
    for (const TrayNotification &notification : received_) {
        if (notification.window == appletWindow)
            matching.push_back(notification);
    }
    return matching;
}

bool ShellTray::waitForCount(HWND appletWindow, size_t count, DWORD timeoutMs)
{
    return PumpUntil(std::to_string(count) + " notifications at the tray",
                     [&] { return notificationsFor(appletWindow).size() >= count; }, timeoutMs);
}

bool ShellTray::waitForLatest(HWND appletWindow, const std::function<bool(const TrayNotification &)> &done,
                              DWORD timeoutMs)
{
    return PumpUntil(
        "the notification awaited at the tray",
        [&] {
            std::vector<TrayNotification> notifications = notificationsFor(appletWindow);
            return !notifications.empty() && done(notifications.back());
        },
        timeoutMs);
}

LRESULT CALLBACK ShellTray::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA) {
        ShellTray *tray = (ShellTray *)GetWindowLongPtrW(window, GWLP_USERDATA);
        if (tray != nullptr)
            tray->record(*(const COPYDATASTRUCT *)lParam);
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void ShellTray::record(const COPYDATASTRUCT &data)
{
    const BYTE *bytes = (const BYTE *)data.lpData;
    for (const MessageLayout &layout : LAYOUTS) {
        if (data.cbData < layout.headerSize)
            continue;
        UINT width = ReadUint(bytes, layout.iconInfoOffset);
        UINT height = ReadUint(bytes, layout.iconInfoOffset + 4);
        UINT planes = ReadUint(bytes, layout.iconInfoOffset + 8);
        UINT bitsPerPixel = ReadUint(bytes, layout.iconInfoOffset + 12);
        size_t imageBytes = 0;
        if (width != 0) {
            // A colour icon: a one-bit mask of its size, then the colour bitmap;
            // a monochrome icon: a mask twice its height and nothing else.
            imageBytes = bitsPerPixel == 1 && planes == 1 ? BitmapBytes(width, height * 2, 1, 1)
                                                          : BitmapBytes(width, height, 1, 1) +
                                                                BitmapBytes(width, height, planes, bitsPerPixel);
        }
        if (data.cbData != layout.headerSize + imageBytes)
            continue;

        TrayNotification notification;
        notification.message = (DWORD)data.dwData;
        notification.window = (HWND)(LONG_PTR)(LONG)ReadUint(bytes, 0);
        notification.id = ReadUint(bytes, 4);
        notification.flags = ReadUint(bytes, 8);
        notification.callbackMessage = ReadUint(bytes, 12);
        const wchar_t *tip = (const wchar_t *)(bytes + layout.tipOffset);
        notification.tip.assign(tip, wcsnlen(tip, TIP_CHARS));
        notification.icon.width = width;
        notification.icon.height = height;
        notification.icon.bitsPerPixel = bitsPerPixel;
        notification.icon.bits.assign(bytes + layout.headerSize, bytes + data.cbData);
        received_.push_back(notification);
        if (whileNotified)
            whileNotified(notification);
        return;
    }
    // A message of neither shape: recorded empty, so a test sees that something came.
    TrayNotification unknown;
    unknown.message = (DWORD)data.dwData;
    unknown.window = (HWND)(LONG_PTR)(LONG)(data.cbData >= 4 ? ReadUint(bytes, 0) : 0);
    received_.push_back(unknown);
}
