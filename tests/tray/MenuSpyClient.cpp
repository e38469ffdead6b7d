#include "MenuSpy.h"
#include "AppletProcess.h"
#include "Wait.h"

namespace {

UINT const WM_TRAY_NOTIFY = 0x832A;
WPARAM const TRAY_ICON_ID = 1;
wchar_t const POPUP_MENU_CLASS[] = L"#32768";

struct PopupSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchPopup(HWND window, LPARAM context)
{
    PopupSearch *search = (PopupSearch *)context;
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (wcscmp(className, POPUP_MENU_CLASS) == 0 && owner == search->processId && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

std::string Utf8(const std::wstring &text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string converted(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &converted[0], size, nullptr, nullptr);
    return converted;
}

std::vector<std::string> DescribeMenu(const MenuItems &items)
{
    std::vector<std::string> lines;
    for (const MenuItem &item : items) {
        if (item.separator) {
            lines.push_back("----");
            continue;
        }
        std::string line = std::to_string(item.id) + " " + Utf8(item.text);
        if (item.grayed)
            line += " [grey]";
        if (item.isDefault)
            line += " [default]";
        lines.push_back(line);
    }
    return lines;
}

MenuItems ReadMenuItems(HMENU menu)
{
    MenuItems items;
    for (int position = 0; menu != nullptr && position < GetMenuItemCount(menu); ++position) {
        wchar_t text[SPIED_TEXT_CHARS] = {};
        MENUITEMINFOW info = {sizeof(info)};
        info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = SPIED_TEXT_CHARS;
        GetMenuItemInfoW(menu, position, TRUE, &info);
        MenuItem item;
        item.id = info.wID;
        item.separator = (info.fType & MFT_SEPARATOR) != 0;
        item.grayed = (info.fState & MFS_GRAYED) != 0;
        item.isDefault = (info.fState & MFS_DEFAULT) != 0;
        item.text = text;
        items.push_back(item);
    }
    return items;
}

MenuSpy::MenuSpy(HWND appletWindow) : applet_(appletWindow)
{
    WNDCLASSW receiverClass = {};
    receiverClass.lpfnWndProc = ReceiverProc;
    receiverClass.hInstance = GetModuleHandleW(nullptr);
    receiverClass.lpszClassName = MENU_SPY_RECEIVER_CLASS;
    RegisterClassW(&receiverClass);
    receiver_ = CreateWindowExW(0, MENU_SPY_RECEIVER_CLASS, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(receiver_, GWLP_USERDATA, (LONG_PTR)this);
    markerMessage_ = RegisterWindowMessageW(MENU_SPY_MARKER_MESSAGE);

    DWORD thread = GetWindowThreadProcessId(applet_, &appletProcess_);
    spyLibrary_ = LoadLibraryW((BinaryFolder() + L"\\MenuSpy.dll").c_str());
    if (spyLibrary_ == nullptr || thread == 0)
        return;
    HOOKPROC callWndProc = (HOOKPROC)GetProcAddress(spyLibrary_, "MenuSpyCallWndProc");
    HOOKPROC getMessageProc = (HOOKPROC)GetProcAddress(spyLibrary_, "MenuSpyGetMessage");
    if (callWndProc != nullptr)
        callWndHook_ = SetWindowsHookExW(WH_CALLWNDPROC, callWndProc, spyLibrary_, thread);
    if (getMessageProc != nullptr)
        getMessageHook_ = SetWindowsHookExW(WH_GETMESSAGE, getMessageProc, spyLibrary_, thread);
}

MenuSpy::~MenuSpy()
{
    if (popupWindow() != nullptr)
        closeMenu(2000);
    if (callWndHook_ != nullptr)
        UnhookWindowsHookEx(callWndHook_);
    if (getMessageHook_ != nullptr)
        UnhookWindowsHookEx(getMessageHook_);
    if (receiver_ != nullptr)
        DestroyWindow(receiver_);
    if (spyLibrary_ != nullptr)
        FreeLibrary(spyLibrary_);
}

LRESULT CALLBACK MenuSpy::ReceiverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    MenuSpy *spy = (MenuSpy *)GetWindowLongPtrW(window, GWLP_USERDATA);
    if (message != WM_COPYDATA || spy == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    const COPYDATASTRUCT *copy = (const COPYDATASTRUCT *)lParam;
    if (copy->dwData == SPY_MENU_SHOWN && copy->cbData == sizeof(SpiedMenu)) {
        const SpiedMenu *spied = (const SpiedMenu *)copy->lpData;
        MenuItems items;
        for (int position = 0; position < spied->count && position < SPIED_MAX_ITEMS; ++position) {
            const SpiedItem &source = spied->items[position];
            MenuItem item;
            item.id = source.id;
            item.separator = (source.type & MFT_SEPARATOR) != 0;
            item.grayed = (source.state & MFS_GRAYED) != 0;
            item.isDefault = (source.state & MFS_DEFAULT) != 0;
            item.text.assign(source.text, wcsnlen(source.text, SPIED_TEXT_CHARS));
            items.push_back(item);
        }
        spy->shown_.push_back(items);
    } else if (copy->dwData == SPY_MENU_CLOSED) {
        ++spy->menusClosed_;
    } else if (copy->dwData == SPY_MARKER_SEEN && copy->cbData == sizeof(DWORD)) {
        spy->lastMarkerSeen_ = *(const DWORD *)copy->lpData;
    }
    return TRUE;
}

void MenuSpy::notify(WPARAM iconId, LPARAM mouseMessage)
{
    PostMessageW(applet_, WM_TRAY_NOTIFY, iconId, mouseMessage);
}

bool MenuSpy::sync(DWORD timeoutMs)
{
    DWORD number = ++markersPosted_;
    PostMessageW(applet_, markerMessage_, number, 0);
    return PumpUntil("the applet to take marker " + std::to_string(number), [&] { return lastMarkerSeen_ >= number; },
                     timeoutMs);
}

HWND MenuSpy::popupWindow() const
{
    PopupSearch search = {appletProcess_, nullptr};
    EnumWindows(MatchPopup, (LPARAM)&search);
    return search.found;
}

bool MenuSpy::closeMenu(DWORD timeoutMs)
{
    HWND popup = nullptr;
    if (!PumpUntil("the applet's popup menu", [&] { return (popup = popupWindow()) != nullptr; }, timeoutMs))
        return false;
    size_t closedBefore = menusClosed_;
    PostMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 0);
    return PumpUntil("the popup menu to close",
                     [&] { return menusClosed_ > closedBefore && popupWindow() == nullptr; }, timeoutMs);
}

std::optional<MenuItems> MenuSpy::openTrayMenu()
{
    size_t shownBefore = shown_.size();
    notify(TRAY_ICON_ID, WM_RBUTTONUP);
    // The spy reports the popup while the menu loop opens it, so once the
    // applet (inside that loop) retrieves the marker the report is here.
    if (!sync() || shown_.size() == shownBefore)
        return std::nullopt;
    if (!closeMenu())
        return std::nullopt;
    return shown_.back();
}
