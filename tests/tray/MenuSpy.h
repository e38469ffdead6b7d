// The test's side of the menu spy: installs the spy on the applet's main
// thread, opens the tray menu as the shell's right click does, and reads back
// each popup the applet showed.
//   MenuSpy::notify        - a tray notification, as the shell posts it
//   MenuSpy::sync          - waits until the applet has handled everything posted
//   MenuSpy::openTrayMenu  - right click, read the popup, close it with Escape
//   DescribeMenu           - a popup as lines: "32784 Switch All [default]", "----"
//   ReadMenuItems          - a menu of this process as MenuItems
#pragma once

#include "MenuSpyFormat.h"

#include <optional>
#include <string>
#include <vector>

struct MenuItem {
    UINT id = 0;
    bool separator = false;
    bool grayed = false;
    bool isDefault = false;
    std::wstring text;
};
using MenuItems = std::vector<MenuItem>;

// One line per item, in UTF-8 for readable test output: a separator is "----",
// an item its identifier and text, with "[grey]" and "[default]" as they apply.
std::vector<std::string> DescribeMenu(const MenuItems &items);
// The items of a menu of this process.
MenuItems ReadMenuItems(HMENU menu);
std::string Utf8(const std::wstring &text);

class MenuSpy {
public:
    explicit MenuSpy(HWND appletWindow);
    ~MenuSpy();
    MenuSpy(const MenuSpy &) = delete;
    MenuSpy &operator=(const MenuSpy &) = delete;

    bool installed() const { return callWndHook_ != nullptr && getMessageHook_ != nullptr; }

    void notify(WPARAM iconId, LPARAM mouseMessage);
    // Posts a marker behind everything posted so far and pumps until the applet
    // retrieves it: every earlier message has then been handled.
    bool sync(DWORD timeoutMs = 10000);
    // Right click on icon 1; the popup as shown, or nothing when none opened.
    std::optional<MenuItems> openTrayMenu();
    // Closes an open popup with Escape and waits for the menu loop to end.
    bool closeMenu(DWORD timeoutMs = 10000);

    // Every popup shown since the spy was installed.
    const std::vector<MenuItems> &menusShown() const { return shown_; }

private:
    static LRESULT CALLBACK ReceiverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND popupWindow() const;

    HWND applet_;
    DWORD appletProcess_ = 0;
    HMODULE spyLibrary_ = nullptr;
    HHOOK callWndHook_ = nullptr;
    HHOOK getMessageHook_ = nullptr;
    HWND receiver_ = nullptr;
    UINT markerMessage_ = 0;
    DWORD markersPosted_ = 0;
    DWORD lastMarkerSeen_ = 0;
    size_t menusClosed_ = 0;
    std::vector<MenuItems> shown_;
};
